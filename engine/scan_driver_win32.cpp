#include "engine/scan_driver.h"

#include <windows.h>

#include "cleaning/memory_scan.h"
#include "cleaning/registry_win32.h"
#include "cleaning/system_restart.h"
#include "engine/files_win32.h"
#include "engine/report.h"
#include "engine/result_log.h"
#include "engine/scan_state.h"
#include "engine/scan_targets.h"
#include "engine/walker.h"
#include "win32/file.h"

namespace {

constexpr char kRestartQuestion[] =
    "The system has to be restarted to remove the virus completely from your system. \n\n Restart now?";

// The Windows and temporary-files directories as the system reports them;
// null when it cannot say.
class SystemFolders {
 public:
  SystemFolders() {
    const UINT windowsLength = GetWindowsDirectoryA(windows_, sizeof windows_);
    const DWORD tempLength = GetTempPathA(sizeof temp_, temp_);
    windowsKnown_ = windowsLength > 0 && windowsLength < sizeof windows_;
    tempKnown_ = tempLength > 0 && tempLength < sizeof temp_;
  }
  const char* Windows() const { return windowsKnown_ ? windows_ : nullptr; }
  const char* Temp() const { return tempKnown_ ? temp_ : nullptr; }

 private:
  char windows_[kPathCapacity] = {};
  char temp_[kPathCapacity] = {};
  bool windowsKnown_ = false;
  bool tempKnown_ = false;
};

// Scourix.log in the Windows directory, else in the temporary-files
// directory. False when neither can be written: the scan then runs unlogged.
bool OpenLogFile(const SystemFolders& folders, AppendFile& file) {
  for (const char* folder : {folders.Windows(), folders.Temp()}) {
    char path[kPathCapacity];
    if (BuildLogPath(folder, path) && file.Open(path)) return true;
  }
  return false;
}

LogTime Now() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LogTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  return time;
}

}  // namespace

bool LookUpOnDisk(const char* path, PathFacts& facts) {
  DirectorySearch search(path);
  if (!search.Next()) return false;
  facts.folder = search.IsFolder();
  facts.reparsePoint = search.IsReparsePoint();
  facts.name = search.Entry().cFileName;
  return true;
}

bool RunScanWithoutQuestions(const char* logPath) {
  const SystemFolders folders;
  AppendFile logFile;
  // Report only changes nothing, the Windows directory's log included: it
  // writes a log only where one was asked for.
  const bool logged = logPath != nullptr ? logFile.Open(logPath) : !scanState.reportOnly && OpenLogFile(folders, logFile);
  if (logged) resultLog.Open(&logFile, scanState.productTitle, Now());
  if (scanState.reportOnly) ReportNothingChanged();
  ScanMemory();
  SystemFolderValues system;
  if (folders.Windows() != nullptr) ReadSystemFolders(SystemRegistry(), folders.Windows(), system);
  const ScanTargets targets = BuildScanTargets(folders.Windows(), folders.Temp(), system.folders, LookUpOnDisk);
  for (size_t i = 0; i < kScanTargetCount; ++i) {
    // A cancelled or failed walk does not stop the driver: later walks
    // return at their first check and the report still comes.
    if (targets.present[i]) WalkDirectory(targets.patterns[i]);
  }
  ReportStatistics();
  ReportFinalStatus();
  // Written before any restart: a restart ends the program.
  resultLog.Close();
  return logged || logPath == nullptr;
}

int RunScan() {
  RunScanWithoutQuestions(nullptr);
  if (scanState.restartNeeded != 0 &&
      MessageBoxA(nullptr, kRestartQuestion, scanState.caption, MB_YESNO) == IDYES) {
    RestartWindows();
  }
  return 1;
}
