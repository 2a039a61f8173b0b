#include "record/record.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "engine/text.h"
#include "record/sha256.h"

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

namespace {

constexpr size_t kLongestStem = 200;
constexpr size_t kCleanedPart = 40;

bool IsDeviceName(const std::string& name) {
  // The device names hold for any extension: CON.json is the console too.
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '0' && base[3] <= '9';
}

bool UsableByte(unsigned char c) { return c > 0x20 && c < 0x7F && std::strchr("\\/:*?\"<>|", c) == nullptr; }

}  // namespace

std::string RecordFileStem(const std::string& computer) {
  const bool usable = !computer.empty() && computer.size() <= kLongestStem && computer.back() != '.' &&
                      std::all_of(computer.begin(), computer.end(), [](char c) { return UsableByte(static_cast<unsigned char>(c)); }) &&
                      !IsDeviceName(computer);
  if (usable) return computer;
  std::string cleaned;
  for (const char c : computer.substr(0, kCleanedPart)) cleaned += UsableByte(static_cast<unsigned char>(c)) ? c : '_';
  return (cleaned.empty() ? std::string("unknown") : cleaned) + "-" + Sha256Hex(computer).substr(0, 8);
}

void TakeScanResults(ScanRecord& record, const ScanOutcome& outcome, int scanned, int infected, int deleted) {
  record.filesScanned = scanned;
  record.filesInfected = infected;
  record.filesDeleted = deleted;
  record.filesQueued = outcome.Count(FileFate::Queued);
  record.registryRepaired = outcome.registryRepaired;
  record.servicesRemoved = outcome.servicesRemoved;
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
  Field(json, "servicesRemoved", std::to_string(r.servicesRemoved));
  Field(json, "reportOnly", r.reportOnly ? "true" : "false");
  std::string lines = "[";
  // Escaped as in the log, so that a reader printing them shows one result
  // a line (escaping twice changes nothing: a record read back is the same).
  for (size_t i = 0; i < r.lines.size(); ++i) {
    lines += (i == 0 ? "\n    " : ",\n    ") + JsonString(EscapeControlBytes(r.lines[i]));
  }
  lines += r.lines.empty() ? "]" : "\n  ]";
  Field(json, "lines", lines, true);
  return json + "}\n";
}

namespace {

constexpr int kDeepest = 16;
constexpr size_t kMostLines = 100000;

// A JSON reader over one text, for the record's shape: an object of
// strings, integers, booleans and an array of strings. Other values are
// read and passed over.
class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  bool Fail(const char* what) {
    if (error_.empty()) error_ = std::string(what) + " at byte " + std::to_string(at_);
    return false;
  }
  const std::string& Error() const { return error_; }

  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    Blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool AtEnd() {
    Blanks();
    return at_ == text_.size();
  }
  char Peek() {
    Blanks();
    return at_ < text_.size() ? text_[at_] : '\0';
  }

  bool String(std::string& out) {
    out.clear();
    if (!Take('"')) return Fail("a string was expected");
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return Fail("a control character in a string");
      if (c >= 0x80) {
        // Bytes that are not UTF-8 become U+FFFD: what is read is text.
        const size_t length = Utf8SequenceLength(text_, at_ - 1);
        out += length > 0 ? text_.substr(at_ - 1, length) : std::string("\xEF\xBF\xBD");
        if (length > 0) at_ += length - 1;
        continue;
      }
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ >= text_.size()) break;
      const char e = text_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code <= 0xDBFF && at_ + 1 < text_.size() && text_[at_] == '\\' && text_[at_ + 1] == 'u') {
            const size_t back = at_;
            at_ += 2;
            unsigned low = 0;
            if (!Hex4(low)) return false;
            if (low >= 0xDC00 && low <= 0xDFFF) {
              code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else {
              at_ = back;  // a lone high surrogate; the next escape stands alone
            }
          }
          if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
          AppendUtf8(out, code);
          break;
        }
        default:
          return Fail("an unknown escape in a string");
      }
    }
    return Fail("a string was not closed");
  }

  bool Integer(long long& value) {
    Blanks();
    const bool negative = at_ < text_.size() && text_[at_] == '-';
    if (negative) ++at_;
    const size_t start = at_;
    value = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      if (at_ - start >= 10) return Fail("a number too long");
      value = value * 10 + (text_[at_++] - '0');
    }
    if (at_ == start) return Fail("a number was expected");
    if (at_ < text_.size() && (text_[at_] == '.' || text_[at_] == 'e' || text_[at_] == 'E')) {
      return Fail("a whole number was expected");
    }
    if (negative) value = -value;
    return true;
  }

  bool Literal(const char* word) {
    Blanks();
    const size_t length = std::char_traits<char>::length(word);
    if (text_.compare(at_, length, word) != 0) return Fail("a value was expected");
    at_ += length;
    return true;
  }

  // Any value, passed over.
  bool Skip(int depth) {
    if (depth > kDeepest) return Fail("nested too deep");
    const char c = Peek();
    std::string ignored;
    if (c == '"') return String(ignored);
    if (c == 't') return Literal("true");
    if (c == 'f') return Literal("false");
    if (c == 'n') return Literal("null");
    if (c == '-' || (c >= '0' && c <= '9')) {
      // Any number, where the record has no field.
      const size_t start = at_;
      while (at_ < text_.size() && text_[at_] != '\0' && std::strchr("0123456789.eE+-", text_[at_]) != nullptr) ++at_;
      return text_.find_first_of("0123456789", start) < at_ || Fail("a number was expected");
    }
    if (Take('[')) {
      if (Take(']')) return true;
      do {
        if (!Skip(depth + 1)) return false;
      } while (Take(','));
      return Take(']') || Fail("an array was not closed");
    }
    if (Take('{')) {
      if (Take('}')) return true;
      do {
        if (!String(ignored) || !(Take(':') || Fail("':' was expected")) || !Skip(depth + 1)) return false;
      } while (Take(','));
      return Take('}') || Fail("an object was not closed");
    }
    return Fail("a value was expected");
  }

 private:
  bool Hex4(unsigned& code) {
    if (at_ + 4 > text_.size()) return Fail("a \\u escape was cut short");
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[at_++];
      const int digit = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
      if (digit < 0) return Fail("a \\u escape is not hexadecimal");
      code = code << 4 | static_cast<unsigned>(digit);
    }
    return true;
  }
  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  const std::string& text_;
  size_t at_ = 0;
  std::string error_;
};

bool IntField(JsonReader& in, int& field) {
  long long value = 0;
  if (!in.Integer(value)) return false;
  if (value < -2147483647LL || value > 2147483647LL) return in.Fail("a number out of range");
  field = static_cast<int>(value);
  return true;
}

bool BoolField(JsonReader& in, bool& field) {
  field = in.Peek() == 't';
  return field ? in.Literal("true") : in.Literal("false");
}

}  // namespace

bool ParseRecordJson(const std::string& text, ScanRecord& record, std::string& error, LineBudget* budget) {
  record = ScanRecord{};
  JsonReader in(text);
  // A second "exitStatus" would overrule the first for one reader and not
  // for another: a record that says two things says nothing.
  std::set<std::string> keys;
  size_t keptBytes = 0;
  bool computer = false, status = false;
  const auto fail = [&] {
    error = in.Error().empty() ? "malformed" : in.Error();
    return false;
  };
  if (!in.Take('{')) return in.Fail("an object was expected"), fail();
  if (!in.Take('}')) {
    do {
      std::string key;
      if (!in.String(key) || !(in.Take(':') || in.Fail("':' was expected"))) return fail();
      if (!keys.insert(key).second) return in.Fail("a key appears twice"), fail();
      bool ok = true;
      if (key == "computer") {
        ok = in.String(record.computer);
        computer = ok && !record.computer.empty();
      } else if (key == "windows") {
        ok = in.String(record.windows);
      } else if (key == "started") {
        ok = in.String(record.started);
      } else if (key == "ended") {
        ok = in.String(record.ended);
      } else if (key == "program") {
        ok = in.String(record.program);
      } else if (key == "exitStatus") {
        ok = status = IntField(in, record.exitStatus);
      } else if (key == "filesScanned") {
        ok = IntField(in, record.filesScanned);
      } else if (key == "filesInfected") {
        ok = IntField(in, record.filesInfected);
      } else if (key == "filesDeleted") {
        ok = IntField(in, record.filesDeleted);
      } else if (key == "filesQueued") {
        ok = IntField(in, record.filesQueued);
      } else if (key == "registryRepaired") {
        ok = BoolField(in, record.registryRepaired);
      } else if (key == "servicesRemoved") {
        ok = IntField(in, record.servicesRemoved);
      } else if (key == "reportOnly") {
        ok = BoolField(in, record.reportOnly);
      } else if (key == "lines") {
        size_t lines = 0;
        ok = in.Take('[') || in.Fail("an array was expected");
        if (ok && !in.Take(']')) {
          do {
            std::string line;
            ok = ++lines <= kMostLines ? in.String(line) : in.Fail("too many lines");
            if (!ok) break;
            // What a kept line costs in memory, not only its text.
            const size_t cost = line.size() + sizeof line;
            if (budget != nullptr && (budget->leftOut > 0 || cost > budget->bytes - keptBytes)) {
              ++budget->leftOut;
              continue;
            }
            keptBytes += cost;
            record.lines.push_back(std::move(line));
          } while (in.Take(','));
          ok = ok && (in.Take(']') || in.Fail("an array was not closed"));
        }
      } else {
        ok = in.Skip(1);
      }
      if (!ok) return fail();
    } while (in.Take(','));
    if (!in.Take('}')) return in.Fail("an object was not closed"), fail();
  }
  if (!in.AtEnd()) return in.Fail("text after the record"), fail();
  if (!computer || !status) {
    error = "the record lacks the computer's name or the exit status";
    return false;
  }
  return true;
}
