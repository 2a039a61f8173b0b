#include "win32/registry.h"

#include <string>

#include "win32/unicode.h"

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

}  // namespace

bool ReadMachineText(const char* path, const char* name, size_t limit, std::string& utf8) {
  utf8.clear();
  const HMODULE advapi = GetModuleHandleA("advapi32.dll");
  const auto queryW =
      advapi != nullptr ? reinterpret_cast<QueryValueW>(reinterpret_cast<void*>(GetProcAddress(advapi, "RegQueryValueExW")))
                         : nullptr;
  const int read = WithRegistryKey(HKEY_LOCAL_MACHINE, path, KEY_READ, [&](HKEY key) {
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
        utf8 = Utf8(std::wstring(text.data(), length));
        return true;
      }
    }
    std::vector<char> text(limit + 1, '\0');
    DWORD type = 0, size = static_cast<DWORD>(limit);
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
      return false;
    }
    // Zero-filled past what was read: the text ends at its first zero.
    utf8 = Utf8FromAnsi(std::string(text.data()));
    return true;
  });
  return read == 1 && !utf8.empty();
}
