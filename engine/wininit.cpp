#include "engine/wininit.h"

#include <cctype>

namespace {

bool IsSectionHeader(const std::string& text, size_t lineStart, size_t lineEnd) {
  size_t i = lineStart;
  while (i < lineEnd && (text[i] == ' ' || text[i] == '\t')) ++i;
  return i < lineEnd && text[i] == '[';
}

bool IsRenameHeader(const std::string& text, size_t lineStart, size_t lineEnd) {
  static const char kHeader[] = "[rename]";
  size_t i = lineStart;
  while (i < lineEnd && (text[i] == ' ' || text[i] == '\t')) ++i;
  for (const char* h = kHeader; *h != '\0'; ++h, ++i) {
    if (i >= lineEnd || std::tolower(static_cast<unsigned char>(text[i])) != *h) return false;
  }
  return true;
}

}  // namespace

std::string AddWininitDeletion(const std::string& existing, const std::string& shortPath) {
  const std::string entry = "nul=" + shortPath + "\r\n";
  std::string text = existing;
  if (!text.empty() && text.back() != '\n') text += "\r\n";

  // Find the [rename] section and the end of its last line.
  bool inRename = false;
  size_t insertAt = std::string::npos;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (IsSectionHeader(text, start, end)) {
      if (inRename) break;  // the next section: insert before it
      inRename = IsRenameHeader(text, start, end);
    }
    if (inRename) insertAt = end;
    start = end;
  }
  if (insertAt == std::string::npos) return text + "[rename]\r\n" + entry;
  // Blank lines at the end of the section stay after the new entry.
  while (insertAt > 0) {
    size_t lineStart = text.rfind('\n', insertAt >= 2 ? insertAt - 2 : 0);
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    if (lineStart >= insertAt) break;
    const std::string line = text.substr(lineStart, insertAt - lineStart);
    if (line.find_first_not_of(" \t\r\n") != std::string::npos) break;
    insertAt = lineStart;
  }
  return text.insert(insertAt, entry);
}
