// The registry on ADVAPI32: keys with RAII, and the reads the program makes
// outside the repair's access layer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "win32/handle.h"

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

// Opens root\path (never creating it), runs operation on the key and closes
// it: 1 only when all three succeeded. A failed operation still closes it.
template <class Operation>
int WithRegistryKey(HKEY root, const char* path, REGSAM access, Operation operation) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, path, 0, access, &opened) != ERROR_SUCCESS) return 0;
  RegistryKey key(opened);
  const bool done = operation(key.Get());
  const bool closed = key.Reset();
  return done && closed ? 1 : 0;
}

// The raw data of HKEY_LOCAL_MACHINE\path's value name, whole; false when it
// is missing, unreadable, empty or larger than limit bytes.
bool ReadMachineValueBytes(const char* path, const char* name, size_t limit, std::vector<uint8_t>& data);

// HKEY_LOCAL_MACHINE\path's text value name in UTF-8, as the system keeps it:
// read in UTF-16 where the system has that (the NT family; the function is
// looked up at run time, as Windows 95 has none), else in the ANSI code page.
// False when it is missing, not text, empty or over limit bytes.
bool ReadMachineText(const char* path, const char* name, size_t limit, std::string& utf8);

// One object's block of HKEY_PERFORMANCE_DATA (objectIndex: its counter
// number as text). The buffer starts at initial bytes and grows by grow
// while the system asks for more, up to limit.
bool ReadPerformanceData(const char* objectIndex, size_t initial, size_t grow, size_t limit,
                         std::vector<uint8_t>& data);
