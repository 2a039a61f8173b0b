// scourix-cli.exe run as a deployment tool runs it: its lines, its log, its
// exit status, and the one-instance rule shared with Scourix.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "tests/e2e/seed.h"
#include "tests/wine/test_files.h"
#include "tests/wine/test_registry.h"

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
  const std::string out = "C:\\cli-out.txt", err = "C:\\cli-err.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE outFile = CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  const HANDLE errFile = CreateFileA(err.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = outFile;
  startup.hStdError = errFile;
  std::string command = "\"" + OwnFolder() + "\\" + program + "\" " + arguments;
  PROCESS_INFORMATION process{};
  CliRun run;
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &run.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(outFile);
  CloseHandle(errFile);
  run.out = Lines(ReadText(out));
  return run;
}

CliRun RunCli(const std::string& arguments) { return RunProgram("scourix-cli.exe", arguments); }

std::string Deleted(const std::string& path) { return Lines(path + "     W32/Gibe.F.Worm deleted\n"); }

TEST(Cli, CleansWithTheProgramsLinesItsLogAndStatus) {
  const e2e::Seed seed = e2e::SeedSamples(0);
  test_registry::SeedWorm();
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  ASSERT_TRUE(GetComputerNameA(computer, &size));
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
// drive C: standing in for the share.
TEST(Cli, StartupScriptRunsItFromTheShare) {
  const e2e::Seed seed = e2e::SeedSamples(0);
  ASSERT_TRUE(MakeFolders("C:\\gpshare\\logs"));
  ASSERT_TRUE(MakeFolders("C:\\gpshare\\records"));
  ASSERT_TRUE(CopyFileA((OwnFolder() + "\\scourix-cli.exe").c_str(), "C:\\gpshare\\scourix-cli.exe", FALSE));
  ASSERT_TRUE(SetEnvironmentVariableA("SCOURIX_SHARE", "C:\\gpshare"));
  const CliRun run = RunProgram("..\\windows\\system32\\cmd.exe", "/c C:\\data\\deploy\\startup.cmd");
  SetEnvironmentVariableA("SCOURIX_SHARE", nullptr);
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  ASSERT_TRUE(GetComputerNameA(computer, &size));
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

}  // namespace
