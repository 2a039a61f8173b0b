// The operating-system class the cleaners branch on, and the restart of
// Windows the user may accept at the end of a scan.
#pragma once

enum OsClass : int {
  kOsUnknown = 0,      // the version could not be read
  kOsOther = 1,        // any other platform
  kOsWindows9x = 4,    // Windows 95/98/Me
  kOsWindowsNt = 5,    // NT 4.0, 2000, XP and later
};

// Read afresh on every call.
int GetOsClass();

// Restarts the computer, with the shutdown privilege on the NT family. A
// restart that cannot be made is silent: the program goes on. True when
// Windows accepted the restart (which may end the program before it returns).
bool RestartWindows();

// The system calls of the restart, replaceable for tests (a token without
// the shutdown privilege cannot be made any other way).
struct RestartCalls {
  int (*osClass)();
  int (*exitWindows)(unsigned flags, unsigned long reserved);
  int (*openProcessToken)(void* process, unsigned long access, void** token);
  int (*lookupShutdownPrivilege)(void* luid);
  int (*adjustTokenPrivileges)(void* token, void* privileges);  // leaves its result in the last error
};
const RestartCalls& SystemRestartCalls();
bool RestartWindows(const RestartCalls& calls);
