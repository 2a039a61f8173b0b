// scourix-cli.exe run as a deployment tool runs it: its lines, its log, its
// exit status, and the one-instance rule shared with Scourix.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cleaning/profile_hives.h"
#include "engine/scan_state.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/seed.h"
#include "tests/samples/pe_sample.h"
#include "tests/support/progress_window.h"
#include "tests/wine/test_files.h"
#include "tests/wine/test_registry.h"
#include "win32/process.h"

namespace {

struct CliRun {
  DWORD status = STILL_ACTIVE;
  std::string out;
};

std::string ReadText(const std::string& path) {
  const samples::Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Standard output in text mode ends its lines in CR LF; the tests compare
// lines, and paths as Windows does, without regard to case.
std::string Lines(std::string text) {
  std::string lines;
  for (const char c : text) {
    if (c != '\r') lines += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lines;
}

// Runs one of the programs beside the test with its output in files, and
// waits (bounded) for it.
CliRun RunProgram(const std::string& program, const std::string& arguments) {
  const std::string out = "C:\\cli-out.txt";
  CliRun run;
  {
    e2e::Program started(OwnFolder() + "\\" + program, arguments, out, "C:\\cli-err.txt");
    run.status = started.Wait(120000);
  }
  run.out = Lines(ReadText(out));
  return run;
}

std::string ComputerName() {
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  return GetComputerNameA(computer, &size) ? computer : "";
}

CliRun RunCli(const std::string& arguments) { return RunProgram("scourix-cli.exe", arguments); }

std::string Deleted(const std::string& path) { return Lines(path + "     W32/Gibe.F.Worm deleted\n"); }

TEST(Cli, CleansWithTheProgramsLinesItsLogAndStatus) {
  const e2e::Seed seed = e2e::SeedSamples(0);
  test_registry::SeedWorm();
  const std::string computer = ComputerName();
  ASSERT_FALSE(computer.empty());
  ASSERT_TRUE(MakeFolders("C:\\share\\logs"));
  ASSERT_TRUE(MakeFolders("C:\\share\\records"));

  const CliRun run = RunCli("/LOG:C:\\share\\logs\\%COMPUTERNAME%.log /record:C:\\share\\records");
  EXPECT_EQ(1u, run.status) << run.out;
  EXPECT_NE(std::string::npos, run.out.find(Lines("System Registry     W32/Gibe.F.Worm removed\n"))) << run.out;
  for (const std::string& worm : seed.inside) {
    EXPECT_NE(std::string::npos, run.out.find(Deleted(worm))) << worm << "\n" << run.out;
    EXPECT_FALSE(Exists(worm)) << worm;
  }
  EXPECT_TRUE(Exists(seed.outside));
  EXPECT_NE(std::string::npos,
            run.out.find(Lines("Total files infected\t\t:  5\nTotal files deleted\t\t:  5\nScanning completed\n")))
      << run.out;
  // The log, where the option put it: every line the output has.
  const std::string log = Lines(ReadText(std::string("C:\\share\\logs\\") + computer + ".log"));
  EXPECT_EQ(0u, log.find(Lines("Scourix Ver 1.0, scan of "))) << log;
  EXPECT_NE(std::string::npos, log.find(run.out.substr(0, run.out.find("scanning completed")))) << log << run.out;
  EXPECT_FALSE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, test_registry::kExplorer + "\\CacheBox"));

  // The computer's record, for the fleet summary.
  const std::string record = ReadText(std::string("C:\\share\\records\\") + computer + ".json");
  for (const std::string& field :
       {std::string("\"computer\": \"") + computer + "\"", std::string("\"exitStatus\": 1,"),
        std::string("\"filesInfected\": 5,"), std::string("\"filesDeleted\": 5,"), std::string("\"filesQueued\": 0,"),
        std::string("\"registryRepaired\": true,"), std::string("\"Scanning completed\"\n  ]\n}")}) {
    EXPECT_NE(std::string::npos, record.find(field)) << field << "\n" << record;
  }
  EXPECT_NE(std::string::npos, record.find("C:\\\\windows\\\\system32\\\\drivers\\\\etc\\\\worm.exe     W32/Gibe.F.Worm deleted"))
      << record;

  // The fleet summary of that one machine.
  const CliRun fleet = RunProgram("scourix-fleet.exe", "C:\\share\\records");
  EXPECT_EQ(0u, fleet.status) << fleet.out;
  EXPECT_NE(std::string::npos, fleet.out.find(Lines(std::string(computer) + "     cleaned     exit 1"))) << fleet.out;

  // Clean now; /quiet prints nothing.
  const CliRun again = RunCli("-quiet");
  EXPECT_EQ(0u, again.status) << again.out;
  EXPECT_EQ("", again.out);
}

// The Group Policy startup script, run by Wine's own cmd, with a folder of
// drive C: standing in for the share. Out of reach, or without the program,
// the share gives 4 (3 is the program's own usage error or "another
// Scourix"), and nothing runs.
TEST(Cli, StartupScriptRunsItFromTheShare) {
  const e2e::Seed seed = e2e::SeedSamples(0);
  ASSERT_TRUE(MakeFolders("C:\\gpshare\\logs"));
  ASSERT_TRUE(MakeFolders("C:\\gpshare\\records"));
  for (const char* share : {"C:\\gpshare-offline", "C:\\gpshare"}) {
    ASSERT_TRUE(SetEnvironmentVariableA("SCOURIX_SHARE", share));
    const CliRun unreachable = RunProgram("..\\windows\\system32\\cmd.exe", "/c C:\\data\\deploy\\startup.cmd");
    SetEnvironmentVariableA("SCOURIX_SHARE", nullptr);
    EXPECT_EQ(4u, unreachable.status) << share << "\n" << unreachable.out;
    EXPECT_EQ("", unreachable.out) << share;
    for (const std::string& worm : seed.inside) EXPECT_TRUE(Exists(worm)) << share << ": " << worm;
  }
  const auto nothingIn = [](const char* pattern) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return search == INVALID_HANDLE_VALUE;
  };
  EXPECT_FALSE(Exists("C:\\gpshare-offline"));
  EXPECT_TRUE(nothingIn("C:\\gpshare\\logs\\*.log"));
  EXPECT_TRUE(nothingIn("C:\\gpshare\\records\\*.json"));

  ASSERT_TRUE(CopyFileA((OwnFolder() + "\\scourix-cli.exe").c_str(), "C:\\gpshare\\scourix-cli.exe", FALSE));
  ASSERT_TRUE(SetEnvironmentVariableA("SCOURIX_SHARE", "C:\\gpshare"));
  const CliRun run = RunProgram("..\\windows\\system32\\cmd.exe", "/c C:\\data\\deploy\\startup.cmd");
  SetEnvironmentVariableA("SCOURIX_SHARE", nullptr);
  const std::string computer = ComputerName();
  ASSERT_FALSE(computer.empty());
  EXPECT_EQ(1u, run.status) << run.out;
  EXPECT_EQ("", run.out) << "/quiet";
  for (const std::string& worm : seed.inside) EXPECT_FALSE(Exists(worm)) << worm;
  EXPECT_NE(std::string::npos,
            ReadText(std::string("C:\\gpshare\\logs\\") + computer + ".log").find("Scanning completed"));
  EXPECT_NE(std::string::npos,
            ReadText(std::string("C:\\gpshare\\records\\") + computer + ".json").find("\"exitStatus\": 1,"));
}

TEST(Cli, OneScourixAtATime) {
  // Scourix.exe's window, at any stage, or another scourix-cli.
  const HWND window = CreateWindowExA(0, "STATIC", "Scourix Ver 1.0", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  CliRun run = RunCli("");
  DestroyWindow(window);
  EXPECT_EQ(3u, run.status);
  EXPECT_EQ("", run.out);

  const HANDLE mutex = CreateMutexA(nullptr, TRUE, "Scourix.Unattended.Instance");
  ASSERT_NE(nullptr, mutex);
  run = RunCli("/quiet");
  CloseHandle(mutex);
  EXPECT_EQ(3u, run.status);
}

TEST(Cli, UsageAndUsageErrors) {
  CliRun run = RunCli("/?");
  EXPECT_EQ(0u, run.status);
  EXPECT_NE(std::string::npos, run.out.find(Lines("Exit status: 0 nothing found"))) << run.out;
  for (const char* wrong : {"/frobnicate", "C:\\", "/log:", "/quiet:yes"}) {
    run = RunCli(wrong);
    // The message goes to standard error, which did not reach the file
    // handed over by CreateProcess under Wine here (standard output does).
    EXPECT_EQ(3u, run.status) << wrong;
    EXPECT_EQ("", run.out) << wrong;
  }
}


// What comes from the machine: a variable that brings ".." into /log or
// /record is refused before anything is done, and a computer name Windows
// cannot use for a file gets a file of its own, the record keeping the name.
TEST(Cli, PathsAndNamesFromTheMachine) {
  ASSERT_TRUE(SetEnvironmentVariableA("SCOURIX_UP", "..\\.."));
  ASSERT_TRUE(MakeFolders("C:\\deep\\logs\\here"));
  CliRun run = RunCli("/report /log:C:\\deep\\logs\\here\\%SCOURIX_UP%\\escaped.log");
  EXPECT_EQ(3u, run.status);
  EXPECT_FALSE(Exists("C:\\deep\\escaped.log"));
  run = RunCli("/report /record:C:\\deep\\logs\\here\\%SCOURIX_UP%");
  EXPECT_EQ(3u, run.status);
  EXPECT_FALSE(Exists("C:\\deep\\" + ComputerName() + ".json"));
  // The administrator's own ".." stays theirs.
  ASSERT_TRUE(SetEnvironmentVariableA("SCOURIX_HERE", "here"));
  run = RunCli("/report /record:C:\\deep\\logs\\%SCOURIX_HERE%\\..");
  EXPECT_LE(run.status, 1u);
  EXPECT_TRUE(Exists("C:\\deep\\logs\\" + ComputerName() + ".json"));

  const std::string key = "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
  const std::optional<test_registry::Value> name = test_registry::Read(HKEY_LOCAL_MACHINE, key, "ComputerName");
  ASSERT_TRUE(name.has_value());
  ASSERT_TRUE(test_registry::WriteRaw(HKEY_LOCAL_MACHINE, key, "ComputerName", REG_SZ, std::string("PC/1", 5)));
  ASSERT_TRUE(MakeFolders("C:\\names"));
  run = RunCli("/report /record:C:\\names");
  ASSERT_TRUE(test_registry::WriteRaw(HKEY_LOCAL_MACHINE, key, "ComputerName", name->type, name->data + '\0'));
  EXPECT_LE(run.status, 1u);
  // The cleaned name and the first 8 hex digits of SHA-256("PC/1").
  const std::string record = ReadText("C:\\names\\PC_1-ddbb6b40.json");
  EXPECT_NE(std::string::npos, record.find("\"computer\": \"PC/1\",")) << record;
}

// Every file and folder below folder, with size and last write time, in
// order; the names in skip (whole paths, lower case) are left out.
void ListTree(const std::string& folder, const std::vector<std::string>& skip, std::vector<std::string>& out) {
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "\\" + name;
    if (std::find(skip.begin(), skip.end(), Lines(path)) != skip.end()) continue;
    out.push_back(path + " " + std::to_string(entry.nFileSizeLow) + " " +
                  std::to_string(entry.ftLastWriteTime.dwLowDateTime) + " " + std::to_string(entry.dwFileAttributes));
    const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link) ListTree(path, skip, out);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
}

// Every key below root\path with its values, as text.
void DumpKey(HKEY root, const std::string& path, std::string& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  out += "[" + path + "]\n";
  std::vector<char> name(16384), data(1 << 16);
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                      &dataSize) != ERROR_SUCCESS) {
      break;
    }
    out += std::string(name.data(), nameSize) + "=" + std::to_string(type) + ":" + std::string(data.data(), dataSize) + "\n";
  }
  std::vector<std::string> subKeys;
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    if (RegEnumKeyExA(key, index, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subKeys.push_back(std::string(name.data(), nameSize));
  }
  RegCloseKey(key);
  for (const std::string& subKey : subKeys) DumpKey(root, path.empty() ? subKey : path + "\\" + subKey, out);
}

struct Snapshot {
  std::vector<std::string> files;
  std::string registry;
};

// The whole drive C: and the registry, but for the files a test itself
// writes (the captured output, the record folder).
Snapshot TakeSnapshot(const std::vector<std::string>& skip) {
  Snapshot snapshot;
  ListTree("C:", skip, snapshot.files);
  std::sort(snapshot.files.begin(), snapshot.files.end());
  DumpKey(HKEY_LOCAL_MACHINE, "Software", snapshot.registry);
  DumpKey(HKEY_LOCAL_MACHINE, "System", snapshot.registry);
  DumpKey(HKEY_USERS, "", snapshot.registry);
  return snapshot;
}

TEST(Cli, ReportChangesNothingAndSaysSo) {
  const e2e::Seed seed = e2e::SeedSamples(0);
  test_registry::SeedWorm();
  ASSERT_TRUE(MakeFolders("C:\\reports"));
  const std::vector<std::string> skip = {"c:\\cli-out.txt", "c:\\cli-err.txt", "c:\\reports"};
  const Snapshot before = TakeSnapshot(skip);
  ASSERT_GT(before.files.size(), 100u);

  const CliRun run = RunCli("/report /record:C:\\reports");
  EXPECT_EQ(1u, run.status) << run.out;
  EXPECT_EQ(0u, run.out.find(Lines("Report only: nothing is ended, deleted, repaired or queued\n"))) << run.out;
  EXPECT_NE(std::string::npos,
            run.out.find(Lines("System Registry     W32/Gibe.F.Worm found (report only: not repaired)\n")))
      << run.out;
  for (const std::string& worm : seed.inside) {
    EXPECT_NE(std::string::npos, run.out.find(Lines(worm + "     W32/Gibe.F.Worm found (report only: not deleted)\n")))
        << worm << "\n" << run.out;
  }
  EXPECT_NE(std::string::npos,
            run.out.find(Lines("Total files infected\t\t:  5\nTotal files deleted\t\t:  0\nScanning completed\n")))
      << run.out;
  const Snapshot after = TakeSnapshot(skip);
  std::vector<std::string> changed;
  std::set_symmetric_difference(before.files.begin(), before.files.end(), after.files.begin(), after.files.end(),
                                std::back_inserter(changed));
  EXPECT_TRUE(changed.empty()) << ::testing::PrintToString(changed);
  EXPECT_TRUE(before.registry == after.registry) << "the registry changed";
  const std::string record = ReadText("C:\\reports\\" + ComputerName() + ".json");
  EXPECT_NE(std::string::npos, record.find("\"reportOnly\": true,")) << record;
  EXPECT_NE(std::string::npos, record.find("\"exitStatus\": 1,")) << record;

  // The fleet summary counts that machine as one that still needs attention.
  const CliRun fleet = RunProgram("scourix-fleet.exe", "C:\\reports");
  EXPECT_EQ(1u, fleet.status) << fleet.out;
  EXPECT_NE(std::string::npos, fleet.out.find(Lines(ComputerName() + "     needs attention     exit 1 (report only)")))
      << fleet.out;
}

// A copy held open by another program cannot be deleted: it waits for the
// next start of Windows, and the deployment tool hears 3010.
TEST(Cli, AFileInUseIsQueuedAndTheStatusAsksForARestart) {
  ASSERT_TRUE(MakeFolders("C:\\Program Files\\Held"));
  samples::Bytes program = ReadBytes(OwnFolder() + "\\sample-host.exe");
  ASSERT_TRUE(samples::AddSignatureSection(program));
  const std::string held = "C:\\Program Files\\Held\\held.exe";
  ASSERT_TRUE(WriteBytes(held, program));
  e2e::Program holder(OwnFolder() + "\\sample-host.exe", "hold \"" + held + "\" 60000");
  ASSERT_TRUE(holder.Started());
  ASSERT_TRUE(e2e::WaitUntil([&] { return Exists(held + ".held"); }, 10000));
  ASSERT_TRUE(MakeFolders("C:\\held-records"));

  const CliRun run = RunCli("/record:C:\\held-records");
  EXPECT_EQ(3010u, run.status) << run.out;
  EXPECT_NE(std::string::npos, run.out.find(Lines(held + "     W32/Gibe.F.Worm Delete failed\n"))) << run.out;
  EXPECT_TRUE(Exists(held));
  const std::string record = ReadText("C:\\held-records\\" + ComputerName() + ".json");
  EXPECT_NE(std::string::npos, record.find("\"exitStatus\": 3010,")) << record;
  EXPECT_NE(std::string::npos, record.find("\"filesQueued\": 1,")) << record;
  const auto pending = test_registry::Read(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                                           "PendingFileRenameOperations");
  ASSERT_TRUE(pending.has_value());
  EXPECT_NE(std::string::npos, Lines(pending->data).find("held.exe")) << pending->data;
}

// As Windows 98 (Wine's per-program version setting): the 9x family's
// memory scan and queue, wininit.ini, and no profile hives to load.
TEST(Cli, OnTheWindows98Family) {
  const std::string setting = "Software\\Wine\\AppDefaults\\scourix-cli.exe";
  ASSERT_TRUE(test_registry::WriteRaw(HKEY_CURRENT_USER, setting, "Version", REG_SZ, "win98"));
  const e2e::Seed seed = e2e::SeedSamples(0);
  test_registry::SeedWorm();
  ASSERT_TRUE(MakeFolders("C:\\Program Files\\Held98"));
  samples::Bytes program = ReadBytes(OwnFolder() + "\\sample-host.exe");
  ASSERT_TRUE(samples::AddSignatureSection(program));
  const std::string held = "C:\\Program Files\\Held98\\held.exe";
  ASSERT_TRUE(WriteBytes(held, program));
  DeleteFileA("C:\\windows\\wininit.ini");
  ASSERT_TRUE(MakeFolders("C:\\records98"));
  CliRun run;
  {
    e2e::Program holder(OwnFolder() + "\\sample-host.exe", "hold \"" + held + "\" 60000");
    ASSERT_TRUE(holder.Started());
    ASSERT_TRUE(e2e::WaitUntil([&] { return Exists(held + ".held"); }, 10000));
    run = RunCli("/record:C:\\records98");
  }
  RegDeleteKeyA(HKEY_CURRENT_USER, setting.c_str());
  EXPECT_EQ(3010u, run.status) << run.out;
  for (const std::string& worm : seed.inside) EXPECT_FALSE(Exists(worm)) << worm;
  EXPECT_NE(std::string::npos, run.out.find(Lines("System Registry     W32/Gibe.F.Worm removed\n"))) << run.out;
  EXPECT_NE(std::string::npos, Lines(ReadText("C:\\windows\\wininit.ini")).find("nul=")) << "queued as 9x queues";
  const std::string record = ReadText("C:\\records98\\" + ComputerName() + ".json");
  EXPECT_NE(std::string::npos, record.find("\"windows\": \"4.10.")) << record;
  EXPECT_NE(std::string::npos, record.find("\"filesQueued\": 1,")) << record;
}

// The profiles' hives that are not loaded: a good one is loaded, repaired
// and unloaded; one that is not a hive is named and gives 2; one whose
// folder is gone is passed over.
struct ProfileHives : ::testing::Test {
  static constexpr char kGood[] = "S-1-5-21-7-7-7-1001";
  static constexpr char kBroken[] = "S-1-5-21-7-7-7-1002";
  static constexpr char kGone[] = "S-1-5-21-7-7-7-1003";
  void SetUp() override {
    ASSERT_TRUE(EnablePrivilege("SeBackupPrivilege"));
    // A hive file in Wine's format, from a key of the test's own.
    const std::string source = "Software\\ScourixHiveSource";
    ASSERT_TRUE(test_registry::WriteRaw(HKEY_CURRENT_USER, source + test_registry::kPolicy, "DisableRegistryTools",
                                        REG_SZ, "1"));
    ASSERT_TRUE(MakeFolders("C:\\users\\bob"));
    ASSERT_TRUE(MakeFolders("C:\\users\\carl"));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, source.c_str(), 0, KEY_READ, &key));
    DeleteFileA("C:\\users\\bob\\NTUSER.DAT");
    EXPECT_EQ(ERROR_SUCCESS, RegSaveKeyA(key, "C:\\users\\bob\\NTUSER.DAT", nullptr));
    RegCloseKey(key);
    ASSERT_TRUE(WriteText("C:\\users\\carl\\NTUSER.DAT", "not a hive"));
    Profile(kGood, "%SystemDrive%\\users\\bob");
    Profile(kBroken, "C:\\users\\carl\\");
    Profile(kGone, "C:\\users\\dora");
  }
  void TearDown() override {
    for (const char* sid : {kGood, kBroken, kGone}) {
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kProfileListKey) + "\\" + sid).c_str());
    }
  }
  static void Profile(const char* sid, const char* path) {
    ASSERT_TRUE(test_registry::WriteRaw(HKEY_LOCAL_MACHINE, std::string(kProfileListKey) + "\\" + sid,
                                        "ProfileImagePath", REG_EXPAND_SZ, path));
  }
  static bool Mounted(const char* sid) { return test_registry::KeyExists(HKEY_USERS, ProfileMountName(sid)); }
};
constexpr char ProfileHives::kGood[];
constexpr char ProfileHives::kBroken[];
constexpr char ProfileHives::kGone[];

// Wine keeps a loaded hive's changes in memory and never writes them back
// to its file: the repair is seen just before the unload.
std::string policySeen;
long UnloadAfterLooking(const char* name) {
  const auto policy =
      test_registry::Read(HKEY_USERS, std::string(name) + test_registry::kPolicy, "DisableRegistryTools");
  policySeen += std::string(name) + "=" + (policy ? policy->data : "none") + ";";
  return SystemProfileHiveCalls().unload(name);
}

TEST_F(ProfileHives, LoadedRepairedAndUnloaded) {
  scanState = ScanState{};
  const auto window = std::make_unique<ProgressWindowStandIn>();
  ClearProgressMessages();
  policySeen.clear();
  const ProfileHiveCalls calls = {SystemProfileHiveCalls().load, UnloadAfterLooking};
  EXPECT_EQ(1, RepairUnloadedProfileHives(calls));
  EXPECT_EQ("Scourix-" + std::string(kGood) + "=0;Scourix-" + kBroken + "=none;", policySeen);
  std::vector<std::string> lines;
  for (const ProgressMessage& m : ProgressMessages()) {
    if (m.message == AppendLineMessage) lines.push_back(m.text);
  }
  EXPECT_EQ(std::vector<std::string>{"C:\\users\\carl\\NTUSER.DAT     W32/Gibe.F.Worm Repair failed: the profile's hive "
                                     "could not be loaded (error 1017)"},
            lines);
  for (const char* sid : {kGood, kBroken, kGone}) EXPECT_FALSE(Mounted(sid)) << sid;
  scanState = ScanState{};
}

TEST_F(ProfileHives, TheUnattendedProgramRepairsThemAndSaysWhichFailed) {
  e2e::SeedSamples(0);
  test_registry::SeedWorm();
  const CliRun run = RunCli("");
  EXPECT_EQ(2u, run.status) << run.out;
  EXPECT_NE(std::string::npos, run.out.find(Lines("System Registry     W32/Gibe.F.Worm removed\n"))) << run.out;
  EXPECT_NE(std::string::npos, run.out.find(Lines("C:\\users\\carl\\NTUSER.DAT     W32/Gibe.F.Worm Repair failed: "
                                                  "the profile's hive could not be loaded (error 1017)\n")))
      << run.out;
  EXPECT_EQ(std::string::npos, run.out.find("bob")) << run.out;
  for (const char* sid : {kGood, kBroken, kGone}) EXPECT_FALSE(Mounted(sid)) << sid;

  // Where the worm's key is not found, no user's hive is touched.
  WriteText("C:\\users\\carl\\NTUSER.DAT", "still not a hive");
  const CliRun clean = RunCli("");
  EXPECT_EQ(0u, clean.status) << clean.out;
  EXPECT_EQ(std::string::npos, clean.out.find("carl")) << clean.out;
}

// Ctrl+C ends the scan at the next file, as Cancel does. Under Wine here a
// program without a terminal has no console: the test makes one (a plain
// AllocConsole fails, FreeConsole first helps) and sends Ctrl+C to the
// program's own process group; Ctrl+Break never arrives under this Wine.
// Once, on a loaded machine, Wine's console host aborted ("malloc assertion
// failure") and no Ctrl+C arrived at all: a run that never ends is tried once
// more on a new console; a program that ignores Ctrl+C fails both.
// Last in the suite: the test keeps its new console.
TEST(CliInterrupted, CtrlCEndsTheScanWithScanningTerminated) {
  e2e::SeedSamples(3000);
  ASSERT_TRUE(MakeFolders("C:\\interrupted"));
  const std::string out = "C:\\interrupted-out.txt";
  DWORD status = STILL_ACTIVE;
  for (int attempt = 0; attempt < 2 && status == STILL_ACTIVE; ++attempt) {
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    e2e::Program cli(OwnFolder() + "\\scourix-cli.exe", "/record:C:\\interrupted", out, "",
                     CREATE_NEW_PROCESS_GROUP);
    ASSERT_TRUE(cli.Started());
    // Sent until the program ends: before its handler is set, its new
    // process group ignores Ctrl+C.
    for (int i = 0; i < 150 && (status = cli.Wait(200)) == STILL_ACTIVE; ++i) {
      GenerateConsoleCtrlEvent(CTRL_C_EVENT, cli.Id());
    }
  }
  const std::string output = Lines(ReadText(out));
  EXPECT_EQ(2u, status) << output;
  EXPECT_NE(std::string::npos, output.find("scanning terminated")) << output;
  const std::string record = ReadText("C:\\interrupted\\" + ComputerName() + ".json");
  EXPECT_NE(std::string::npos, record.find("\"exitStatus\": 2,")) << record;
  EXPECT_NE(std::string::npos, record.find("\"Scanning terminated\"\n  ]")) << record;
}

}  // namespace
