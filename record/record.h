// One machine's record of an unattended scan, as JSON, for the fleet
// summary. Portable: the program fills it in, this writes it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/scan_outcome.h"

struct ScanRecord {
  std::string computer;  // every text in UTF-8
  std::string windows;   // version, such as "5.1.2600 Service Pack 3"
  std::string started;   // local time, YYYY-MM-DDThh:mm:ss
  std::string ended;
  std::string program;   // "Scourix 1.0"
  int exitStatus = 0;
  int filesScanned = 0;
  int filesInfected = 0;
  int filesDeleted = 0;
  int filesQueued = 0;  // waiting for the next start of Windows
  bool registryRepaired = false;
  int servicesRemoved = 0;  // services that ran the worm, deleted
  bool reportOnly = false;  // nothing was changed: 1 means found, not removed
  std::vector<std::string> lines;  // every result line, in order
};

// The scan's counts and outcome into the record: files scanned, infected,
// deleted and queued, registry repaired, services removed.
void TakeScanResults(ScanRecord& record, const ScanOutcome& outcome, int scanned, int infected, int deleted);

// The record as one JSON object. Texts are escaped as JSON asks; bytes
// that are not UTF-8 become U+FFFD, so the output is always valid JSON.
std::string RecordJson(const ScanRecord& record);

// The name of a computer's record file (without ".json"): the name itself
// where Windows can use it as a file name that says which machine it is
// (printable ASCII without spaces, none of \/:*?"<>|, not a device name such as CON or
// COM1, no trailing dot or space, at most 200 characters); otherwise the
// name with each byte it cannot use as '_', shortened, and a short hash of
// the whole name: machines whose names it cannot use never share a file.
std::string RecordFileStem(const std::string& computer);

// text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

// Reads a record back (as RecordJson writes it, or any JSON object with
// those fields; others are passed over). Every byte may be hostile: depth,
// counts and numbers are bounded, and anything malformed is refused with
// the reason in error. computer and exitStatus must be there.
// A key that appears twice makes the record unreadable.
// budget, when given, keeps result lines (whole, in order) only while they
// cost at most its bytes in memory (text and string object); the others are
// read and counted in its leftOut.
struct LineBudget {
  size_t bytes = 0;
  size_t leftOut = 0;
};
bool ParseRecordJson(const std::string& text, ScanRecord& record, std::string& error, LineBudget* budget = nullptr);
