// What a scan came to, as facts: filled where its result lines are appended
// (and where a file is queued or a service deleted, which no line of its own
// says), so that records and exit statuses are made from facts, never from a
// line's wording. Portable.
#pragma once

#include <string>
#include <vector>

enum class FileFate {
  Found,         // report only: left where it is
  Deleted,
  DeleteFailed,  // still there
  Queued,        // still there; deleted at the next start of Windows
  Kept,          // kept until the registry can be repaired
};

struct FileOutcome {
  std::string path;
  FileFate fate;
};

struct ScanOutcome {
  std::vector<FileOutcome> files;  // in the order the lines name them
  bool registryFound = false;      // report only
  bool registryRepaired = false;
  bool registryFailed = false;
  int servicesFound = 0;  // report only
  int servicesRemoved = 0;
  int servicesFailed = 0;
  bool memoryFound = false;  // report only
  bool memoryEnded = false;
  int profileHivesFailed = 0;

  int Count(FileFate fate) const;
  // The last failed deletion of path now waits for the next start.
  void MarkQueued(const std::string& path);
};

// The one scan of the process, as scanState is.
extern ScanOutcome scanOutcome;
