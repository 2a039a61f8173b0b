// The fleet summary: every machine's record, what became of it, and the
// totals, as text, CSV or an HTML page. Portable.
#pragma once

#include <string>
#include <vector>

#include "cli/record.h"

enum class MachineState {
  NeedsAttention,  // exit 2 or 3, or a record that cannot be read
  RestartPending,  // cleaned, but Windows must restart (3010)
  Cleaned,         // the worm was found and removed (1)
  Clean,           // nothing found (0)
};

struct FleetEntry {
  std::string file;     // the record's file name
  bool readable = false;
  std::string problem;  // why it could not be read
  ScanRecord record;
  MachineState state = MachineState::NeedsAttention;
};

// What a machine's exit status says about it. A report-only run that found
// the worm left it there: that machine needs attention.
MachineState StateOf(int exitStatus, bool reportOnly = false);
const char* StateName(MachineState state);

// A record file's contents as an entry.
FleetEntry ReadEntry(const std::string& file, const std::string& text);

// Machines needing attention first, then by state, then by name.
void SortEntries(std::vector<FleetEntry>& entries);

std::string SummaryText(const std::vector<FleetEntry>& entries);
std::string SummaryCsv(const std::vector<FleetEntry>& entries);
std::string SummaryHtml(const std::vector<FleetEntry>& entries);

// Whether any machine needs attention.
bool AnyNeedsAttention(const std::vector<FleetEntry>& entries);
