#include "tests/support/rescue_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

const char* const kRescueProgram = SCOURIX_RESCUE;

const char* const kXpWormPaths[kXpWormFiles] = {
    "C:\\WinDows\\system32\\worm.exe",
    "C:\\WinDows\\Temp\\dropped.exe",
    "C:\\documents and settings\\Alice\\Local Settings\\Temp\\x.scr",
    "C:\\PROGRAM FILES\\App\\app.exe",
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string CommandOutput(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  pclose(pipe);
  return text;
}

RescueRun Rescue(const std::vector<std::string>& args, const std::string& shellSetup) {
  // Per process: suites may run side by side.
  const std::string base = ::testing::TempDir() + "rescue-" + std::to_string(getpid());
  const std::string out = base + "-out", err = base + "-err";
  std::string command = shellSetup + " exec timeout -k 10 60 " + Quote(kRescueProgram);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
  const int raw = std::system(command.c_str());
  RescueRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadAll(out);
  run.err = ReadAll(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) run.lines.push_back(line);
  return run;
}

size_t IndexOf(const RescueRun& run, const std::string& line) {
  for (size_t i = 0; i < run.lines.size(); ++i) {
    if (run.lines[i] == line) return i;
  }
  ADD_FAILURE() << "no line \"" << line << "\" in:\n" << run.out;
  return run.lines.size();
}

void ExpectTail(const RescueRun& run, const std::vector<std::string>& tail) {
  ASSERT_GE(run.lines.size(), tail.size()) << run.out;
  EXPECT_EQ(tail, std::vector<std::string>(run.lines.end() - static_cast<long>(tail.size()), run.lines.end()))
      << run.out;
}

std::string Deleted(const std::string& windowsPath) { return windowsPath + "     " + kVirus + " deleted"; }
std::string Found(const std::string& windowsPath) {
  return windowsPath + "     " + kVirus + " found (report only: not deleted)";
}

std::vector<std::string> Statistics(int scanned, int infected, int deleted) {
  return {"Scanning statistics\t\t:", "Total files scanned\t\t:  " + std::to_string(scanned),
          "Total files infected\t\t:  " + std::to_string(infected),
          "Total files deleted\t\t:  " + std::to_string(deleted)};
}

std::string BackupFolder(const TestVolume& volume) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(volume.Path("Scourix"), error)) {
    found.push_back(entry.path().string());
  }
  EXPECT_EQ(1u, found.size());
  return found.empty() ? std::string() : found.front();
}
