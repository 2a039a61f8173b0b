// scourix-rescue's command line: parsed once into one value, and written out
// again from that value where a run of its own needs it (one target of
// several, or the run inside the libguestfs appliance). Portable.
#pragma once

#include <string>
#include <vector>

constexpr int kMostJobs = 64;
constexpr int kMostReaders = 64;

struct RescueOptions {
  bool reportOnly = false;
  std::string log;     // empty: no log
  std::string backup;  // empty: Scourix/backup-... at the volume's root
  std::string undo;
  bool force = false;
  std::string record;
  int jobs = 0;     // 0: one per processor
  int readers = 0;  // 0: as suits the volume's disk
  bool all = false;
  bool listVolumes = false;  // print the volumes a stick's system may clean
  bool ifWindows = false;    // a disk without Windows is passed over, not refused
  std::vector<std::string> targets;

  bool operator==(const RescueOptions& other) const;
};

// The arguments after the program's name. False, with the problem, for a
// command line that is not understood or asks for what cannot go together.
bool ParseRescueOptions(int argc, const char* const* argv, RescueOptions& options, std::string& problem);

// The arguments that ParseRescueOptions reads back as options (--all
// aside, which stands for targets found when the program starts).
std::vector<std::string> RescueArguments(const RescueOptions& options);

// The path with links and "." resolved where it exists, else as given.
std::string CanonicalPath(const std::string& path);
