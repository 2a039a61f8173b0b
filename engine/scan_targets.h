// The four folder trees of a scan, as search patterns, in scan order.
#pragma once

#include <cstddef>

#include "engine/scan_state.h"

constexpr size_t kScanTargetCount = 4;

struct ScanTargets {
  char patterns[kScanTargetCount][kPathCapacity] = {};
  bool present[kScanTargetCount] = {};
};

// windowsDirectory and tempDirectory are what the system reported, or null
// when it could not say: a folder that is not known (or whose pattern would
// not fit) yields no target, never a pattern of the wrong folder.
//   1. the Windows directory
//   2. its drive root + "Documents and settings"
//   3. its drive root + "Program Files"
//   4. the temporary-files directory
ScanTargets BuildScanTargets(const char* windowsDirectory, const char* tempDirectory);

// The results log's file in folder: folder\Scourix.log. False when the path
// would not fit kPathCapacity (out then holds nothing usable).
bool BuildLogPath(const char* folder, char* out);
