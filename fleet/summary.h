// The fleet summary: every machine's record, what became of it, and the
// totals, as text, CSV or an HTML page. Portable. Every record is a file
// that a machine which was infected may have written: nothing in it is
// trusted, and memory does not grow with the size of its result lines.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "record/record.h"

enum class MachineState {
  NeedsAttention,  // exit 2 or 3, a record that cannot be read, no record
  RestartPending,  // cleaned, but Windows must restart (3010)
  Cleaned,         // the worm was found and removed (1)
  Clean,           // nothing found (0)
};

// Result lines a machine needing attention keeps for the page; the rest are
// counted.
constexpr size_t kShownLineBytes = 6 * 1024;

struct FleetEntry {
  std::string file;     // the record's file name (empty: no record)
  bool readable = false;
  std::string problem;  // why it could not be read
  ScanRecord record;    // lines: only for a machine needing attention
  size_t linesLeftOut = 0;
  MachineState state = MachineState::NeedsAttention;
  // An expected machine that no record names (its name in record.computer).
  bool missing = false;
  // Not on the list of expected machines (when one was given).
  bool unexpected = false;
  // Other records naming the same computer: which of them is true? The
  // first few by name, and how many more (a folder of copies of one record
  // must not cost memory by the square of their number).
  std::vector<std::string> sameComputer;
  size_t sameComputerMore = 0;
};

// What a machine's exit status says about it. A report-only run that found
// the worm left it there: that machine needs attention.
MachineState StateOf(int exitStatus, bool reportOnly = false);
const char* StateName(MachineState state);

// A record file's contents as an entry.
FleetEntry ReadEntry(const std::string& file, const std::string& text);
// An entry for a file that could not be read as a record at all.
FleetEntry UnreadableEntry(const std::string& file, const std::string& problem);

// Two records naming one computer (without regard to case): both need
// attention, and each names the other.
void MarkSameComputer(std::vector<FleetEntry>& entries);

// The machines expected (one name a line, as an inventory or a directory
// export gives them; blank lines passed over). A machine whose record is
// missing gets an entry "no record"; records of machines not on the list
// are marked. A name given as a DNS name (pc01.example.com) also matches
// the record of its first label (PC01), the name Windows records.
std::vector<std::string> ParseExpectedMachines(const std::string& text);
void MatchExpectedMachines(std::vector<FleetEntry>& entries, const std::vector<std::string>& expected);

// Machines needing attention first, then by state, then by name.
void SortEntries(std::vector<FleetEntry>& entries);

std::string SummaryText(const std::vector<FleetEntry>& entries);
std::string SummaryCsv(const std::vector<FleetEntry>& entries);
std::string SummaryHtml(const std::vector<FleetEntry>& entries);
// The page in parts, each handed to write as it is made; false as soon as a
// write fails.
using HtmlWriter = std::function<bool(const std::string& part)>;
bool WriteSummaryHtml(const std::vector<FleetEntry>& entries, const HtmlWriter& write);

// Whether any machine needs attention.
bool AnyNeedsAttention(const std::vector<FleetEntry>& entries);

// A Windows version as a record gives it ("5.1.2600 Service Pack 3") by the
// name people know ("Windows XP SP3"); the text itself when it is not known.
std::string WindowsName(const std::string& version);
