// Small file-system helpers for the Windows tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/samples/pe_sample.h"

// Creates every folder of path (like mkdir -p); returns false on failure.
inline bool MakeFolders(const std::string& path) {
  for (size_t at = path.find('\\', 3); ; at = path.find('\\', at + 1)) {
    const std::string part = path.substr(0, at);
    if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (at == std::string::npos) return true;
  }
}

inline bool WriteBytes(const std::string& path, const samples::Bytes& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return CloseHandle(file) && ok && written == bytes.size();
}

inline bool WriteText(const std::string& path, const std::string& text) {
  return WriteBytes(path, samples::Bytes(text.begin(), text.end()));
}

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
