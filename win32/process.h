// Processes: handles, the toolhelp and psapi process lists (both loaded at
// run time: Windows 95 has no psapi, NT 4.0 no toolhelp), ending a process.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "win32/handle.h"

struct LibraryTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle h) { return FreeLibrary(h) != FALSE; }
};
using Library = UniqueHandle<LibraryTraits>;

// Opens a process; an invalid handle when it cannot be opened.
KernelHandle OpenProcessHandle(DWORD access, DWORD pid);

// One running process as a process list gives it.
struct ProcessEntry {
  DWORD pid;
  std::string path;  // the full path, or only the file name (toolhelp outside 9x)
};

// Toolhelp's process snapshot, from Kernel32.dll.
class ToolhelpSnapshot {
 public:
  // pauseMs: pause after loading the library and after taking the snapshot.
  explicit ToolhelpSnapshot(DWORD pauseMs = 0);
  bool Ok() const { return snapshot_.Valid(); }
  // The next entry (the first on the first call); false at the end.
  bool Next(PROCESSENTRY32& entry);

 private:
  Library kernel_;
  KernelHandle snapshot_;
  decltype(&Process32First) first_ = nullptr;
  decltype(&Process32Next) next_ = nullptr;
  bool started_ = false;
};

// psapi's process list: ids, then the main module's path of each process
// that can be opened. Empty when psapi is not there.
std::vector<ProcessEntry> ListProcessesPsapi();

// The full path of the process's program (psapi, NT family), into path.
// False when psapi is missing or the path cannot be read; the handle needs
// PROCESS_QUERY_INFORMATION | PROCESS_VM_READ.
bool ProcessImagePath(HANDLE process, char* path, DWORD capacity);

// Enables a privilege that this process's token holds (such as
// "SeRestorePrivilege"); false when it does not hold it or cannot say.
bool EnablePrivilege(const char* name);

// Posts WM_CLOSE to every top-level window of the process.
void PostCloseToWindowsOf(DWORD pid);
