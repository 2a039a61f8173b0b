// Seeding and reading the real registry in the Windows tests: the worm's
// entries as it leaves them, beside entries of the machine's own.
#pragma once

#include <windows.h>

#include <optional>
#include <cstring>
#include <string>

#include "tests/support/worm_registry.h"

namespace test_registry {

using worm_registry::kCommands;
using worm_registry::kWormProgram;
const std::string kExplorer = worm_registry::kExplorer;
const std::string kRun = worm_registry::kRun;
const std::string kPolicy = worm_registry::kPolicy;
constexpr char kUserHive[] = "S-1-5-21-0-0-0-1000";  // the prefix's user

struct Value {
  DWORD type;
  std::string data;  // up to the first zero
};

inline bool WriteRaw(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& data) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                     static_cast<DWORD>(data.size() + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

inline std::optional<Value> Read(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  char data[2048] = {};
  DWORD size = sizeof data - 1, type = 0;
  const LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return Value{type, std::string(data, strnlen(data, size))};
}

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The worm's configuration key, start-up entry, hijacked commands and
// disabled registry tools, with a start-up entry of another program beside.
inline void SeedWorm() {
  for (const char* name : worm_registry::kValueNames) WriteRaw(HKEY_LOCAL_MACHINE, kExplorer + "\\CacheBox", name, REG_SZ, "x");
  WriteRaw(HKEY_LOCAL_MACHINE, kExplorer + "\\CacheBox", "Install Item", REG_SZ, "Tcp32 Service");
  WriteRaw(HKEY_LOCAL_MACHINE, kRun, "Tcp32 Service", REG_SZ, std::string(kWormProgram) + " -startup");
  WriteRaw(HKEY_LOCAL_MACHINE, kRun, "Keep Me", REG_SZ, "C:\\windows\\notepad.exe");
  for (const worm_registry::CommandRow& row : kCommands) {
    WriteRaw(HKEY_LOCAL_MACHINE, row.key, nullptr, REG_SZ, std::string(kWormProgram) + " " + row.replacement);
  }
  const DWORD one = 1;
  for (const char* hive : {kUserHive, ".Default"}) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_USERS, (std::string(hive) + kPolicy).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, "DisableRegistryTools", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
      RegCloseKey(key);
    }
  }
}

}  // namespace test_registry
