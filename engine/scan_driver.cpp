#include "engine/scan_driver.h"

#include <windows.h>

#include "cleaning/memory_scan.h"
#include "cleaning/system_restart.h"
#include "engine/report.h"
#include "engine/scan_state.h"
#include "engine/scan_targets.h"
#include "engine/walker.h"

namespace {

constexpr char kRestartQuestion[] =
    "The system has to be restarted to remove the virus completely from your system. \n\n Restart now?";

// The folders as the system reports them; null when it cannot say.
ScanTargets QueryScanTargets() {
  char windowsDirectory[kPathCapacity] = {};
  char tempDirectory[kPathCapacity] = {};
  const UINT windowsLength = GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
  const DWORD tempLength = GetTempPathA(sizeof tempDirectory, tempDirectory);
  const bool windowsKnown = windowsLength > 0 && windowsLength < sizeof windowsDirectory;
  const bool tempKnown = tempLength > 0 && tempLength < sizeof tempDirectory;
  return BuildScanTargets(windowsKnown ? windowsDirectory : nullptr, tempKnown ? tempDirectory : nullptr);
}

}  // namespace

int RunScan() {
  ScanMemory();
  const ScanTargets targets = QueryScanTargets();
  for (size_t i = 0; i < kScanTargetCount; ++i) {
    // A cancelled or failed walk does not stop the driver: later walks
    // return at their first check and the report still comes.
    if (targets.present[i]) WalkDirectory(targets.patterns[i]);
  }
  ReportStatistics();
  ReportFinalStatus();
  if (scanState.restartNeeded != 0 &&
      MessageBoxA(nullptr, kRestartQuestion, scanState.caption, MB_YESNO) == IDYES) {
    RestartWindows();
  }
  return 1;
}
