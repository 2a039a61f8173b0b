#include "engine/remedy.h"

#include <windows.h>

#include <string>
#include <vector>

#include "cleaning/owner_search.h"
#include "cleaning/system_restart.h"
#include "engine/result_lines.h"
#include "engine/scan_outcome.h"
#include "engine/scan_state.h"
#include "engine/text.h"
#include "engine/wininit.h"
#include "win32/file.h"

namespace {

std::vector<std::string> filesReported;  // report only

constexpr DWORD kMemoryRemedyPauseMs = 1000;
constexpr size_t kWininitLimit = 1024 * 1024;

void ReportDeleted(const char* path, const char* name) {
  ++scanState.filesDeleted;
  ReportFileDeleted(path, name);
}

// Windows 9x: one more "nul=" line in the Windows directory's Wininit.ini.
int QueueInWininit(const char* path) {
  char windows[kPathCapacity] = {};
  const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
  if (length == 0 || length >= sizeof windows) return 0;
  char shortPath[kPathCapacity] = {};
  const DWORD shortLength = GetShortPathNameA(path, shortPath, sizeof shortPath);
  if (shortLength == 0 || shortLength >= sizeof shortPath) return 0;
  const std::string folder = windows[length - 1] == '\\' ? windows : std::string(windows) + "\\";
  const std::string ini = folder + "Wininit.ini";
  RecoverInterruptedReplacement(ini.c_str(), folder + "WININIT");
  // Windows 9x caches profile files: write out what other programs left there.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini.c_str());
  std::string text;
  if (!ReadSmallFile(ini.c_str(), kWininitLimit, text)) return 0;
  return ReplaceFileContents(ini.c_str(), folder + "WININIT", AddWininitDeletion(text, shortPath)) ? 1 : 0;
}

}  // namespace

void DecideRemedy(const char* virusName, const char* path) {
  CopyText(scanState.currentVirusName, sizeof scanState.currentVirusName, virusName);
  CopyText(scanState.currentObject, sizeof scanState.currentObject, path);
  scanState.currentAction = kRemedyDisinfect;
}

void CarryOutRemedy(const char* name, const char* path) {
  if (scanState.currentAction != kRemedyDisinfect) return;
  if (scanState.reportOnly) {
    ReportFoundOnly(name, path);
    return;
  }
  // Read-only, hidden and system files could not be deleted otherwise.
  if (!SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE)) {
    ReportFileDeleteFailed(scanState.currentObject, scanState.currentVirusName);
    return;
  }
  if (DeleteFileA(path)) {
    ReportDeleted(path, name);
    return;
  }
  if (TerminateFileOwner(path)) {
    if (DeleteFileA(path)) {
      ReportDeleted(path, name);
    } else {
      ReportFileDeleteFailed(path, name);
    }
    return;
  }
  ReportFileDeleteFailed(path, name);
  // Once any file waits for the restart, the question must come: a later
  // file whose queueing failed does not take it away.
  if (QueueRemovalAtRestart(path)) {
    scanState.restartNeeded = 1;
    scanOutcome.MarkQueued(path);
  }
}

void RemedyMemoryFile(const char* name, const char* path) {
  scanState.currentAction = scanState.memoryRemedyAction;
  ReportMemoryRemoved(kVirusName);
  Sleep(kMemoryRemedyPauseMs);
  CarryOutRemedy(name, path);
}

void ReportFoundOnly(const char* name, const char* path) {
  if (ReportedBefore(path)) return;
  filesReported.push_back(path);
  ReportFileFound(path, name);
}

bool ReportedBefore(const char* path) {
  for (const std::string& reported : filesReported) {
    if (EqualsIgnoringCase(reported.c_str(), path)) return true;
  }
  return false;
}

int QueueRemovalAtRestart(const char* path) {
  switch (GetOsClass()) {
    case kOsWindows9x:
      return QueueInWininit(path);
    case kOsWindowsNt:
      // The real outcome: a failure reported as success would offer a
      // restart that removes nothing.
      return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
    default:
      return 0;
  }
}
