#include "cleaning/system_restart.h"

#include <windows.h>

#include "win32/handle.h"

int GetOsClass() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;  // 148
  if (!GetVersionExA(&version)) return kOsUnknown;
  switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS: return kOsWindows9x;
    case VER_PLATFORM_WIN32_NT: return kOsWindowsNt;
    default: return kOsOther;
  }
}

void RestartWindows() {
  constexpr UINT kRebootForced = EWX_REBOOT | EWX_FORCE;
  if (GetOsClass() == kOsWindows9x) {
    ExitWindowsEx(kRebootForced, 0);
    return;
  }
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &rawToken)) return;
  const KernelHandle token(rawToken);
  TOKEN_PRIVILEGES privileges{};
  if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Succeeds even when the privilege is not held; only the last error tells.
  AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
  if (GetLastError() != ERROR_SUCCESS) return;
  ExitWindowsEx(kRebootForced, 0);
}
