// scourix-rescue with several readers: the same lines, record and cleaning
// as with one, on a volume shaped to test the walk's order (wide and deep
// folders, links, a pipe, hostile names), also with few descriptors; and
// Ctrl-C ending a walk of many readers promptly.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "record/exit_status.h"
#include "tests/support/rescue_run.h"
#include "tests/support/test_volume.h"

namespace {

// BuildInfectedXp, and around it: a folder wider than the readers read ahead
// with worms at its start, middle and end and subfolders of its own; a chain
// deeper than 64 descriptors can hold open; links to a worm and to a folder
// above; a pipe named like a program; a name with control bytes.
void BuildBusyVolume(const TestVolume& volume) {
  BuildInfectedXp(volume);
  for (int i = 0; i < 600; ++i) {
    const std::string name = "PROGRAM FILES/wide/file" + std::to_string(i) + ".exe";
    if (i == 0 || i == 300 || i == 599) {
      volume.WriteWorm(name);
    } else {
      volume.WriteFile(name, "MZ" + std::to_string(i));
    }
  }
  for (int i = 0; i < 40; ++i) {
    std::string folder = "PROGRAM FILES/wide/sub" + std::to_string(i);
    for (int depth = 0; depth < i % 5; ++depth) folder += "/d" + std::to_string(depth);
    volume.WriteFile(folder + "/readme.txt", "text");
    if (i % 7 == 0) volume.WriteWorm(folder + "/w" + std::to_string(i) + ".exe");
    volume.MakeFolder("PROGRAM FILES/wide/sub" + std::to_string(i) + "/empty");
  }
  std::string chain = "documents and settings/Alice/chain";
  for (int level = 0; level < 90; ++level) {
    chain += "/c" + std::to_string(level);
    if (level == 45 || level == 89) volume.WriteWorm(chain + "/deep.exe");
  }
  volume.Link("WinDows/Temp/to-worm.exe", "../system32/worm.exe");
  volume.Link("WinDows/Temp/up", "..");
  ASSERT_EQ(0, mkfifo(volume.Path("WinDows/Temp/pipe.exe").c_str(), 0644));
  volume.WriteWorm("WinDows/Temp/evil\x1b[2J\n.exe");
}

// The text with what follows each marker (up to `length` bytes) blanked out.
std::string Blanked(std::string text, const std::string& marker, size_t length) {
  for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
    const size_t start = at + marker.size();
    text.replace(start, std::min(length, text.size() - start), std::string(std::min(length, text.size() - start), '#'));
  }
  return text;
}

// What may differ between two runs: the times, the volume's own path and the
// backup folder's stamp.
std::string Comparable(std::string text, const TestVolume& volume) {
  for (size_t at; (at = text.find(volume.Root())) != std::string::npos;) text.replace(at, volume.Root().size(), "ROOT");
  text = Blanked(text, "\"started\": \"", 19);
  text = Blanked(text, "\"ended\": \"", 19);
  return Blanked(text, "backup-", 15);
}

TEST(RescueReaders, ManyReadersReportWhatOneReports) {
  TestVolume volume("readers-report");
  BuildBusyVolume(volume);
  const std::string record = ::testing::TempDir() + "rescue-readers.json";
  const auto report = [&](const std::string& readers, const std::string& setup) {
    const RescueRun run = Rescue({"--readers", readers, "--report-only", "--record", record, volume.Root()}, setup);
    EXPECT_EQ(kExitRemoved, run.status) << readers << " " << setup << run.out << run.err;
    return run.out + run.err + ReadAll(record);
  };
  const std::string one = report("1", "");
  // Every match, in the walk's order, the deepest too.
  EXPECT_NE(std::string::npos, one.find("Total files infected\t\t:  16")) << one;
  EXPECT_NE(std::string::npos, one.find("chain\\c0")) << one;
  for (const std::string setup : {"", "ulimit -n 64;"}) {
    for (const std::string readers : {"1", "2", "16", "64"}) {
      EXPECT_EQ(Comparable(one, volume), Comparable(report(readers, setup), volume)) << readers << " " << setup;
    }
  }
}

TEST(RescueReaders, ManyReadersCleanAsOneCleans) {
  TestVolume one("readers-clean-one"), many("readers-clean-many");
  BuildBusyVolume(one);
  BuildBusyVolume(many);
  const RescueRun byOne = Rescue({"--readers", "1", one.Root()});
  const RescueRun byMany = Rescue({"--readers", "16", many.Root()});
  EXPECT_EQ(kExitRemoved, byOne.status) << byOne.out << byOne.err;
  EXPECT_EQ(Comparable(byOne.out, one), Comparable(byMany.out, many));
  EXPECT_EQ(byOne.err, byMany.err);
  for (const char* worm : xp::kWormFiles) EXPECT_FALSE(many.Exists(worm)) << worm;
  EXPECT_FALSE(many.Exists("PROGRAM FILES/wide/file300.exe"));
  EXPECT_TRUE(many.Exists("PROGRAM FILES/wide/file301.exe"));
}

int ScannedCount(const std::string& out) {
  const std::string label = "Total files scanned\t\t:  ";
  const size_t at = out.find(label);
  return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + label.size());
}

// Ctrl-C in the middle of a walk of many readers: the walk stops within a
// moment, with what it scanned so far, and says it was terminated.
TEST(RescueReaders, InterruptEndsAManyReaderWalkPromptly) {
  TestVolume volume("readers-interrupt");
  BuildInfectedXp(volume);
  constexpr int kFiles = 30000;
  for (int i = 0; i < kFiles; ++i) {
    volume.WriteFile("WinDows/system32/many/f" + std::to_string(i / 500) + "/file" + std::to_string(i) + ".dll", "MZ");
  }
  const std::string out = ::testing::TempDir() + "rescue-interrupt.out";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (freopen(out.c_str(), "w", stdout) == nullptr) _exit(127);
    execl(kRescueProgram, kRescueProgram, "--readers", "16", "--report-only", volume.Root().c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Its readers are running once it has more than one thread: the walk has
  // begun. A moment later it is well into the tree.
  const std::string tasks = "/proc/" + std::to_string(child) + "/task";
  const auto waitUntil = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  size_t threads = 0;
  while (threads < 2 && std::chrono::steady_clock::now() < waitUntil) {
    threads = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(tasks, error); !error && it != std::filesystem::end(it);
         it.increment(error)) {
      ++threads;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(0, kill(child, SIGINT));
  const auto signalled = std::chrono::steady_clock::now();
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
  const std::string printed = ReadAll(out);
  ASSERT_GE(threads, 2u) << printed;
  EXPECT_LT(took, 2.0);
  ASSERT_TRUE(WIFEXITED(status)) << printed;
  EXPECT_EQ(kExitNotAllRemoved, WEXITSTATUS(status)) << printed;
  EXPECT_NE(std::string::npos, printed.find("Scanning terminated")) << printed;
  const int scanned = ScannedCount(printed);
  EXPECT_GT(scanned, 0) << printed;
  EXPECT_LT(scanned, kFiles) << printed;
}

}  // namespace
