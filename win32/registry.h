// The registry access layer on ADVAPI32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cleaning/registry_access.h"

class Win32Registry final : public RegistryAccess {
 public:
  int QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) override;
  int EnumSubKeyName(RegistryRoot root, const char* path, uint32_t index, char* name, size_t capacity) override;
  int DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) override;
  int ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                   size_t capacity) override;
  int DeleteRegKey(RegistryRoot root, const char* path) override;
  int WriteRegString(RegistryRoot root, const char* path, const char* valueName, const char* text) override;
};

// The registry of the running system.
RegistryAccess& SystemRegistry();

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
