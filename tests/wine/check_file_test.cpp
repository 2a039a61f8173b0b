// CheckFile on real files: verdicts, what a match records, and that the file
// is closed before anything acts on it.
#include "engine/check_file.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/scan_state.h"
#include "tests/support/progress_window.h"
#include "tests/wine/test_files.h"
#include "win32/file.h"

namespace {

const std::string kDir = "C:\\samples";

class CheckFileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(MakeFolders(kDir)); }
  void SetUp() override {
    scanState = ScanState{};
    scanState.memoryScanActive = 0;
  }
  void TearDown() override { scanState = ScanState{}; }
  static std::string Write(const std::string& name, const samples::Bytes& bytes) {
    const std::string path = kDir + "\\" + name;
    EXPECT_TRUE(WriteBytes(path, bytes)) << path;
    return path;
  }
};

TEST_F(CheckFileTest, StandardVariantsThroughTheWin32Reader) {
  int expected = 0;
  for (const samples::NamedSample& sample : samples::StandardVariants()) {
    const std::string path = Write(sample.name, sample.bytes);
    EXPECT_EQ(CheckFile("W32/Gibe.F.Worm", path.c_str()), sample.matches ? 1 : 0) << sample.name;
    EXPECT_EQ(Exists(path), !sample.matches) << sample.name;  // copies of the worm are deleted
    expected += sample.matches ? 1 : 0;
  }
  EXPECT_EQ(scanState.filesInfected, expected);
  EXPECT_EQ(scanState.filesDeleted, expected);
}

TEST_F(CheckFileTest, MatchIsNamedAndDeleted) {
  ProgressWindowStandIn window;
  ClearProgressMessages();
  const std::string path = Write("named.exe", samples::BuildSample());
  ASSERT_EQ(CheckFile("W32/Gibe.F.Worm", path.c_str()), 1);
  EXPECT_EQ(scanState.filesInfected, 1);
  EXPECT_STREQ(scanState.currentVirusName, "W32/Gibe.F.Worm");
  EXPECT_EQ(scanState.currentObject, path);
  EXPECT_EQ(scanState.currentAction, 100);
  EXPECT_EQ(scanState.memoryMatchPending, 0);
  ASSERT_EQ(ProgressMessages().size(), 1u);
  EXPECT_EQ(ProgressMessages()[0].text, path + "     W32/Gibe.F.Worm deleted");
}

TEST_F(CheckFileTest, DuringTheMemoryScanAMatchIsLeftPending) {
  scanState.memoryScanActive = 1;
  const std::string path = Write("pending.exe", samples::BuildSample());
  EXPECT_EQ(CheckFile("W32/Gibe.F.Worm", path.c_str()), 1);
  EXPECT_EQ(scanState.memoryMatchPending, 1);
  EXPECT_EQ(scanState.currentObject, path);
}

TEST_F(CheckFileTest, FileIsClosedOnceTheVerdictIsIn) {
  scanState.memoryScanActive = 1;  // the memory scan keeps the file for itself
  const std::string path = Write("closed.exe", samples::BuildSample());
  ASSERT_EQ(CheckFile("W32/Gibe.F.Worm", path.c_str()), 1);
  EXPECT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
}

TEST_F(CheckFileTest, UnreadableFilesAreSilentlyClean) {
  ProgressWindowStandIn window;
  ClearProgressMessages();
  EXPECT_EQ(CheckFile("W32/Gibe.F.Worm", (kDir + "\\missing.exe").c_str()), 0);
  EXPECT_EQ(CheckFile("W32/Gibe.F.Worm", kDir.c_str()), 0);  // a folder
  const std::string empty = Write("empty.exe", {});
  EXPECT_EQ(CheckFile("W32/Gibe.F.Worm", empty.c_str()), 0);
  // Held open by someone who shares nothing.
  const std::string locked = Write("locked.exe", samples::BuildSample());
  HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CheckFile("W32/Gibe.F.Worm", locked.c_str()), 0);
  CloseHandle(holder);
  EXPECT_EQ(scanState.filesInfected, 0);
  EXPECT_TRUE(ProgressMessages().empty());
}

TEST_F(CheckFileTest, ReadOnlyHiddenCopyIsDeleted) {
  const std::string path = Write("hidden.exe", samples::BuildSample());
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(CheckFile("W32/Gibe.F.Worm", path.c_str()), 1);
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(scanState.filesDeleted, 1);
}

DWORD RunAndWait(const std::string& path) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + path + "\"";
  if (!CreateProcessA(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(process.hProcess, 30000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

TEST_F(CheckFileTest, MarkedRealProgramStillRunsAndIsFound) {
  const std::string host = OwnFolder() + "\\sample-host.exe";
  samples::Bytes program = ReadBytes(host);
  ASSERT_FALSE(program.empty()) << host;
  EXPECT_EQ(CheckFile("W32/Gibe.F.Worm", host.c_str()), 0);
  ASSERT_TRUE(samples::AddSignatureSection(program));
  const std::string marked = Write("marked-host.exe", program);
  EXPECT_EQ(RunAndWait(marked), 7u);
  scanState.memoryScanActive = 1;  // found, and left in place
  EXPECT_EQ(CheckFile("W32/Gibe.F.Worm", marked.c_str()), 1);
}

}  // namespace
