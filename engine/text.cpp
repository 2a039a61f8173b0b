#include "engine/text.h"

#include <cstdio>
#include <cstring>

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
