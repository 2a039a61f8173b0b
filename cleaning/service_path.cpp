#include "cleaning/service_path.h"

#include <cctype>
#include <cstddef>
#include <cstring>

#include "engine/text.h"

namespace {

bool SameTextIgnoringCase(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

bool ServiceBinaryNamesFile(const char* binaryPath, const char* filePath) {
  const size_t fileLength = std::strlen(filePath);
  if (fileLength == 0) return false;
  const char* program = binaryPath;
  size_t programLength = 0;
  if (*program == '"') {
    ++program;
    const char* close = std::strchr(program, '"');
    if (close == nullptr) return false;
    programLength = static_cast<size_t>(close - program);
  } else {
    // Unquoted: the program ends at the end of the text or at a blank that
    // starts the arguments; a path with blanks is tried at its full length.
    programLength = std::strlen(program);
    if (programLength > fileLength && program[fileLength] == ' ') programLength = fileLength;
  }
  return programLength == fileLength && SameTextIgnoringCase(program, filePath, fileLength);
}

void ServiceNameOfFile(const char* filePath, char* name, size_t capacity) {
  const char* slash = std::strrchr(filePath, '\\');
  CopyText(name, capacity, slash != nullptr ? slash + 1 : filePath);
  char* dot = std::strrchr(name, '.');
  if (dot != nullptr) *dot = '\0';
}
