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

// The folder of the running program (C:\scourix-bin in the test prefixes).
inline std::string OwnFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string s(path, length < sizeof path ? length : 0);
  return s.substr(0, s.find_last_of('\\'));
}

// A whole file; empty when it cannot be read.
inline samples::Bytes ReadBytes(const std::string& path) {
  samples::Bytes bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  const DWORD size = GetFileSize(file, nullptr);
  DWORD got = 0;
  if (size != INVALID_FILE_SIZE) {
    bytes.resize(size);
    if (!ReadFile(file, bytes.data(), size, &got, nullptr) || got != size) bytes.clear();
  }
  CloseHandle(file);
  return bytes;
}
