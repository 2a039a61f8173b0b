// The scan: memory first, then the four folder trees, then the report.
#pragma once

#include "engine/scan_targets.h"

// Runs inside the progress dialog's timer handler. Always returns 1.
int RunScan();

// The scan without its question: the results log (in logPath when given,
// else the Windows directory's Scourix.log or the temporary-files
// directory's), the memory scan, the walks and the report. The caller
// decides about the restart (scanState.restartNeeded). False when a log
// was asked for at logPath and could not be opened (the scan runs anyway).
// With scanState.reportOnly only a log asked for at logPath is written.
bool RunScanWithoutQuestions(const char* logPath);

// What FindFirstFile says of path, for BuildScanTargets: the long name (also
// for a short 8.3 alias) and the attributes in one call, where
// GetLongPathName is missing (Windows 95, NT 4.0).
bool LookUpOnDisk(const char* path, PathFacts& facts);
