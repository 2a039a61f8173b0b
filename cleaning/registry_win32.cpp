#include "cleaning/registry_win32.h"

#include <algorithm>
#include <cstring>

#include "win32/registry.h"

namespace {

HKEY RootHandle(RegistryRoot root) { return root == RegistryRoot::Users ? HKEY_USERS : HKEY_LOCAL_MACHINE; }

}  // namespace

int Win32Registry::QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) {
  return WithRegistryKey(RootHandle(root), path, KEY_READ, [&](HKEY key) {
    DWORD keys = 0, count = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &count, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    *subKeys = keys;
    *values = count;
    return true;
  });
}

int Win32Registry::EnumSubKeyName(RegistryRoot root, const char* path, uint32_t index, char* name,
                                  size_t capacity) {
  return WithRegistryKey(RootHandle(root), path, KEY_ALL_ACCESS, [&](HKEY key) {
    DWORD size = static_cast<DWORD>(std::min(capacity, kSubKeyNameCapacity));
    return size > 0 && RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  });
}

int Win32Registry::DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) {
  return WithRegistryKey(RootHandle(root), path, KEY_ALL_ACCESS,
                 [&](HKEY key) { return RegDeleteValueA(key, valueName) == ERROR_SUCCESS; });
}

int Win32Registry::ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                                size_t capacity) {
  return WithRegistryKey(RootHandle(root), path, KEY_READ, [&](HKEY key) {
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return false;
    // The size asked for without a buffer may count a string in UTF-16 on the
    // NT family: offer the whole buffer, and let the registry say when the
    // data does not fit (a failed read, never an overrun).
    if (size > capacity) size = static_cast<DWORD>(capacity);
    if (RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
      return false;
    }
    return TerminateValueText(buffer, capacity, size);
  });
}

int Win32Registry::DeleteRegKey(RegistryRoot root, const char* path) {
  return RegDeleteKeyA(RootHandle(root), path) == ERROR_SUCCESS ? 1 : 0;
}

int Win32Registry::WriteRegString(RegistryRoot root, const char* path, const char* valueName, const char* text) {
  return WithRegistryKey(RootHandle(root), path, KEY_ALL_ACCESS, [&](HKEY key) {
    const DWORD size = static_cast<DWORD>(std::strlen(text));  // without the terminating zero
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) == ERROR_SUCCESS;
  });
}

RegistryAccess& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

