#include "cli/options.h"

#include <cctype>
#include <cstring>

const char kCliUsageText[] =
    "scourix-cli [/report] [/log:FILE] [/record:DIR] [/restart] [/quiet] [/?]\n"
    "Scans this computer for W32/Gibe.F.Worm and removes it, without a window or a question.\n"
    "  /report    report only: end, delete, repair and queue nothing, and write no log unless /log\n"
    "             is given\n"
    "  /log:FILE  append the results log to FILE (a UNC path may be given; %COMPUTERNAME% and other\n"
    "             variables are expanded) instead of Scourix.log in the Windows directory\n"
    "  /record:DIR  write this computer's record, DIR\\<computer name>.json, for scourix-fleet\n"
    "             (variables are expanded in both; a \"..\" they bring in is refused)\n"
    "  /restart   restart Windows at the end when a file waits for the next start\n"
    "  /quiet     print nothing\n"
    "  /?         this text\n"
    "Exit status: 0 nothing found; 1 found and everything removed (with /report: found); 2 something\n"
    "could not be removed, or the scan was interrupted or failed; 3 a usage error, or another Scourix\n"
    "is running (nothing changed); 3010 removed, but Windows must restart to finish (/restart was not\n"
    "given, or the restart could not be started).\n";

namespace {

// The option's name, without its '/' or '-', in lower case; value after ':'.
bool Split(const char* argument, std::string& name, std::string& value) {
  if (argument[0] != '/' && argument[0] != '-') return false;
  const char* colon = std::strchr(argument + 1, ':');
  const char* end = colon != nullptr ? colon : argument + std::strlen(argument);
  name.clear();
  for (const char* p = argument + 1; p < end; ++p) name += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  value = colon != nullptr ? colon + 1 : "";
  return !name.empty();
}

}  // namespace

bool ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& problem) {
  options = CliOptions{};
  for (int i = 1; i < argc; ++i) {
    std::string name, value;
    if (!Split(argv[i], name, value)) {
      problem = std::string("not an option: ") + argv[i];
      return false;
    }
    const bool hasValue = std::strchr(argv[i], ':') != nullptr;
    if (name == "log" && hasValue && !value.empty() && options.log.empty()) {
      options.log = value;
    } else if (name == "record" && hasValue && !value.empty() && options.record.empty()) {
      options.record = value;
    } else if (name == "report" && !hasValue) {
      options.report = true;
    } else if (name == "restart" && !hasValue) {
      options.restart = true;
    } else if (name == "quiet" && !hasValue) {
      options.quiet = true;
    } else if (name == "?" && !hasValue) {
      options.usage = true;
    } else {
      problem = std::string("unknown or repeated option, or a value missing: ") + argv[i];
      return false;
    }
  }
  return true;
}

int CliExitStatus(bool reportOnly, bool cancelled, int infected, int deleted, int queued) {
  if (cancelled) return kExitNotAllRemoved;
  if (infected == 0) return kExitNothingFound;
  if (reportOnly) return kExitRemoved;
  if (deleted + queued < infected) return kExitNotAllRemoved;
  return queued > 0 ? kExitRestartNeeded : kExitRemoved;
}

namespace {

// Steps that Windows takes for the parent folder: "..", and forms it cuts
// to "..", as trailing dots and spaces are dropped from a name.
size_t ParentSteps(const std::string& path) {
  size_t steps = 0;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    const std::string step = path.substr(start, end - start);
    steps += step.find_first_not_of(". ") == std::string::npos && step.find("..") != std::string::npos ? 1 : 0;
    start = end + 1;
  }
  return steps;
}

}  // namespace

bool AddsParentSteps(const std::string& given, const std::string& expanded) {
  return ParentSteps(expanded) > ParentSteps(given);
}
