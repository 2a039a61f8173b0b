// scourix-rescue run as a user runs it, on generated Windows volumes: what it
// prints, what it leaves of the volume and its hives, and its exit status.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "fleet/summary.h"
#include "rescue/options.h"
#include "rescue/parallel_runs.h"
#include "tests/support/rescue_run.h"
#include "tests/support/test_hive.h"
#include "tests/support/test_volume.h"

namespace {

// The options a run of one target, or the run inside the appliance, is
// given: written out from the parsed value and read back, the same value.
TEST(RescueOptions, WrittenOutAndReadBackTheSame) {
  const auto parse = [](std::vector<std::string> words, RescueOptions& options, std::string& problem) {
    std::vector<const char*> argv = {"scourix-rescue"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    return ParseRescueOptions(static_cast<int>(argv.size()), argv.data(), options, problem);
  };
  const std::vector<std::vector<std::string>> commandLines = {
      {"/mnt/win"},
      {"--report-only", "--log", "/var/log/s.log", "--record", "/r/pc.json", "/mnt/win"},
      {"--backup", "/b", "--jobs", "4", "--readers", "12", "--if-windows", "a.img", "b.img"},
      {"--undo", "Scourix/backup-1", "--force", "/mnt/win"},
      {"--log", "a log with spaces", "--", "-a-target-with-a-dash"},
      {"--list-volumes"},
  };
  for (const std::vector<std::string>& words : commandLines) {
    RescueOptions options, again;
    std::string problem;
    ASSERT_TRUE(parse(words, options, problem)) << problem << " " << words[0];
    ASSERT_TRUE(parse(RescueArguments(options), again, problem)) << problem << " " << words[0];
    EXPECT_TRUE(options == again) << ::testing::PrintToString(RescueArguments(options));
  }
  // What the first run would refuse, written out, is refused alike.
  RescueOptions refused;
  std::string problem;
  EXPECT_FALSE(parse({"--log", "", "/mnt/win"}, refused, problem));
  EXPECT_EQ("--log needs a file name", problem);
}

TEST(RescueCli, CleansAnInfectedVolumeAndItsHives) {
  TestVolume volume("cleans");
  BuildInfectedXp(volume);
  const std::string log = ::testing::TempDir() + "rescue-cleans.log";
  std::remove(log.c_str());
  const RescueRun run = Rescue({"--log", log, volume.Root()});
  EXPECT_EQ(1, run.status) << run.out << run.err;
  EXPECT_EQ("", run.err);

  // The registry line comes with the first match, before its file's line;
  // the targets are walked in order; the service comes after the files.
  const size_t registry = IndexOf(run, std::string("System Registry     ") + kVirus + " removed");
  std::vector<size_t> files;
  for (const char* path : kXpWormPaths) files.push_back(IndexOf(run, Deleted(path)));
  EXPECT_LT(registry, files[0]);
  EXPECT_LT(std::max(files[0], files[1]), files[2]);
  EXPECT_LT(files[2], files[3]);
  EXPECT_EQ(files[3] + 1, IndexOf(run, std::string("Service worm     ") + kVirus + " removed"));
  std::vector<std::string> tail = {" "};
  for (const std::string& line : Statistics(kXpFilesInTargets, kXpWormFiles, kXpWormFiles)) tail.push_back(line);
  tail.push_back("Scanning completed");
  ExpectTail(run, tail);
  const size_t backup = IndexOf(run, "Backup of what was changed: " + BackupFolder(volume));
  EXPECT_EQ(files[3] + 2, backup);
  EXPECT_EQ(files.size() + 3 + tail.size(), run.lines.size()) << run.out;

  for (const char* gone : xp::kWormFiles) {
    EXPECT_FALSE(volume.Exists(gone)) << gone;
  }
  for (const char* kept : {"Other/outside.exe", "outside.exe", "PROGRAM FILES/App/outside.exe",
                           "PROGRAM FILES/App/helper.dll", "WinDows/system32/notepad.exe"}) {
    EXPECT_TRUE(volume.Exists(kept)) << kept;
  }

  const TestHive software(volume.Path(xp::kSoftware));
  EXPECT_FALSE(software.KeyExists(xp::kWormKey));
  EXPECT_FALSE(software.GetString(xp::kRunKey, "gibe"));
  EXPECT_EQ("\"%1\" %*", software.GetString("Classes\\exefile\\shell\\open\\command", ""));
  const TestHive system(volume.Path(xp::kSystem));
  EXPECT_FALSE(system.KeyExists("ControlSet001\\Services\\worm"));
  EXPECT_FALSE(system.KeyExists("ControlSet002\\Services\\worm"));
  EXPECT_TRUE(system.KeyExists("ControlSet001\\Services\\legit"));
  EXPECT_EQ("0", TestHive(volume.Path(xp::kAlice)).GetString(xp::kPolicyKey, "DisableRegistryTools"));
  EXPECT_EQ("0", TestHive(volume.Path(xp::kDefault)).GetString(xp::kPolicyKey, "DisableRegistryTools"));
  EXPECT_FALSE(TestHive(volume.Path(xp::kBob)).KeyExists(xp::kPolicyKey));

  // The log holds what was printed, in the Windows program's form.
  const std::string logged = ReadAll(log);
  EXPECT_EQ(0u, logged.find("Scourix Ver 1.0, scan of ")) << logged;
  EXPECT_NE(std::string::npos, logged.find("\r\n" + Deleted(kXpWormPaths[3]) + "\r\n")) << logged;
  EXPECT_NE(std::string::npos, logged.find("\r\nScanning completed\r\n\r\n")) << logged;

  // A second run finds a clean volume.
  const RescueRun again = Rescue({volume.Root()});
  EXPECT_EQ(0, again.status) << again.out;
  std::vector<std::string> clean = Statistics(kXpFilesInTargets - kXpWormFiles, 0, 0);
  clean.push_back("Scanning completed");
  EXPECT_EQ(clean, again.lines);
}

// --record: the machine as its volume names it, in the unattended Windows
// program's form, for scourix-fleet; a run stopped early records why.
TEST(RescueCli, RecordsTheRunForTheFleet) {
  TestVolume volume("record");
  BuildInfectedXp(volume);
  const std::string path = ::testing::TempDir() + "rescue-record.json";
  std::remove(path.c_str());
  const RescueRun run = Rescue({"--record", path, volume.Root()});
  ASSERT_EQ(1, run.status) << run.out << run.err;
  FleetEntry entry = ReadEntry("rescue-record.json", ReadAll(path));
  ASSERT_TRUE(entry.readable) << entry.problem;
  const ScanRecord& record = entry.record;
  EXPECT_EQ("XP-DESK", record.computer) << "the control set in use names it";
  EXPECT_EQ("5.1.2600 Service Pack 3", record.windows);
  EXPECT_EQ(1, record.exitStatus);
  EXPECT_EQ(kXpFilesInTargets, record.filesScanned);
  EXPECT_EQ(kXpWormFiles, record.filesInfected);
  EXPECT_EQ(kXpWormFiles, record.filesDeleted);
  EXPECT_TRUE(record.registryRepaired);
  EXPECT_EQ(1, record.servicesRemoved);
  EXPECT_FALSE(record.reportOnly);
  ScanRecord whole;  // the summary keeps no lines of a cleaned machine
  std::string error;
  ASSERT_TRUE(ParseRecordJson(ReadAll(path), whole, error)) << error;
  EXPECT_EQ(run.lines, whole.lines);
  EXPECT_EQ(MachineState::Cleaned, entry.state);
  EXPECT_EQ("", CommandOutput("ls " + Quote(::testing::TempDir()) + " | grep rescue-record.json.tmp || true"));

  // Report only, again: found, and counted as still needing attention.
  TestVolume infected("record-report");
  BuildInfectedXp(infected);
  const RescueRun report = Rescue({"--report-only", "--record", path, infected.Root()});
  ASSERT_EQ(1, report.status) << report.out << report.err;
  entry = ReadEntry("rescue-record.json", ReadAll(path));
  EXPECT_TRUE(entry.record.reportOnly);
  EXPECT_FALSE(entry.record.registryRepaired);
  EXPECT_EQ(MachineState::NeedsAttention, entry.state);

  // A hive that is a link stops the run before any change: 3, and why.
  TestVolume linked("record-linked");
  BuildInfectedXp(linked);
  std::remove(linked.Path(xp::kSystem).c_str());
  linked.Link(xp::kSystem, "/etc/hostname");
  const RescueRun stopped = Rescue({"--record", path, linked.Root()});
  ASSERT_EQ(3, stopped.status) << stopped.out << stopped.err;
  entry = ReadEntry("rescue-record.json", ReadAll(path));
  ASSERT_TRUE(entry.readable) << entry.problem;
  EXPECT_EQ(3, entry.record.exitStatus);
  EXPECT_EQ(linked.Root(), entry.record.computer) << "no hive could name it";
  ASSERT_EQ(1u, entry.record.lines.size());
  EXPECT_NE(std::string::npos, entry.record.lines[0].find("nothing was changed")) << entry.record.lines[0];

  // A record that cannot be written turns success into 2.
  const RescueRun unwritable = Rescue({"--record", "/proc/no-such-folder/r.json", volume.Root()});
  EXPECT_EQ(2, unwritable.status) << unwritable.err;
  EXPECT_NE(std::string::npos, unwritable.err.find("cannot write the record")) << unwritable.err;
  // Usage errors write nothing.
  std::remove(path.c_str());
  EXPECT_EQ(3, Rescue({"--record", path, "--undo", "x", volume.Root()}).status);
  EXPECT_EQ("", ReadAll(path));
}

// Several targets: each cleaned by a run of its own, in parallel; each one's
// lines together under its name; one record each; the worst status.
TEST(RescueCli, SeveralTargetsInParallel) {
  TestVolume first("many-a"), second("many-b"), broken("many-c");
  BuildInfectedXp(first);
  BuildInfectedXp(second);
  broken.WriteWorm("Program Files/worm.exe");  // no Windows directory: 3
  const std::string records = ::testing::TempDir() + "rescue-many-records";
  const std::string log = ::testing::TempDir() + "rescue-many.log";
  CommandOutput("rm -rf " + Quote(records) + " " + Quote(log) + "; mkdir " + Quote(records));
  RescueRun run = Rescue({"--jobs", "2", "--log", log, "--record", records, first.Root(), second.Root()});
  EXPECT_EQ(1, run.status) << run.out << run.err;
  for (const TestVolume* volume : {&first, &second}) {
    const size_t header = IndexOf(run, "==> " + volume->Root() + " <==");
    ASSERT_LT(header, run.lines.size()) << run.out;
    // Its lines follow it, uninterrupted, to its status.
    EXPECT_EQ(std::string("System Registry     ") + kVirus + " removed", run.lines[header + 1]);
    const size_t end = std::find(run.lines.begin() + header, run.lines.end(), "(exit status 1)") - run.lines.begin();
    ASSERT_LT(end, run.lines.size());
    EXPECT_EQ("Scanning completed", run.lines[end - 1]);
    for (size_t i = header + 1; i < end; ++i) EXPECT_EQ(std::string::npos, run.lines[i].find("==>")) << run.out;
    const FleetEntry entry = ReadEntry("x", ReadAll(records + "/" + TargetFileName(volume->Root()) + ".json"));
    EXPECT_TRUE(entry.readable) << entry.problem;
    EXPECT_EQ("XP-DESK", entry.record.computer);
    EXPECT_EQ(1, entry.record.exitStatus);
    for (const char* gone : xp::kWormFiles) EXPECT_FALSE(volume->Exists(gone)) << gone;
  }
  // One log entry per target, whole, in the targets' order.
  const std::string logged = ReadAll(log);
  const size_t firstEntry = logged.find("Scourix Ver 1.0, scan of ");
  const size_t secondEntry = logged.find("Scourix Ver 1.0, scan of ", firstEntry + 1);
  ASSERT_NE(std::string::npos, secondEntry) << logged;
  EXPECT_EQ(std::string::npos, logged.find("Scourix Ver 1.0, scan of ", secondEntry + 1));
  EXPECT_NE(std::string::npos, logged.rfind("Scanning completed", secondEntry)) << "the first entry is whole";

  // The worst status wins; a target that is no volume says why under its name.
  run = Rescue({"--jobs", "1", "--report-only", first.Root(), broken.Root()});
  EXPECT_EQ(3, run.status) << run.out;
  const size_t header = IndexOf(run, "==> " + broken.Root() + " <==");
  ASSERT_LT(header + 1, run.lines.size());
  EXPECT_NE(std::string::npos, run.lines[header + 1].find("no Windows directory")) << run.out;
  // A record folder that does not exist, or a log that cannot be written, is
  // refused before anything is done.
  TestVolume untouched("many-untouched");
  BuildInfectedXp(untouched);
  const auto before = untouched.Snapshot();
  EXPECT_EQ(3, Rescue({"--record", records + "/missing", untouched.Root(), broken.Root()}).status);
  EXPECT_EQ(3, Rescue({"--log", records + "/missing/log", untouched.Root(), broken.Root()}).status);
  EXPECT_EQ(before, untouched.Snapshot());
  // The same volume spelled two ways would be cleaned twice at once.
  EXPECT_EQ(3, Rescue({untouched.Root(), untouched.Root() + "/./"}).status);
  EXPECT_EQ(before, untouched.Snapshot());
  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {"--jobs", "0", first.Root()}, {"--jobs", "65", first.Root()}, {"--jobs", "2x", first.Root()},
           {"--readers", "0", first.Root()}, {"--readers", "65", first.Root()}, {"--readers", first.Root()},
           {"--undo", "x", first.Root(), second.Root()}, {first.Root(), "--report-only"}}) {
    EXPECT_EQ(3, Rescue(wrong).status) << ::testing::PrintToString(wrong);
  }
}

// Paths that give one file name ("a_b/v", "a/b_v") keep a record each.
TEST(RescueCli, SeveralTargetsNeverShareARecord) {
  TestVolume parent("many-names");
  for (const char* folder : {"a_b/v", "a/b_v"}) {
    parent.MakeFolder(folder);
    parent.WriteWorm(std::string(folder) + "/Program Files/worm.exe");  // no Windows directory: 3, recorded
  }
  const std::string records = ::testing::TempDir() + "rescue-names";
  CommandOutput("rm -rf " + Quote(records) + "; mkdir " + Quote(records));
  const RescueRun run = Rescue({"--record", records, parent.Path("a_b/v"), parent.Path("a/b_v")});
  EXPECT_EQ(3, run.status) << run.out;
  const std::string listed = CommandOutput("ls " + Quote(records));
  const std::string name = TargetFileName(parent.Path("a_b/v"));
  EXPECT_EQ(name + "-2.json\n" + name + ".json\n", listed);
}

// A German Windows XP: its registry puts the profiles and programs under
// German names, which are walked in the English ones' places.
TEST(RescueCli, LocalizedFoldersAreWalkedWhereTheVolumesRegistryPutsThem) {
  TestVolume volume("german");
  volume.WriteClean("WINDOWS/explorer.exe");
  TestHive software = TestHive::Create(volume.Path("WINDOWS/system32/config/SOFTWARE"));
  software.SetString("Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "C:\\Programme");
  software.SetString("Microsoft\\Windows NT\\CurrentVersion\\ProfileList", "ProfilesDirectory",
                     "%SystemDrive%\\Dokumente und Einstellungen");
  software.Save();
  TestHive::Create(volume.Path("Dokumente und Einstellungen/Hans/NTUSER.DAT")).Save();
  volume.WriteWorm("Dokumente und Einstellungen/Hans/Lokale Einstellungen/Temp/x.exe");
  volume.WriteWorm("PROGRAMME/App/app.exe");
  volume.WriteWorm("Program Files/Old/old.exe");
  volume.WriteWorm("Programmi/elsewhere.exe");  // named by no value here
  const RescueRun run = Rescue({volume.Root()});
  EXPECT_EQ(1, run.status) << run.out << run.err;
  const size_t profiles = IndexOf(run, Deleted("C:\\Dokumente und Einstellungen\\Hans\\Lokale Einstellungen\\Temp\\x.exe"));
  const size_t programs = IndexOf(run, Deleted("C:\\PROGRAMME\\App\\app.exe"));
  const size_t english = IndexOf(run, Deleted("C:\\Program Files\\Old\\old.exe"));
  EXPECT_LT(profiles, programs);
  EXPECT_LT(programs, english);
  EXPECT_TRUE(volume.Exists("Programmi/elsewhere.exe"));
  ExpectTail(run, {"Total files infected\t\t:  3", "Total files deleted\t\t:  3", "Scanning completed"});
}

TEST(RescueCli, ReportOnlyChangesNoByteOfTheVolume) {
  TestVolume volume("report");
  BuildInfectedXp(volume);
  const auto before = volume.Snapshot();
  const RescueRun run = Rescue({"--report-only", volume.Root()});
  EXPECT_EQ(1, run.status) << run.out << run.err;
  EXPECT_EQ(before, volume.Snapshot());
  IndexOf(run, std::string("System Registry     ") + kVirus + " found (report only: not repaired)");
  for (const char* path : kXpWormPaths) IndexOf(run, Found(path));
  IndexOf(run, std::string("Service worm     ") + kVirus + " found (report only: not removed)");
  std::vector<std::string> tail = Statistics(kXpFilesInTargets, kXpWormFiles, 0);
  tail.push_back("Scanning completed");
  ExpectTail(run, tail);
  EXPECT_EQ(std::string::npos, run.out.find(std::string("     ") + kVirus + " deleted")) << run.out;
}

TEST(RescueCli, HivesThatCannotBeOpenedStopTheRunBeforeAnyChange) {
  struct Case {
    const char* name;
    const char* hive;
    void (*damage)(const TestVolume&, const std::string&);
    const char* reason;
  };
  const Case cases[] = {
      {"truncated", xp::kBob,
       [](const TestVolume& v, const std::string& h) { v.WriteFile(h, ReadAll(v.Path(h)).substr(0, 6000)); },
       "damaged"},
      {"corrupt", xp::kSoftware,
       [](const TestVolume& v, const std::string& h) {
         std::string bytes = ReadAll(v.Path(h));
         bytes[0x30] ^= 0x55;
         v.WriteFile(h, bytes);
       },
       "damaged"},
      {"not-closed", xp::kSystem,
       [](const TestVolume& v, const std::string& h) {
         std::string bytes = ReadAll(v.Path(h));
         bytes[4] ^= 1;
         bytes[0x1FC] ^= 1;  // the checksum follows the sequence number
         v.WriteFile(h, bytes);
       },
       "log files"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestVolume volume(c.name);
    BuildInfectedXp(volume);
    c.damage(volume, c.hive);
    const auto before = volume.Snapshot();
    for (const bool reportOnly : {false, true}) {
      const RescueRun run = reportOnly ? Rescue({"--report-only", volume.Root()}) : Rescue({volume.Root()});
      EXPECT_EQ(3, run.status) << run.out << run.err;
      EXPECT_EQ("", run.out);
      EXPECT_NE(std::string::npos, run.err.find(volume.Path(c.hive))) << run.err;
      EXPECT_NE(std::string::npos, run.err.find(c.reason)) << run.err;
      EXPECT_NE(std::string::npos, run.err.find("nothing was changed")) << run.err;
      EXPECT_EQ(before, volume.Snapshot());
    }
  }
}

TEST(RescueCli, Windows98VolumeGetsTheFileScanAndALineAboutItsRegistry) {
  TestVolume volume("win98");
  volume.WriteFile("WINDOWS/SYSTEM.DAT", "CREG registry of Windows 98");
  volume.WriteFile("WINDOWS/USER.DAT", "CREG");
  volume.WriteWorm("WINDOWS/SYSTEM/gibe.exe");
  volume.WriteClean("Program Files/Accessories/wordpad.exe");
  const RescueRun run = Rescue({volume.Root()});
  EXPECT_EQ(2, run.status) << "its registry is not repaired\n" << run.out << run.err;
  std::vector<std::string> expected = {
      "System Registry     not repaired: a Windows 95/98/Me registry cannot be repaired offline",
      Deleted("C:\\WINDOWS\\SYSTEM\\gibe.exe"), "Backup of what was changed: " + BackupFolder(volume), " "};
  for (const std::string& line : Statistics(4, 1, 1)) expected.push_back(line);
  expected.push_back("Scanning completed");
  EXPECT_EQ(expected, run.lines);
  EXPECT_EQ("CREG registry of Windows 98", ReadAll(volume.Path("WINDOWS/SYSTEM.DAT")));
}

TEST(RescueCli, UsageAndVolumeErrors) {
  TestVolume volume("usage");
  volume.WriteWorm("Program Files/worm.exe");  // no Windows directory
  const auto before = volume.Snapshot();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"--frobnicate", volume.Root()}, {volume.Root(), volume.Root()}, {"--log"},
           {volume.Path("missing")}, {volume.Root()}, {"--log", volume.Root(), volume.Root()}}) {
    const RescueRun run = Rescue(args);
    EXPECT_EQ(3, run.status) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find("scourix-rescue: ")) << run.err;
  }
  EXPECT_NE(std::string::npos, Rescue({volume.Root()}).err.find("no Windows directory")) ;
  EXPECT_EQ(before, volume.Snapshot());
}

// What a person at a terminal sees: one progress line, redrawn in place,
// and gone when the statistics start.
TEST(RescueCli, ProgressLineOnlyOnATerminal) {
  TestVolume volume("terminal");
  BuildInfectedXp(volume);
  for (int i = 0; i < 2000; ++i) volume.WriteClean("PROGRAM FILES/Many/f" + std::to_string(i) + ".exe");
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(kRescueProgram, kRescueProgram, "--report-only", volume.Root().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  char buffer[4096];
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) seen.append(buffer, static_cast<size_t>(n));
  close(terminal);
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_EQ(1, WEXITSTATUS(status)) << seen;
  const std::string clear = "\r\033[K";
  const size_t lastClear = seen.rfind(clear);
  ASSERT_NE(std::string::npos, lastClear) << seen;
  EXPECT_NE(std::string::npos, seen.find(" files  0:0")) << seen;
  // Result lines arrive whole; after the last clearing only the report.
  // The progress line is cleared before the results, which come whole.
  const std::string results = seen.substr(lastClear + clear.size());
  EXPECT_EQ(0u, results.find("System Registry     ")) << seen;
  EXPECT_NE(std::string::npos, results.find("\r\n" + Found(kXpWormPaths[3]) + "\r\n")) << seen;
  EXPECT_NE(std::string::npos, results.find("\r\n \r\nScanning statistics")) << seen;
  EXPECT_EQ(std::string::npos, seen.find(" files  ", lastClear)) << seen;

  // Not a terminal: nothing but the lines.
  const RescueRun piped = Rescue({"--report-only", volume.Root()});
  EXPECT_EQ(std::string::npos, piped.out.find('\r'));
  EXPECT_EQ(std::string::npos, piped.out.find('\033'));
}

// Needs root's right to mount: a volume mounted read-only is refused unless
// nothing is to be changed.
TEST(RescueCli, ReadOnlyVolumeIsRefusedForCleaning) {
  TestVolume volume("readonly");
  BuildInfectedXp(volume);
  const std::string view = ::testing::TempDir() + "scourix-readonly-view";
  mkdir(view.c_str(), 0755);
  if (mount(volume.Root().c_str(), view.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount here";
  }
  const bool readOnly = mount(nullptr, view.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  RescueRun clean, report;
  if (readOnly) {
    clean = Rescue({view});
    report = Rescue({"--report-only", view});
  }
  umount(view.c_str());
  rmdir(view.c_str());
  ASSERT_TRUE(readOnly);
  EXPECT_EQ(3, clean.status);
  EXPECT_NE(std::string::npos, clean.err.find("is not writable")) << clean.err;
  EXPECT_EQ(1, report.status) << report.out << report.err;
  EXPECT_TRUE(volume.Exists("WinDows/system32/worm.exe"));
}

// Needs a file system that keeps the immutable flag: a copy that cannot be
// deleted is reported, and the run says not everything was removed.
TEST(RescueCli, FileThatCannotBeDeletedGivesStatusTwo) {
  TestVolume volume("immutable");
  BuildInfectedXp(volume);
  const std::string stuck = volume.Path("WinDows/Temp/dropped.exe");
  if (std::system(("chattr +i " + Quote(stuck) + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "no immutable files here";
  }
  const RescueRun run = Rescue({volume.Root()});
  std::system(("chattr -i " + Quote(stuck)).c_str());
  EXPECT_EQ(2, run.status) << run.out;
  IndexOf(run, std::string(kXpWormPaths[1]) + "     " + kVirus + " Delete failed");
  IndexOf(run, Deleted(kXpWormPaths[0]));
  ExpectTail(run, {"Total files deleted\t\t:  3", "Scanning completed"});
  EXPECT_TRUE(volume.Exists("WinDows/Temp/dropped.exe"));
}

}  // namespace
