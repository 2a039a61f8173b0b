// scourix-rescue on a volume laid out to hurt it: entries planted at the
// names it creates, links where hives, logs and backups go, odd and big
// registry values, hostile names, deep trees, a hive that cannot be written;
// and its backup and --undo.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/hive_file.h"
#include "tests/support/rescue_run.h"
#include "tests/support/test_hive.h"
#include "tests/support/test_volume.h"

namespace fs = std::filesystem;

namespace {

constexpr char kConfig[] = "WinDows/system32/config";
constexpr uint32_t kOddType = 0xFFFF0011;

bool Sh(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }

std::string Sha256Of(const std::string& path) { return CommandOutput("sha256sum " + Quote(path)).substr(0, 64); }

using Entries = std::map<std::string, std::string>;
const std::vector<std::string> kNone;

// The paths added, removed or changed between two snapshots.
std::vector<std::string> ChangedPaths(const Entries& before, const Entries& after) {
  std::vector<std::string> changed;
  for (const auto& [path, entry] : before) {
    const auto now = after.find(path);
    if (now == after.end() || now->second != entry) changed.push_back(path);
  }
  for (const auto& entry : after) {
    if (before.count(entry.first) == 0) changed.push_back(entry.first);
  }
  return changed;
}

// Every regular file below the root but in the Scourix folder: its mode and
// content.
Entries RegularFiles(const TestVolume& volume) {
  Entries files;
  for (auto it = fs::recursive_directory_iterator(volume.Root()); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == volume.Path("Scourix")) it.disable_recursion_pending();
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    files[it->path().string()] = std::to_string(st.st_mode) + " " + ReadAll(it->path().string());
  }
  return files;
}

// A user hive's DisableRegistryTools policy as text.
std::string Policy(const TestVolume& volume, const std::string& hive) {
  return TestHive(volume.Path(hive)).GetString(xp::kPolicyKey, "DisableRegistryTools").value_or("missing");
}

// The registry as BuildInfectedXp's volume has it once cleaned.
void ExpectRepaired(const TestVolume& volume) {
  const TestHive software(volume.Path(xp::kSoftware));
  EXPECT_FALSE(software.KeyExists(xp::kWormKey));
  EXPECT_FALSE(software.GetString(xp::kRunKey, "gibe"));
  EXPECT_EQ("\"%1\" %*", software.GetString("Classes\\exefile\\shell\\open\\command", "").value_or("missing"));
  EXPECT_EQ("0", Policy(volume, xp::kDefault));
  EXPECT_EQ("0", Policy(volume, xp::kAlice));
  const TestHive system(volume.Path(xp::kSystem));
  EXPECT_FALSE(system.KeyExists("ControlSet001\\Services\\worm"));
  EXPECT_FALSE(system.KeyExists("ControlSet002\\Services\\worm"));
  EXPECT_TRUE(system.KeyExists("ControlSet001\\Services\\legit"));
}

void ExpectWormFilesGone(const TestVolume& volume) {
  for (const char* file : xp::kWormFiles) EXPECT_FALSE(volume.Exists(file)) << file;
}

TEST(RescueHostile, EntriesPlantedAtTheNewHiveNameAreLeftAlone) {
  const std::string planted = std::string(kConfig) + "/SOFTWARE.scourix-new";
  for (const std::string kind : {"link", "fifo", "folder"}) {
    SCOPED_TRACE(kind);
    TestVolume volume("planted-" + kind), outside("planted-outside-" + kind);
    BuildInfectedXp(volume);
    outside.WriteFile("target", "not a hive");
    const std::string at = volume.Path(planted);
    ASSERT_EQ(0, kind == "link"   ? symlink(outside.Path("target").c_str(), at.c_str())
                 : kind == "fifo" ? mkfifo(at.c_str(), 0644)
                                  : mkdir(at.c_str(), 0755));
    const auto outsideBefore = outside.Snapshot();
    const std::string plantedBefore = volume.Snapshot().at(at);
    const RescueRun run = Rescue({volume.Root()});
    EXPECT_EQ(1, run.status) << run.out << run.err;
    EXPECT_EQ(kNone, ChangedPaths(outsideBefore, outside.Snapshot()));
    const auto after = volume.Snapshot();
    const auto now = after.find(at);
    EXPECT_EQ(plantedBefore, now == after.end() ? "gone" : now->second);
    ExpectRepaired(volume);
    ExpectWormFilesGone(volume);
  }
}

// A link or FIFO where the run reads or writes: refused before any change,
// and nothing outside the volume touched.
TEST(RescueHostile, LinksWhereTheRunWritesStopItBeforeAnyChange) {
  constexpr char kSoftwareHive[] = "C:\\WinDows\\System32\\config\\SOFTWARE";
  struct Case {
    const char* name;
    const char* linked;  // moved out of the volume (or made there), a link left in its place
    const char* log;     // "link" or "fifo" outside the volume, given as --log
    const char* said;    // on standard error
  };
  const Case cases[] = {
      {"backup folder", "Scourix", nullptr, "/Scourix"},
      {"hive", xp::kSoftware, nullptr, kSoftwareHive},
      {"config folder", kConfig, nullptr, kSoftwareHive},
      {"log link", nullptr, "link", "cannot write the log"},
      {"log fifo", nullptr, "fifo", "cannot write the log"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestVolume volume("refused"), outside("refused-outside");
    BuildInfectedXp(volume);
    std::vector<std::string> args;
    if (c.linked != nullptr) {
      if (volume.Exists(c.linked)) {
        fs::rename(volume.Path(c.linked), outside.Path("moved"));
      } else {
        outside.MakeFolder("moved");
      }
      volume.Link(c.linked, outside.Path("moved"));
    } else {
      outside.WriteFile("target", "someone else's file\n");
      if (std::string(c.log) == "link") {
        outside.Link("log", outside.Path("target"));
      } else {
        EXPECT_EQ(0, mkfifo(outside.Path("log").c_str(), 0644));
      }
      args = {"--log", outside.Path("log")};
    }
    args.push_back(volume.Root());
    const auto before = volume.Snapshot(), outsideBefore = outside.Snapshot();
    const RescueRun run = Rescue(args);
    EXPECT_EQ(3, run.status) << run.out << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find(c.said)) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("nothing was changed")) << run.err;
    EXPECT_EQ(kNone, ChangedPaths(before, volume.Snapshot()));
    EXPECT_EQ(kNone, ChangedPaths(outsideBefore, outside.Snapshot()));
  }
}

TEST(RescueHostile, ValuesOfUnnamedTypesAreKeptAsTheyAre) {
  TestVolume volume("odd-types");
  BuildInfectedXp(volume);
  const std::string device("\x11\x00\xFF\xFF property", 14);
  TestHive software(volume.Path(xp::kSoftware));
  software.SetRaw(xp::kRunKey, "device", kOddType, device);
  software.Save();
  TestHive system(volume.Path(xp::kSystem));
  system.SetRaw("ControlSet001\\Services\\odd", "ImagePath", kOddType, device);
  system.Save();
  const RescueRun run = Rescue({volume.Root()});
  EXPECT_EQ(1, run.status) << run.out << run.err;
  EXPECT_EQ(std::string::npos, run.err.find("runtime error")) << run.err;
  EXPECT_EQ(std::string::npos, run.err.find("Sanitizer")) << run.err;
  ExpectWormFilesGone(volume);
  const TestHive cleaned(volume.Path(xp::kSoftware));
  EXPECT_FALSE(cleaned.GetString(xp::kRunKey, "gibe"));
  EXPECT_EQ(kOddType, cleaned.GetRawType(xp::kRunKey, "device"));
  EXPECT_EQ(device, cleaned.GetRaw(xp::kRunKey, "device"));
  const TestHive services(volume.Path(xp::kSystem));
  EXPECT_EQ(kOddType, services.GetRawType("ControlSet001\\Services\\odd", "ImagePath"));
  EXPECT_EQ(device, services.GetRaw("ControlSet001\\Services\\odd", "ImagePath"));
}

// Needs a file system that keeps the immutable flag.
TEST(RescueHostile, HiveThatCannotBeWrittenKeepsEveryFileForTheNextRun) {
  TestVolume volume("unwritable");
  BuildInfectedXp(volume);
  const std::string config = volume.Path(kConfig);
  if (!Sh("chattr +i " + Quote(config))) GTEST_SKIP() << "no immutable folders here";
  struct Thaw {
    std::string folder;
    ~Thaw() { Sh("chattr -i " + Quote(folder)); }
  } thaw{config};
  Entries hives;
  for (const char* hive : {xp::kSoftware, xp::kSystem, xp::kDefault, xp::kAlice}) {
    hives[hive] = ReadAll(volume.Path(hive));
  }

  const RescueRun stuck = Rescue({volume.Root()});
  EXPECT_EQ(2, stuck.status) << stuck.out << stuck.err;
  for (const char* path : kXpWormPaths) {
    IndexOf(stuck, std::string(path) + "     " + kVirus + " Delete failed: kept until the registry can be repaired");
  }
  for (const char* file : xp::kWormFiles) EXPECT_TRUE(volume.Exists(file)) << file;
  for (const auto& [hive, bytes] : hives) EXPECT_TRUE(bytes == ReadAll(volume.Path(hive))) << hive << " was rewritten";

  ASSERT_TRUE(Sh("chattr -i " + Quote(config)));
  const RescueRun again = Rescue({volume.Root()});
  EXPECT_EQ(1, again.status) << again.out << again.err;
  ExpectRepaired(volume);
  ExpectWormFilesGone(volume);
}

TEST(RescueHostile, ControlBytesInNamesAreEscapedInEveryLine) {
  TestVolume volume("control-bytes");
  BuildInfectedXp(volume);
  // A name cannot hold '/': the forged line's virus name makes a folder.
  const std::string file = std::string("evil\nC:\\forged     ") + kVirus + " deleted\x1b[2J.exe";
  const std::string folder = "bad\rname\x1b[31m";
  volume.WriteWorm("WinDows/Temp/" + file);
  volume.WriteWorm("PROGRAM FILES/" + folder + "/w.exe");
  const std::string log = ::testing::TempDir() + "rescue-control-bytes.log";
  std::remove(log.c_str());
  const RescueRun run = Rescue({"--log", log, volume.Root()});
  EXPECT_EQ(1, run.status) << run.out << run.err;
  const std::vector<std::string> escaped = {
      Deleted("C:\\WinDows\\Temp\\evil\\nC:\\forged     W32\\Gibe.F.Worm deleted\\x1b[2J.exe"),
      Deleted("C:\\PROGRAM FILES\\bad\\rname\\x1b[31m\\w.exe")};
  for (const std::string& line : escaped) IndexOf(run, line);
  for (const std::string& line : run.lines) {
    EXPECT_EQ(std::string::npos, line.find_first_of("\r\x1b")) << line;
    EXPECT_NE(0u, line.find("C:\\forged")) << line;
  }
  const std::string logged = ReadAll(log);
  std::vector<std::string> logLines;
  for (size_t start = 0, end; start < logged.size(); start = end + 2) {
    end = logged.find("\r\n", start);
    if (end == std::string::npos) end = logged.size();
    logLines.push_back(logged.substr(start, end - start));
  }
  for (const std::string& line : logLines) EXPECT_EQ(std::string::npos, line.find_first_of("\r\n\x1b")) << line;
  for (const std::string& line : escaped) EXPECT_EQ(1, std::count(logLines.begin(), logLines.end(), line)) << line;
  EXPECT_FALSE(volume.Exists("WinDows/Temp/" + file));
  EXPECT_FALSE(volume.Exists("PROGRAM FILES/" + folder + "/w.exe"));
}

TEST(RescueHostile, DeepTreeIsWalkedWholeWithFewDescriptors) {
  TestVolume volume("deep");
  BuildInfectedXp(volume);
  std::string relative = "PROGRAM FILES", windows = "C:\\PROGRAM FILES";
  for (int level = 0; level < 100; ++level) {
    const std::string name = "level-" + std::to_string(1000 + level);
    relative += "/" + name;
    windows += "\\" + name;
  }
  volume.WriteWorm(relative + "/deep.exe");
  windows += "\\deep.exe";
  ASSERT_GT(windows.size(), 1000u);
  const RescueRun run = Rescue({volume.Root()}, "ulimit -n 64;");
  EXPECT_EQ(1, run.status) << run.out << run.err;
  IndexOf(run, Deleted(windows));
  IndexOf(run, "Total files infected\t\t:  5");
  EXPECT_FALSE(volume.Exists(relative + "/deep.exe"));
}

TEST(RescueHostile, ServiceInANonAsciiProfileIsRemovedInEveryControlSet) {
  TestVolume volume("non-ascii");
  BuildInfectedXp(volume);
  volume.WriteWorm("documents and settings/M\xC3\xBCller/svc.exe");
  TestHive system(volume.Path(xp::kSystem));
  for (const char* set : {"ControlSet001", "ControlSet002"}) {
    system.SetString(std::string(set) + "\\Services\\mueller", "ImagePath",
                     "C:\\Documents and Settings\\M\xFCller\\svc.exe");
  }
  system.Save();
  const RescueRun run = Rescue({volume.Root()});
  EXPECT_EQ(1, run.status) << run.out << run.err;
  IndexOf(run, std::string("Service mueller     ") + kVirus + " removed");
  const TestHive cleaned(volume.Path(xp::kSystem));
  EXPECT_FALSE(cleaned.KeyExists("ControlSet001\\Services\\mueller"));
  EXPECT_FALSE(cleaned.KeyExists("ControlSet002\\Services\\mueller"));
  EXPECT_TRUE(cleaned.KeyExists("ControlSet001\\Services\\legit"));
}

// Profiles named like the DEFAULT hive's key, or outside the 8-bit view the
// repair names keys in, are repaired like any other.
TEST(RescueHostile, ProfilesWhateverTheirNamesAreRepaired) {
  for (const char* name : {".DEFAULT", "\xD0\x90\xD0\xBB\xD0\xB8\xD1\x81\xD0\xB0", "\xD0\x90\xD0\xBD\xD0\xBD\xD0\xB0"}) {
    SCOPED_TRACE(name);
    TestVolume volume("profile-names");
    BuildInfectedXp(volume);
    const std::string fake = std::string("documents and settings/") + name + "/NTUSER.DAT";
    TestHive profile = TestHive::Create(volume.Path(fake));
    profile.SetDword(xp::kPolicyKey, "DisableRegistryTools", 1);
    profile.Save();
    const RescueRun run = Rescue({volume.Root()});
    EXPECT_EQ(1, run.status) << run.out << run.err;
    EXPECT_EQ("0", Policy(volume, xp::kDefault));
    EXPECT_EQ("0", Policy(volume, xp::kAlice));
    EXPECT_EQ("0", Policy(volume, fake));
  }
}

// Killed right after the hives were put in place (its first result line
// cannot be written): what the run set out to do is in the manifest, and
// --undo puts it back.
TEST(RescueHostile, ACleaningStoppedHalfWayIsUndone) {
  TestVolume volume("stopped");
  BuildInfectedXp(volume);
  // Every regular file's bytes, the backup aside.
  const auto contents = [&] {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(volume.Root())) {
      const std::string path = entry.path().string();
      if (entry.is_regular_file() && path.find("/Scourix/") == std::string::npos) files[path] = ReadAll(path);
    }
    return files;
  };
  const auto before = contents();
  int output[2];
  ASSERT_EQ(0, pipe(output));
  close(output[0]);  // the first line written ends the program (SIGPIPE)
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(output[1], STDOUT_FILENO);
    execl(kRescueProgram, kRescueProgram, volume.Root().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(output[1]);
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
  EXPECT_NE(before, contents()) << "the hives were replaced";
  const RescueRun undo = Rescue({"--undo", BackupFolder(volume), volume.Root()});
  EXPECT_EQ(0, undo.status) << undo.out << undo.err;
  size_t restored = 0;
  for (const std::string& line : undo.lines) restored += line.size() > 8 && line.rfind("restored") == line.size() - 8;
  EXPECT_EQ(4u, restored) << undo.out;  // the four hives; the files were never deleted
  EXPECT_EQ(before, contents());
}

TEST(RescueHostile, KeyHoldingABigValueIsNeverRewritten) {
  TestVolume volume("big-value");
  BuildInfectedXp(volume);
  std::string big(20000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  TestHive software(volume.Path(xp::kSoftware));
  software.SetRaw(xp::kRunKey, "blob", 3, big);  // REG_BINARY
  software.Save();
  ASSERT_TRUE(ConvertToBigData(volume.Path(xp::kSoftware), xp::kRunKey, "blob"));
  ASSERT_EQ(big, ReadValueAsWindows(volume.Path(xp::kSoftware), xp::kRunKey, "blob"));
  const RescueRun run = Rescue({volume.Root()});
  EXPECT_EQ(2, run.status) << run.out << run.err;
  const std::string refused = "System Registry     not repaired: ";
  size_t lines = 0;
  for (const std::string& line : run.lines) {
    lines += line.rfind(refused, 0) == 0 && line.find(" holds a value over 16,344 bytes") != std::string::npos;
  }
  EXPECT_EQ(1u, lines) << run.out;
  EXPECT_EQ(big, ReadValueAsWindows(volume.Path(xp::kSoftware), xp::kRunKey, "blob"));
  // The repair could not be made in full, so none of it is: the worm's files
  // and its configuration key stay for a run after the value is dealt with.
  for (const char* file : xp::kWormFiles) EXPECT_TRUE(volume.Exists(file)) << file;
  EXPECT_TRUE(TestHive(volume.Path(xp::kSoftware)).KeyExists(xp::kWormKey));
}

// The manifest's items by path below the volume's root: kind, size, SHA-256
// and what was done; stored, when given, gets each copy's name.
Entries ReadManifest(const std::string& backup, Entries* stored = nullptr) {
  Entries items;
  std::istringstream lines(ReadAll(backup + "/manifest.txt"));
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    EXPECT_EQ(8u, f.size()) << line;
    if (f.size() != 8) continue;
    items[f[7]] = f[0] + " " + f[2] + " " + f[3] + " " + f[5];
    if (stored != nullptr) (*stored)[f[7]] = backup + "/" + f[1];
  }
  return items;
}

TEST(RescueHostile, BackupHoldsWhatWasChangedAndUndoPutsItBack) {
  TestVolume volume("undo");
  BuildInfectedXp(volume);
  EXPECT_EQ(1, Rescue({"--report-only", volume.Root()}).status);
  EXPECT_FALSE(volume.Exists("Scourix"));
  const auto before = RegularFiles(volume);
  Entries expected;
  const auto expect = [&](const std::string& path, const char* kind, const char* outcome) {
    expected[path] = std::string(kind) + " " + std::to_string(fs::file_size(volume.Path(path))) + " " +
                     Sha256Of(volume.Path(path)) + " " + outcome;
  };
  for (const char* hive : {xp::kSoftware, xp::kSystem, xp::kDefault, xp::kAlice}) expect(hive, "hive", "replaced");
  Entries originals;
  for (const char* file : xp::kWormFiles) {
    expect(file, "file", "deleted");
    originals[file] = ReadAll(volume.Path(file));
  }

  ASSERT_EQ(1, Rescue({volume.Root()}).status);
  const std::string backup = BackupFolder(volume);
  Entries stored;
  EXPECT_EQ(expected, ReadManifest(backup, &stored));
  for (const char* file : xp::kWormFiles) {
    const std::string copy = stored[file];
    EXPECT_EQ("CLEAN\t" + copy + "\n", CommandOutput(Quote(SCOURIX_CHECK) + " " + Quote(copy)));
    EXPECT_FALSE(originals[file] == ReadAll(copy)) << copy << " holds the worm as it was";
  }

  const RescueRun undo = Rescue({"--undo", backup, volume.Root()});
  EXPECT_EQ(0, undo.status) << undo.out << undo.err;
  EXPECT_EQ(kNone, ChangedPaths(before, RegularFiles(volume)));
  const RescueRun again = Rescue({"--undo", backup, volume.Root()});
  EXPECT_EQ(0, again.status) << again.out << again.err;
  EXPECT_EQ(expected.size(), again.lines.size()) << again.out;
  for (const std::string& line : again.lines) EXPECT_NE(std::string::npos, line.find("     already as backed up"));
}

TEST(RescueHostile, UndoLeavesAHiveChangedSinceTheCleaningUnlessForced) {
  TestVolume volume("undo-changed");
  BuildInfectedXp(volume);
  const auto before = RegularFiles(volume);
  ASSERT_EQ(1, Rescue({volume.Root()}).status);
  TestHive software(volume.Path(xp::kSoftware));
  software.SetString("Changed", "by", "the user");
  software.Save();
  const std::string changed = ReadAll(volume.Path(xp::kSoftware));

  const RescueRun undo = Rescue({"--undo", BackupFolder(volume), volume.Root()});
  EXPECT_EQ(2, undo.status) << undo.out << undo.err;
  IndexOf(undo, "C:\\WinDows\\system32\\config\\SOFTWARE     not restored: changed since the cleaning "
                "(--force restores it all the same)");
  EXPECT_EQ(changed, ReadAll(volume.Path(xp::kSoftware)));
  auto restored = RegularFiles(volume), expected = before;
  restored.erase(volume.Path(xp::kSoftware));
  expected.erase(volume.Path(xp::kSoftware));
  EXPECT_EQ(kNone, ChangedPaths(expected, restored));

  const RescueRun forced = Rescue({"--undo", BackupFolder(volume), "--force", volume.Root()});
  EXPECT_EQ(0, forced.status) << forced.out << forced.err;
  EXPECT_EQ(kNone, ChangedPaths(before, RegularFiles(volume)));
}

// The first deleted file's line of the manifest given another path.
void SetFirstFilePath(const std::string& backup, const std::string& path) {
  std::string manifest = ReadAll(backup + "/manifest.txt");
  const size_t end = manifest.find('\n', manifest.find("\nfile\t") + 1);
  const size_t start = manifest.rfind('\t', end) + 1;
  std::ofstream(backup + "/manifest.txt", std::ios::binary) << manifest.replace(start, end - start, path);
}

TEST(RescueHostile, UndoOfATamperedBackupChangesNothing) {
  struct Case {
    const char* name;
    void (*tamper)(const std::string& backup);
  };
  const Case cases[] = {
      {"parent", [](const std::string& b) { SetFirstFilePath(b, "../outside"); }},
      {"absolute", [](const std::string& b) { SetFirstFilePath(b, "/tmp/outside"); }},
      {"set-id mode",
       [](const std::string& b) {
         std::string manifest = ReadAll(b + "/manifest.txt");
         const size_t line = manifest.find("\nfile\t") + 1;
         size_t field = line;
         for (int i = 0; i < 4; ++i) field = manifest.find('\t', field) + 1;
         manifest.replace(field, manifest.find('\t', field) - field, "6755");
         std::ofstream(b + "/manifest.txt", std::ios::binary) << manifest;
       }},
      {"damaged copy",
       [](const std::string& b) {
         Entries stored;
         ReadManifest(b, &stored);
         std::fstream copy(stored[xp::kWormFiles[0]], std::ios::binary | std::ios::in | std::ios::out);
         copy.seekg(100);
         const char byte = static_cast<char>(copy.get() ^ 0x01);
         copy.seekp(100);
         copy.put(byte);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestVolume volume("tampered");
    BuildInfectedXp(volume);
    EXPECT_EQ(1, Rescue({volume.Root()}).status);
    const std::string backup = BackupFolder(volume);
    c.tamper(backup);
    const auto before = volume.Snapshot();
    const RescueRun undo = Rescue({"--undo", backup, volume.Root()});
    EXPECT_EQ(3, undo.status) << undo.out << undo.err;
    EXPECT_NE(std::string::npos, undo.err.find("nothing was changed")) << undo.err;
    EXPECT_EQ(kNone, ChangedPaths(before, volume.Snapshot()));
  }
}

}  // namespace
