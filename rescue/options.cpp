#include "rescue/options.h"

#include <cstdlib>

bool RescueOptions::operator==(const RescueOptions& other) const {
  return reportOnly == other.reportOnly && log == other.log && backup == other.backup && undo == other.undo &&
         force == other.force && record == other.record && jobs == other.jobs && readers == other.readers && all == other.all &&
         listVolumes == other.listVolumes && ifWindows == other.ifWindows && targets == other.targets;
}

std::string CanonicalPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string canonical = resolved;
  std::free(resolved);
  return canonical;
}

namespace {

bool Refuse(std::string& problem, const char* why) {
  problem = why;
  return false;
}

// The number after an option, from 1 to most; 0 when there is none such.
int CountAfter(int argc, const char* const* argv, int& i, int most) {
  char* end = nullptr;
  const long count = ++i == argc ? 0 : std::strtol(argv[i], &end, 10);
  return count >= 1 && count <= most && *end == '\0' ? static_cast<int>(count) : 0;
}

}  // namespace

bool ParseRescueOptions(int argc, const char* const* argv, RescueOptions& options, std::string& problem) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--list-volumes") {
      if (argc != 2) return Refuse(problem, "--list-volumes goes alone");
      options.listVolumes = true;
      return true;
    } else if (arg == "--report-only") {
      options.reportOnly = true;
    } else if (arg == "--log") {
      if (++i == argc || argv[i][0] == '\0') return Refuse(problem, "--log needs a file name");
      options.log = argv[i];
    } else if (arg == "--record") {
      if (++i == argc || argv[i][0] == '\0') return Refuse(problem, "--record needs a file name");
      options.record = argv[i];
    } else if (arg == "--backup" || arg == "--undo") {
      if (++i == argc || argv[i][0] == '\0') return Refuse(problem, "--backup and --undo need a folder");
      (arg == "--backup" ? options.backup : options.undo) = argv[i];
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "--all") {
      options.all = options.ifWindows = true;
    } else if (arg == "--if-windows") {
      options.ifWindows = true;
    } else if (arg == "--jobs") {
      options.jobs = CountAfter(argc, argv, i, kMostJobs);
      if (options.jobs == 0) return Refuse(problem, "--jobs needs a number from 1 to 64");
    } else if (arg == "--readers") {
      options.readers = CountAfter(argc, argv, i, kMostReaders);
      if (options.readers == 0) return Refuse(problem, "--readers needs a number from 1 to 64");
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      return Refuse(problem, "unknown option");
    } else {
      if (arg == "--" && ++i == argc) break;
      for (; i < argc && (arg == "--" || argv[i][0] != '-'); ++i) {
        std::string target = argv[i];
        while (target.size() > 1 && target.back() == '/') target.pop_back();
        // The same volume spelled two ways would be cleaned twice at once.
        for (const std::string& earlier : options.targets) {
          if (CanonicalPath(earlier) == CanonicalPath(target)) return Refuse(problem, "the same target twice");
        }
        options.targets.push_back(target);
      }
      if (i < argc) return Refuse(problem, "options go before the targets");
    }
  }
  if (options.targets.empty() && !options.all) return Refuse(problem, "no target given");
  if (!options.undo.empty() && (options.targets.size() > 1 || options.all)) {
    return Refuse(problem, "--undo takes one target");
  }
  if (!options.undo.empty() &&
      (options.reportOnly || !options.log.empty() || !options.backup.empty() || !options.record.empty())) {
    return Refuse(problem, "--undo goes with --force alone");
  }
  if (options.undo.empty() && options.force) return Refuse(problem, "--force goes with --undo");
  if (options.reportOnly && !options.backup.empty()) return Refuse(problem, "--report-only changes nothing to back up");
  return true;
}

std::vector<std::string> RescueArguments(const RescueOptions& options) {
  if (options.listVolumes) return {"--list-volumes"};
  std::vector<std::string> arguments;
  const auto add = [&](const char* option, const std::string& value) {
    if (!value.empty()) arguments.insert(arguments.end(), {option, value});
  };
  if (options.reportOnly) arguments.push_back("--report-only");
  if (options.ifWindows) arguments.push_back("--if-windows");
  add("--log", options.log);
  add("--backup", options.backup);
  add("--record", options.record);
  add("--undo", options.undo);
  if (options.force) arguments.push_back("--force");
  if (options.jobs > 0) add("--jobs", std::to_string(options.jobs));
  if (options.readers > 0) add("--readers", std::to_string(options.readers));
  // After "--", a target that begins with '-' is a target.
  arguments.push_back("--");
  arguments.insert(arguments.end(), options.targets.begin(), options.targets.end());
  return arguments;
}
