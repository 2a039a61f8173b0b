// The scan of a Windows volume that is not running: the same detection as the
// Windows program over the same folder trees, files of a folder before its
// subfolders, links and junctions never followed. Every match is counted,
// repairs the registry's hives and is deleted, or with reportOnly only
// reported. Lines and counters go through the engine's scan state.
#pragma once

#include <string>
#include <vector>

#include "rescue/console.h"
#include "rescue/hive_registry.h"
#include "rescue/volume.h"

struct OfflineScan {
  bool reportOnly = false;
  // The volume's hives; null when its registry cannot be repaired offline.
  HiveRegistry* registry = nullptr;
  Console* console = nullptr;
  // The worm's files: deleted, or with reportOnly found (Windows paths).
  std::vector<std::string> wormFiles;
  // Something of the worm's could not be removed.
  bool failed = false;
};

// Walks folder and everything under it. Stops early when the scan is
// cancelled (scanState.scanCancelled).
void WalkOfflineTree(const VolumePath& folder, OfflineScan& scan);

// Removes every service, in every control set of the SYSTEM hive, whose
// program is one of scan.wormFiles (the SYSTEM hive is mounted as the
// machine's "System" key). windowsDirectory: as Windows names it (C:\WINDOWS).
void RemoveWormServices(OfflineScan& scan, const std::string& windowsDirectory);

// A service's ImagePath as the running system would read it: "\??\" dropped,
// %SystemRoot%, %windir% and \SystemRoot\ expanded, and a path without a
// drive taken as relative to the Windows directory. Quotes and arguments
// stay.
std::string ResolveImagePath(const std::string& imagePath, const std::string& windowsDirectory);

// Cancels the scan at the next file when the user interrupts the program
// (Ctrl-C) or it is asked to end; false when that could not be arranged.
bool CancelScanOnInterrupt();
