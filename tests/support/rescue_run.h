// scourix-rescue run as a user runs it, for the tests that drive the program
// on generated volumes: its exit status, what it printed, and helpers to read
// what it left behind.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_volume.h"

constexpr char kVirus[] = "W32/Gibe.F.Worm";

// The program under test (the build's scourix-rescue).
extern const char* const kRescueProgram;

struct RescueRun {
  int status = -1;  // the exit status; 124 when it had to be stopped, -1 on a signal
  std::string out;
  std::string err;
  std::vector<std::string> lines;  // out split at '\n'
};

// Runs the program with args, standard input from /dev/null, stopped after
// a minute so that a hang fails the test instead of stalling it. shellSetup,
// when given, runs first in the same shell (for instance "ulimit -n 64;").
RescueRun Rescue(const std::vector<std::string>& args, const std::string& shellSetup = "");

// arg quoted for sh.
std::string Quote(const std::string& arg);
std::string ReadAll(const std::string& path);
// What a shell command printed on its standard output.
std::string CommandOutput(const std::string& command);

// The index of a line equal to line; a failure (and lines.size()) when none is.
size_t IndexOf(const RescueRun& run, const std::string& line);
void ExpectTail(const RescueRun& run, const std::vector<std::string>& tail);

std::string Deleted(const std::string& windowsPath);
std::string Found(const std::string& windowsPath);
std::vector<std::string> Statistics(int scanned, int infected, int deleted);

// BuildInfectedXp's worm files as Windows names them, in xp::kWormFiles' order.
extern const char* const kXpWormPaths[kXpWormFiles];

// The one backup folder a cleaning run made at the volume's root.
std::string BackupFolder(const TestVolume& volume);
