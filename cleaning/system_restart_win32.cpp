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

namespace {

int SystemExitWindows(unsigned flags, unsigned long reserved) { return ExitWindowsEx(flags, reserved); }
int SystemOpenProcessToken(void* process, unsigned long access, void** token) {
  return OpenProcessToken(static_cast<HANDLE>(process), access, reinterpret_cast<HANDLE*>(token));
}
int SystemLookupShutdownPrivilege(void* luid) {
  return LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", static_cast<LUID*>(luid));
}
int SystemAdjustTokenPrivileges(void* token, void* privileges) {
  return AdjustTokenPrivileges(static_cast<HANDLE>(token), FALSE, static_cast<TOKEN_PRIVILEGES*>(privileges), 0,
                               nullptr, nullptr);
}

}  // namespace

const RestartCalls& SystemRestartCalls() {
  static const RestartCalls calls = {GetOsClass, SystemExitWindows, SystemOpenProcessToken,
                                     SystemLookupShutdownPrivilege, SystemAdjustTokenPrivileges};
  return calls;
}

bool RestartWindows() { return RestartWindows(SystemRestartCalls()); }

bool RestartWindows(const RestartCalls& calls) {
  constexpr UINT kRebootForced = EWX_REBOOT | EWX_FORCE;
  if (calls.osClass() == kOsWindows9x) return calls.exitWindows(kRebootForced, 0) != 0;
  void* rawToken = nullptr;
  if (!calls.openProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &rawToken)) return false;
  const KernelHandle token(static_cast<HANDLE>(rawToken));
  TOKEN_PRIVILEGES privileges{};
  if (!calls.lookupShutdownPrivilege(&privileges.Privileges[0].Luid)) return false;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Succeeds even when the privilege is not held; only the last error tells.
  SetLastError(ERROR_SUCCESS);
  calls.adjustTokenPrivileges(token.Get(), &privileges);
  if (GetLastError() != ERROR_SUCCESS) return false;
  return calls.exitWindows(kRebootForced, 0) != 0;
}
