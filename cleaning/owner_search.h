// Ending the process that holds an infected file, so that it can be deleted.
#pragma once

#include <cstdint>
#include <vector>

#include "cleaning/perf_data.h"

// 1 when the process that runs the file was ended, 0 when not. On a
// platform other than the two Windows families: 1, without doing anything.
int TerminateFileOwner(const char* path);

// Windows 95/98/Me: the toolhelp process list.
int TerminateOwnerToolhelp(const char* path);

// The raw performance data the NT owner search reads: the "Counters" text
// and the process object's data block. A seam: Wine keeps no process data
// there, so the tests feed blocks of their own.
class PerfDataSource {
 public:
  virtual ~PerfDataSource() = default;
  virtual bool ReadCounters(std::vector<uint8_t>& data) = 0;
  virtual bool ReadObject(const char* objectIndex, std::vector<uint8_t>& data) = 0;
};

// The performance data of the running system.
PerfDataSource& SystemPerfData();

// NT family: the performance-data task list.
int TerminateOwnerPerfData(const char* path, PerfDataSource& source);
