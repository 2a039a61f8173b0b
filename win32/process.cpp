#include "win32/process.h"

#include <psapi.h>

KernelHandle OpenProcessHandle(DWORD access, DWORD pid) { return KernelHandle(OpenProcess(access, FALSE, pid)); }

ToolhelpSnapshot::ToolhelpSnapshot(DWORD pauseMs) : kernel_(LoadLibraryA("Kernel32.dll")) {
  if (!kernel_) return;
  Sleep(pauseMs);
  using Snapshot = decltype(&CreateToolhelp32Snapshot);
  const auto create = reinterpret_cast<Snapshot>(
      reinterpret_cast<void*>(GetProcAddress(kernel_.Get(), "CreateToolhelp32Snapshot")));
  first_ = reinterpret_cast<decltype(first_)>(reinterpret_cast<void*>(GetProcAddress(kernel_.Get(), "Process32First")));
  next_ = reinterpret_cast<decltype(next_)>(reinterpret_cast<void*>(GetProcAddress(kernel_.Get(), "Process32Next")));
  if (create == nullptr || first_ == nullptr || next_ == nullptr) return;
  const HANDLE snapshot = create(TH32CS_SNAPPROCESS, 0);
  if (snapshot != INVALID_HANDLE_VALUE) snapshot_.Reset(snapshot);
  Sleep(pauseMs);
}

bool ToolhelpSnapshot::Next(PROCESSENTRY32& entry) {
  if (!Ok()) return false;
  entry = PROCESSENTRY32{};
  entry.dwSize = sizeof entry;
  const bool got = started_ ? next_(snapshot_.Get(), &entry) != FALSE : first_(snapshot_.Get(), &entry) != FALSE;
  started_ = true;
  entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
  return got;
}

std::vector<ProcessEntry> ListProcessesPsapi() {
  std::vector<ProcessEntry> processes;
  const Library psapi(LoadLibraryA("psapi.dll"));
  if (!psapi) return processes;
  using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
  using ModuleFileNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
  const auto enumProcesses = reinterpret_cast<EnumProcessesFn>(
      reinterpret_cast<void*>(GetProcAddress(psapi.Get(), "EnumProcesses")));
  const auto moduleFileName = reinterpret_cast<ModuleFileNameFn>(
      reinterpret_cast<void*>(GetProcAddress(psapi.Get(), "GetModuleFileNameExA")));
  if (enumProcesses == nullptr || moduleFileName == nullptr) return processes;

  DWORD ids[1024] = {};
  DWORD bytes = 0;
  if (!enumProcesses(ids, sizeof ids, &bytes)) return processes;
  const DWORD count = bytes / sizeof ids[0];
  for (DWORD i = 0; i < count && i < 1024; ++i) {
    const KernelHandle process = OpenProcessHandle(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, ids[i]);
    if (!process) continue;
    char path[MAX_PATH] = {};
    const DWORD length = moduleFileName(process.Get(), nullptr, path, sizeof path);
    if (length > 0 && length < sizeof path) processes.push_back({ids[i], path});
  }
  return processes;
}

bool ProcessImagePath(HANDLE process, char* path, DWORD capacity) {
  const Library psapi(LoadLibraryA("psapi.dll"));
  if (!psapi || capacity == 0) return false;
  using ModuleFileNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
  const auto moduleFileName = reinterpret_cast<ModuleFileNameFn>(
      reinterpret_cast<void*>(GetProcAddress(psapi.Get(), "GetModuleFileNameExA")));
  if (moduleFileName == nullptr) return false;
  const DWORD length = moduleFileName(process, nullptr, path, capacity);
  return length > 0 && length < capacity;
}

namespace {
BOOL CALLBACK PostCloseIfOwned(HWND window, LPARAM pid) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(pid)) PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}
}  // namespace

void PostCloseToWindowsOf(DWORD pid) { EnumWindows(PostCloseIfOwned, static_cast<LPARAM>(pid)); }

bool EnablePrivilege(const char* name) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return false;
  const KernelHandle token(raw);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) return false;
  // Succeeds even when the privilege is not held; only the last error tells.
  SetLastError(ERROR_SUCCESS);
  return AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) &&
         GetLastError() == ERROR_SUCCESS;
}
