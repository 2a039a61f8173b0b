#include "cli/record.h"

#include <cstdio>

#include "engine/text.h"

namespace {

void Field(std::string& json, const char* name, const std::string& value, bool last = false) {
  json += "  \"";
  json += name;
  json += "\": " + value + (last ? "\n" : ",\n");
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
      ++i;
    } else if (c < 0x80) {
      json += static_cast<char>(c);
      ++i;
    } else if (const size_t length = Utf8SequenceLength(text, i)) {
      json.append(text, i, length);
      i += length;
    } else {
      json += "\\ufffd";
      ++i;
    }
  }
  return json + "\"";
}

std::string RecordJson(const ScanRecord& r) {
  std::string json = "{\n";
  Field(json, "computer", JsonString(r.computer));
  Field(json, "windows", JsonString(r.windows));
  Field(json, "started", JsonString(r.started));
  Field(json, "ended", JsonString(r.ended));
  Field(json, "program", JsonString(r.program));
  Field(json, "exitStatus", std::to_string(r.exitStatus));
  Field(json, "filesScanned", std::to_string(r.filesScanned));
  Field(json, "filesInfected", std::to_string(r.filesInfected));
  Field(json, "filesDeleted", std::to_string(r.filesDeleted));
  Field(json, "filesQueued", std::to_string(r.filesQueued));
  Field(json, "registryRepaired", r.registryRepaired ? "true" : "false");
  std::string lines = "[";
  for (size_t i = 0; i < r.lines.size(); ++i) lines += (i == 0 ? "\n    " : ",\n    ") + JsonString(r.lines[i]);
  lines += r.lines.empty() ? "]" : "\n  ]";
  Field(json, "lines", lines, true);
  return json + "}\n";
}
