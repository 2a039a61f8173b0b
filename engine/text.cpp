#include "engine/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  }
  return *a == *b;
}

bool CopyText(char* dst, size_t capacity, const char* src) {
  if (capacity == 0) return false;
  const size_t length = std::strlen(src);
  const size_t kept = length < capacity ? length : capacity - 1;
  std::memmove(dst, src, kept);
  dst[kept] = '\0';
  return kept == length;
}

void FormatTextV(char* dst, size_t capacity, const char* format, va_list args) {
  if (capacity == 0) return;
  const int written = std::vsnprintf(dst, capacity, format, args);
  // Older C runtimes leave the buffer unterminated when the text is cut.
  if (written < 0 || static_cast<size_t>(written) >= capacity) dst[capacity - 1] = '\0';
}

std::string FormatTextV(const char* format, va_list args) {
  // Older C runtimes (Windows 98's msvcrt) answer -1 instead of the length
  // when the text does not fit: the buffer then grows until it does, up to a
  // bound, and what fits of a longer text is kept.
  constexpr size_t kLongest = 1 << 20;
  std::string text(512, '\0');
  for (;;) {
    va_list attempt;
    va_copy(attempt, args);
    const int length = std::vsnprintf(&text[0], text.size(), format, attempt);
    va_end(attempt);
    if (length >= 0 && static_cast<size_t>(length) < text.size()) {
      text.resize(static_cast<size_t>(length));
      return text;
    }
    if (text.size() >= kLongest) {
      text.resize(std::strlen(text.c_str()));
      return text;
    }
    text.assign(length > 0 ? std::min(static_cast<size_t>(length) + 1, kLongest) : text.size() * 2, '\0');
  }
}

namespace {

// Length of the UTF-8 sequence at text[at] that is valid and not a C1
// control character, or 0.
size_t PrintableSequence(const std::string& text, size_t at) {
  unsigned code = 0;
  const size_t length = Utf8SequenceLength(text, at, &code);
  return code > 0x9F ? length : 0;
}

}  // namespace

namespace {

void AppendEscape(std::string& out, unsigned char c) {
  char escape[5];
  std::snprintf(escape, sizeof escape, c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\x%02x", c);
  out += escape;
}

std::string Escape(const std::string& text, bool utf8) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c >= 0x20 && c < 0x7F) || c == '\t' || (c >= 0x80 && !utf8)) {
      out.push_back(static_cast<char>(c));
      ++i;
    } else if (const size_t length = c >= 0x80 ? PrintableSequence(text, i) : 0) {
      out.append(text, i, length);
      i += length;
    } else {
      AppendEscape(out, c);
      ++i;
    }
  }
  return out;
}

}  // namespace

size_t Utf8SequenceLength(const std::string& text, size_t at, unsigned* code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  if (at >= text.size()) return 0;
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(at + i) & 0x3Fu);
  }
  const unsigned smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < smallest[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  if (code != nullptr) *code = value;
  return length;
}

std::string EscapeControlBytes(const std::string& text) { return Escape(text, false); }

std::string EscapeForUtf8Terminal(const std::string& text) { return Escape(text, true); }

void ShortenPath(const char* src, char* dst, size_t dstSize, int maxLen) {
  if (dstSize == 0) return;
  const size_t length = std::strlen(src);
  const int half = maxLen / 2 - 1;
  if (half <= 0 || length <= static_cast<size_t>(maxLen) || static_cast<size_t>(maxLen) >= dstSize) {
    CopyText(dst, dstSize, src);
    return;
  }
  const size_t head = static_cast<size_t>(half);
  const size_t dots = static_cast<size_t>(maxLen) - 2 * head;
  std::memcpy(dst, src, head);
  std::memset(dst + head, '.', dots);
  std::memcpy(dst + head + dots, src + length - head, head);
  dst[maxLen] = '\0';
}

namespace {

// Joins the first prefixLength characters of pattern with up to two suffixes.
PathBuild Join(const char* pattern, size_t prefixLength, const char* middle, const char* tail,
               char* out, size_t outSize) {
  const size_t middleLength = std::strlen(middle);
  const size_t tailLength = std::strlen(tail);
  if (prefixLength + middleLength + tailLength >= outSize) return PathBuild::TooLong;
  std::memmove(out, pattern, prefixLength);
  std::memcpy(out + prefixLength, middle, middleLength);
  std::memcpy(out + prefixLength + middleLength, tail, tailLength);
  out[prefixLength + middleLength + tailLength] = '\0';
  return PathBuild::Ok;
}

// Length of the folder part of a pattern: up to the character in front of its
// last '.'. Returns false when the pattern has no '.'.
bool FolderLength(const char* pattern, size_t* length) {
  const char* dot = std::strrchr(pattern, '.');
  if (dot == nullptr) return false;
  const size_t at = static_cast<size_t>(dot - pattern);
  *length = at == 0 ? 0 : at - 1;
  return true;
}

}  // namespace

PathBuild BuildEntryPath(const char* pattern, const char* name, char* out, size_t outSize) {
  size_t folder = 0;
  if (!FolderLength(pattern, &folder)) return PathBuild::NoDot;
  return Join(pattern, folder, name, "", out, outSize);
}

PathBuild BuildSubfolderPattern(const char* pattern, char* out, size_t outSize) {
  const char* dot = std::strrchr(pattern, '.');
  if (dot == nullptr) return PathBuild::NoDot;
  return Join(pattern, static_cast<size_t>(dot - pattern) + 1, "*", "", out, outSize);
}

PathBuild BuildNextPattern(const char* pattern, const char* folder, char* out, size_t outSize) {
  size_t prefix = 0;
  if (!FolderLength(pattern, &prefix)) return PathBuild::NoDot;
  return Join(pattern, prefix, folder, "\\*.*", out, outSize);
}
