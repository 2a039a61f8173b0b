#include "win32/registry.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "win32/handle.h"

namespace {

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

HKEY RootHandle(RegistryRoot root) { return root == RegistryRoot::Users ? HKEY_USERS : HKEY_LOCAL_MACHINE; }

// Opens the key (never creating it), runs operation on it and closes it:
// 1 only when all three succeeded. A failed operation still closes the key.
template <class Operation>
int WithKey(RegistryRoot root, const char* path, REGSAM access, Operation operation) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(RootHandle(root), path, 0, access, &opened) != ERROR_SUCCESS) return 0;
  RegistryKey key(opened);
  const bool done = operation(key.Get());
  const bool closed = key.Reset();
  return done && closed ? 1 : 0;
}

}  // namespace

int Win32Registry::QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) {
  return WithKey(root, path, KEY_READ, [&](HKEY key) {
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
  return WithKey(root, path, KEY_ALL_ACCESS, [&](HKEY key) {
    DWORD size = static_cast<DWORD>(std::min(capacity, kSubKeyNameCapacity));
    return size > 0 && RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  });
}

int Win32Registry::DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) {
  return WithKey(root, path, KEY_ALL_ACCESS,
                 [&](HKEY key) { return RegDeleteValueA(key, valueName) == ERROR_SUCCESS; });
}

int Win32Registry::ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                                size_t capacity) {
  return WithKey(root, path, KEY_READ, [&](HKEY key) {
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
  return WithKey(root, path, KEY_ALL_ACCESS, [&](HKEY key) {
    const DWORD size = static_cast<DWORD>(std::strlen(text));  // without the terminating zero
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) == ERROR_SUCCESS;
  });
}

RegistryAccess& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

bool ReadMachineValueBytes(const char* path, const char* name, size_t limit, std::vector<uint8_t>& data) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  const RegistryKey key(opened);
  DWORD size = 0;
  if (RegQueryValueExA(key.Get(), name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0 ||
      size > limit) {
    return false;
  }
  data.assign(size, 0);
  const bool ok = RegQueryValueExA(key.Get(), name, nullptr, nullptr, data.data(), &size) == ERROR_SUCCESS;
  data.resize(ok ? size : 0);
  return ok;
}

bool ReadPerformanceData(const char* objectIndex, size_t initial, size_t grow, size_t limit,
                         std::vector<uint8_t>& data) {
  LONG status = ERROR_MORE_DATA;
  for (size_t capacity = initial; status == ERROR_MORE_DATA && capacity <= limit; capacity += grow) {
    data.assign(capacity, 0);
    DWORD size = static_cast<DWORD>(capacity);
    status = RegQueryValueExA(HKEY_PERFORMANCE_DATA, objectIndex, nullptr, nullptr, data.data(), &size);
    if (status == ERROR_SUCCESS) data.resize(size);
  }
  // The performance data stays open until closed: the system's collectors
  // hold it.
  RegCloseKey(HKEY_PERFORMANCE_DATA);
  return status == ERROR_SUCCESS;
}

namespace {

using QueryValueW = LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);

std::string Utf8FromUtf16(const wchar_t* text, size_t length) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &utf8[0], size, nullptr, nullptr);
  return utf8;
}

std::wstring Utf16(const char* text, UINT codePage) {
  const int size = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, text, -1, &wide[0], size);
  wide.resize(static_cast<size_t>(size - 1));
  return wide;
}

}  // namespace

bool ReadMachineText(const char* path, const char* name, size_t limit, std::string& utf8) {
  utf8.clear();
  const HMODULE advapi = GetModuleHandleA("advapi32.dll");
  const auto queryW =
      advapi != nullptr ? reinterpret_cast<QueryValueW>(reinterpret_cast<void*>(GetProcAddress(advapi, "RegQueryValueExW")))
                         : nullptr;
  const int read = WithKey(RegistryRoot::LocalMachine, path, KEY_READ, [&](HKEY key) {
    if (queryW != nullptr) {
      const std::wstring wideName = Utf16(name, CP_ACP);
      std::vector<wchar_t> text(limit / sizeof(wchar_t) + 1, L'\0');
      DWORD type = 0, size = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
      const LONG status = queryW(key, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
      // Windows 98 exports the function but answers that it is not there.
      if (status != ERROR_CALL_NOT_IMPLEMENTED) {
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
        size_t length = size / sizeof(wchar_t);
        while (length > 0 && text[length - 1] == L'\0') --length;
        utf8 = Utf8FromUtf16(text.data(), length);
        return true;
      }
    }
    std::vector<char> text(limit + 1, '\0');
    DWORD type = 0, size = static_cast<DWORD>(limit);
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
      return false;
    }
    const std::wstring wide = Utf16(std::string(text.data(), std::min<size_t>(size, limit)).c_str(), CP_ACP);
    utf8 = Utf8FromUtf16(wide.c_str(), wide.size());
    return true;
  });
  return read == 1 && !utf8.empty();
}
