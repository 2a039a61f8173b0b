// The repair's registry access layer on the running system's registry.
#pragma once

#include <cstddef>
#include <cstdint>

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
