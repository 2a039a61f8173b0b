#include "cleaning/memory_scan.h"

#include "cleaning/system_restart.h"
#include "engine/scan_state.h"

void ScanMemory() {
  scanState.osClass = GetOsClass();
  scanState.memoryScanActive = 1;
  // The process scans go here: toolhelp for the 9x family, psapi for the NT
  // family. Until they exist no process is examined.
  scanState.memoryScanActive = 0;
}
