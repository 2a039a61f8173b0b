// The unattended program's command line and exit status. Portable.
#pragma once

#include <string>

#include "record/exit_status.h"

struct CliOptions {
  std::string log;     // /log:FILE
  std::string record;  // /record:DIR
  bool report = false;   // /report: change nothing
  bool restart = false;  // /restart
  bool quiet = false;    // /quiet
  bool usage = false;    // /?
};

// Windows-style options: '/' or '-', any case. False, with the problem, for
// anything else (no argument is taken for a file or folder by itself).
bool ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& problem);

// Whether expanding the variables of a /log or /record path (given) brought
// ".." steps into it (expanded) that the option's own text did not have: a
// variable holding "..\" would move the file out of the folder named.
bool AddsParentSteps(const std::string& given, const std::string& expanded);

// What a scan came to, as the exit status. queued: files that wait for the
// next start of Windows (3010: the caller makes it 1 when it has started the
// restart). A report-only scan ends 0, 1 (found) or 2 (interrupted).
int CliExitStatus(bool reportOnly, bool cancelled, int infected, int deleted, int queued);

// The text of /?.
extern const char kCliUsageText[];
