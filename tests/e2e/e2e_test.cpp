// End-to-end: Scourix.exe started as a program and driven through its real
// windows from this process, under Wine (with Xvfb for the screenshots).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/seed.h"
#include "tests/samples/pe_sample.h"
#include "tests/wine/test_files.h"
#include "tests/wine/test_registry.h"

namespace {

using e2e::kCaption;

constexpr DWORD kWindowWait = 20000;
constexpr DWORD kScanWait = 120000;

std::string ScourixPath() { return OwnFolder() + "\\Scourix.exe"; }

// Files a whole scan would count: the four targets, links not entered.
int CountFiles(const std::string& folder) {
  int count = 0;
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::string name = entry.cFileName;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ++count;
    } else if (name != "." && name != ".." && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      count += CountFiles(folder + "\\" + name);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return count;
}

int FilesInScanTargets() {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  std::string tempFolder = temp;
  if (!tempFolder.empty() && tempFolder.back() == '\\') tempFolder.pop_back();
  return CountFiles("C:\\windows") + CountFiles("C:\\Documents and Settings") + CountFiles("C:\\Program Files") +
         CountFiles(tempFolder);
}

class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    seed_ = new e2e::Seed(e2e::SeedSamples(3000));
    MakeFolders("C:\\artifacts");
  }
  // Every test starts from an infected machine, whatever ran before it.
  void SetUp() override {
    e2e::SeedSamples(0);
    test_registry::SeedWorm();
  }
  static void TearDownTestSuite() {
    delete seed_;
    seed_ = nullptr;
  }

  // Starts Scourix and waits for its intro dialog.
  HWND StartAtIntro() {
    program_.reset(new e2e::Program(ScourixPath()));
    EXPECT_TRUE(program_->Started());
    return e2e::WaitForDialog(kCaption, IDC_QUESTION, program_->Id(), kWindowWait);
  }
  HWND PressOkForProgress(HWND intro) {
    e2e::Press(intro, IDOK);
    return e2e::WaitForDialog(kCaption, IDC_RESULT_LIST, program_->Id(), kWindowWait);
  }
  // Waits for a status line, e.g. "Scanning completed".
  static bool WaitForStatus(HWND progress, const char* status, DWORD ms) {
    return e2e::WaitUntil([&] { return e2e::ItemText(progress, IDC_STATUS) == status; }, ms);
  }
  // Waits until the file scan walks the bulk folder (the memory scan shows
  // process paths first).
  static bool WaitForScanning(HWND progress) {
    return e2e::WaitUntil([&] { return e2e::ItemText(progress, IDC_STATUS).find("\\bulk\\") != std::string::npos; },
                          kScanWait);
  }
  static HWND WaitForWarning() { return e2e::WaitForDialog("Warning", 0xFFFF, 0, kWindowWait); }
  static void Shot(HWND window, const char* name) {
    EXPECT_TRUE(e2e::SaveScreenshot(window, std::string("C:\\artifacts\\") + name + ".bmp")) << name;
  }
  static std::string Statistic(const std::vector<std::string>& lines, const std::string& label) {
    for (const std::string& line : lines) {
      if (line.rfind(label, 0) == 0) return line.substr(label.size());
    }
    return "(missing)";
  }

  // A whole scan, OK pressed: the result list once the scan has returned.
  std::vector<std::string> ScanToTheEnd() {
    HWND progress = PressOkForProgress(StartAtIntro());
    if (progress == nullptr) return {};
    EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::ItemVisible(progress, IDC_FINISH); }, kScanWait));
    EXPECT_EQ(e2e::ItemText(progress, IDC_STATUS), "Scanning completed");
    return e2e::ListLines(GetDlgItem(progress, IDC_RESULT_LIST));
  }

  static e2e::Seed* seed_;
  std::unique_ptr<e2e::Program> program_;
};

e2e::Seed* EndToEnd::seed_ = nullptr;

const char kWindowsLog[] = "C:\\windows\\Scourix.log";
std::string TempLog() {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  return std::string(temp) + "Scourix.log";
}

// A file's lines, each ended by CR LF (or the file's end).
std::vector<std::string> CrLfLines(const std::string& path) {
  const samples::Bytes bytes = ReadBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// The results log's entries, each a list of lines beginning with its header.
std::vector<std::vector<std::string>> LogEntries(const std::string& path) {
  std::vector<std::vector<std::string>> entries;
  for (const std::string& line : CrLfLines(path)) {
    if (line.rfind("Scourix Ver 1.0, scan of ", 0) == 0) entries.emplace_back();
    if (entries.empty()) ADD_FAILURE() << "text before the first entry: " << line;
    else entries.back().push_back(line);
  }
  return entries;
}

TEST_F(EndToEnd, AnotherWindowWithTheCaptionStopsASecondCopy) {
  const HWND other = CreateWindowExA(0, "STATIC", kCaption, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  e2e::Program second(ScourixPath());
  ASSERT_TRUE(second.Started());
  EXPECT_EQ(second.Wait(kWindowWait), 0u);
  EXPECT_EQ(e2e::WaitForDialog(kCaption, 0, second.Id(), 0), nullptr);
  DestroyWindow(other);
}

TEST_F(EndToEnd, CancelInTheIntroScansNothing) {
  const HWND intro = StartAtIntro();
  ASSERT_NE(intro, nullptr);
  EXPECT_EQ(e2e::ItemText(intro, IDC_HEADLINE), "Scourix Ver 1.0 - Program to detect and clean W32/Gibe.F.Worm");
  EXPECT_EQ(e2e::ItemText(intro, IDC_QUESTION), "Scan the computer for the presence of W32/Gibe.F.Worm now?");
  Shot(intro, "1-intro");
  e2e::Press(intro, IDCANCEL);
  EXPECT_EQ(program_->Wait(kWindowWait), 0u);
  EXPECT_EQ(e2e::WaitForDialog(kCaption, IDC_RESULT_LIST, 0, 0), nullptr);  // no progress dialog came
  for (const std::string& sample : seed_->inside) EXPECT_TRUE(Exists(sample)) << sample;
  EXPECT_TRUE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, test_registry::kExplorer + "\\CacheBox"));
}

TEST_F(EndToEnd, OkScansTheFourTargetsOnlyAndEndsWithTheReport) {
  HWND progress = PressOkForProgress(StartAtIntro());
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(e2e::ItemText(progress, IDC_HEADLINE), "Searching for variants of W32/Gibe.F.Worm files...");
  EXPECT_FALSE(e2e::ItemVisible(progress, IDC_FINISH));
  Shot(progress, "2-progress-start");
  ASSERT_TRUE(WaitForStatus(progress, "Scanning completed", kScanWait)) << e2e::ItemText(progress, IDC_STATUS);
  EXPECT_TRUE(e2e::ItemVisible(progress, IDC_FINISH));
  EXPECT_FALSE(e2e::ItemVisible(progress, IDCANCEL));
  const std::vector<std::string> lines = e2e::ListLines(GetDlgItem(progress, IDC_RESULT_LIST));
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[lines.size() - 5], " ");
  EXPECT_EQ(lines[lines.size() - 4], "Scanning statistics\t\t:");
  // The five samples inside the targets; the one outside is never examined.
  EXPECT_EQ(Statistic(lines, "Total files infected\t\t:  "), std::to_string(seed_->inside.size()));
  EXPECT_EQ(Statistic(lines, "Total files deleted\t\t:  "), std::to_string(seed_->inside.size()));
  for (const std::string& sample : seed_->inside) {
    EXPECT_FALSE(Exists(sample)) << sample;
    // The scan spells the folders as its patterns do ("Documents and settings").
    const std::string line = sample + "     W32/Gibe.F.Worm deleted";
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return lstrcmpiA(l.c_str(), line.c_str()) == 0; }), 1)
        << sample;
  }
  EXPECT_TRUE(Exists(seed_->outside));
  EXPECT_GT(std::stoi(Statistic(lines, "Total files scanned\t\t:  ")), 3000);
  // Five matches, one registry repair.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "System Registry     W32/Gibe.F.Worm removed"), 1);
  EXPECT_FALSE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, test_registry::kExplorer + "\\CacheBox"));
  EXPECT_EQ(test_registry::Read(HKEY_LOCAL_MACHINE, test_registry::kCommands[0].key, nullptr)->data, "\"%1\" %*");
  Shot(progress, "3-progress-completed");

  e2e::Press(progress, IDC_FINISH);
  const HWND thanks = e2e::WaitForDialog(kCaption, IDC_HOME_LINK, program_->Id(), kWindowWait);
  ASSERT_NE(thanks, nullptr);
  EXPECT_EQ(e2e::ItemText(thanks, IDC_HEADLINE),
            "Thank you for using the Scourix program. You can protect your computer");
  Shot(thanks, "4-thanks");
  e2e::Press(thanks, IDOK);
  EXPECT_EQ(program_->Wait(kWindowWait), 0u);
}

// scourix-cli.exe, on the same seed, prints the lines Scourix.exe lists,
// then its final status.
TEST_F(EndToEnd, TheUnattendedProgramPrintsTheSameLines) {
  std::vector<std::string> expected = ScanToTheEnd();
  program_.reset();
  ASSERT_FALSE(expected.empty());
  expected.push_back("Scanning completed");
  e2e::SeedSamples(0);
  test_registry::SeedWorm();

  const std::string out = "C:\\cli-same-lines.txt";
  {
    e2e::Program cli(OwnFolder() + "\\scourix-cli.exe", "", out);
    ASSERT_TRUE(cli.Started());
    EXPECT_EQ(1u, cli.Wait(kScanWait));
  }
  const std::vector<std::string> printed = CrLfLines(out);
  EXPECT_EQ(expected, printed);
}

TEST_F(EndToEnd, CancelDuringTheScanAnsweredNoThenYesTerminatesIt) {
  HWND progress = PressOkForProgress(StartAtIntro());
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(WaitForScanning(progress));
  e2e::Press(progress, IDCANCEL);
  HWND warning = WaitForWarning();
  ASSERT_NE(warning, nullptr);
  Shot(warning, "5-cancel-question");
  EXPECT_EQ(e2e::AnswerMessageBox(warning, IDNO), "Terminate the Scan now?");
  EXPECT_TRUE(e2e::WaitUntil([] { return e2e::WaitForDialog("Warning", 0xFFFF, 0, 0) == nullptr; }, kWindowWait));
  EXPECT_TRUE(e2e::ItemVisible(progress, IDCANCEL));

  e2e::Press(progress, IDCANCEL);
  warning = WaitForWarning();
  ASSERT_NE(warning, nullptr);
  e2e::AnswerMessageBox(warning, IDYES);
  ASSERT_TRUE(WaitForStatus(progress, "Scanning terminated", kScanWait)) << e2e::ItemText(progress, IDC_STATUS);
  const std::vector<std::string> lines = e2e::ListLines(GetDlgItem(progress, IDC_RESULT_LIST));
  const int scanned = std::stoi(Statistic(lines, "Total files scanned\t\t:  "));
  EXPECT_GT(scanned, 3);                      // it had begun
  EXPECT_LT(scanned, FilesInScanTargets());  // and ended before the whole tree
  EXPECT_TRUE(e2e::ItemVisible(progress, IDC_FINISH));
  Shot(progress, "6-progress-terminated");
}

TEST_F(EndToEnd, ResultListIsClearedAt150LinesButNeverOnceTheReportBegan) {
  // 299 copies and the registry line: 300 lines before the report, so the
  // list is cleared twice during the scan and holds 150 when the report
  // begins, which then takes it past 150.
  const samples::Bytes worm = samples::BuildSample();
  MakeFolders("C:\\Program Files\\many");
  const int extra = 299 - static_cast<int>(seed_->inside.size());
  for (int i = 0; i < extra; ++i) WriteBytes("C:\\Program Files\\many\\w" + std::to_string(i) + ".exe", worm);

  HWND progress = PressOkForProgress(StartAtIntro());
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(WaitForStatus(progress, "Scanning completed", kScanWait)) << e2e::ItemText(progress, IDC_STATUS);
  const std::vector<std::string> lines = e2e::ListLines(GetDlgItem(progress, IDC_RESULT_LIST));
  EXPECT_EQ(Statistic(lines, "Total files deleted\t\t:  "), "299");
  ASSERT_EQ(lines.size(), 155u);
  EXPECT_EQ(lines[150], " ");
  EXPECT_EQ(lines[151], "Scanning statistics\t\t:");
  Shot(progress, "8-progress-many-lines");

  // The log keeps what the list let go: every line of the scan, in order.
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ItemVisible(progress, IDC_FINISH); }, kWindowWait));
  const auto entries = LogEntries(kWindowsLog);
  ASSERT_FALSE(entries.empty());
  const std::vector<std::string>& entry = entries.back();
  // Header, 300 lines, the statistics (5), the status, the empty line.
  ASSERT_EQ(entry.size(), 1u + 300u + 5u + 1u + 1u);
  EXPECT_EQ(entry.front().size(), std::string("Scourix Ver 1.0, scan of 2003-06-05 09:07:03").size()) << entry.front();
  EXPECT_EQ(std::count_if(entry.begin(), entry.end(),
                          [](const std::string& l) { return l.find("     W32/Gibe.F.Worm deleted") != std::string::npos; }),
            299);
  EXPECT_EQ(std::vector<std::string>(entry.end() - 157, entry.end() - 2), lines);
  EXPECT_EQ(entry[entry.size() - 2], "Scanning completed");
  EXPECT_EQ(entry.back(), "");
}

TEST_F(EndToEnd, LogIsAppendedToAndFallsBackToTheTempFolderThenIsSkipped) {
  const size_t before = LogEntries(kWindowsLog).size();
  ScanToTheEnd();
  ASSERT_EQ(LogEntries(kWindowsLog).size(), before + 1) << "an entry is added, none is lost";

  // A folder where the log would be: the Windows directory cannot take it.
  ASSERT_TRUE(DeleteFileA(kWindowsLog));
  ASSERT_TRUE(MakeFolders(kWindowsLog));
  DeleteFileA(TempLog().c_str());
  e2e::SeedSamples(0);
  test_registry::SeedWorm();
  std::vector<std::string> lines = ScanToTheEnd();
  auto entries = LogEntries(TempLog());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(std::vector<std::string>(entries[0].end() - 1 - lines.size() - 1, entries[0].end() - 2), lines);

  // Neither place: the scan runs as ever, unlogged.
  ASSERT_TRUE(DeleteFileA(TempLog().c_str()));
  ASSERT_TRUE(MakeFolders(TempLog()));
  e2e::SeedSamples(0);
  test_registry::SeedWorm();
  lines = ScanToTheEnd();
  EXPECT_EQ(Statistic(lines, "Total files deleted\t\t:  "), std::to_string(seed_->inside.size()));
  for (const std::string& sample : seed_->inside) EXPECT_FALSE(Exists(sample)) << sample;
  EXPECT_TRUE(RemoveDirectoryA(TempLog().c_str()));
  EXPECT_TRUE(RemoveDirectoryA(kWindowsLog));
}

// A copy of one of the helper programs beside this test, marked or not.
std::string CopyHelper(const char* helper, const std::string& path, bool marked) {
  samples::Bytes program = ReadBytes(OwnFolder() + "\\" + helper);
  EXPECT_FALSE(program.empty()) << helper;
  if (marked) {
    EXPECT_TRUE(samples::AddSignatureSection(program));
  }
  EXPECT_TRUE(WriteBytes(path, program)) << path;
  return path;
}

TEST_F(EndToEnd, ScanEndsRunningCopiesQueuesTheOneInUseAndLeavesTheRestAlone) {
  const std::string running = CopyHelper("sample-host.exe", "C:\\windows\\wormrun.exe", true);
  const std::string cleanProgram = CopyHelper("sample-host.exe", "C:\\Program Files\\Sample App\\tool.exe", false);
  const std::string held = CopyHelper("sample-host.exe", "C:\\Program Files\\Sample App\\held.exe", true);
  const std::string holder = CopyHelper("sample-host.exe", "C:\\Program Files\\Sample App\\holder.exe", false);
  const std::string serviceFile = CopyHelper("sample-service.exe", "C:\\windows\\wormsvc.exe", true);
  const std::string cleanServiceFile = CopyHelper("sample-service.exe", "C:\\windows\\goodsvc.exe", false);
  e2e::Program worm(running, "sleep 120000");
  e2e::Program clean(cleanProgram, "sleep 120000");
  e2e::Program holding(holder, "hold \"" + held + "\" 120000");
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  for (const auto& [name, path] : {std::pair<const char*, std::string>{"wormsvc", serviceFile},
                                   std::pair<const char*, std::string>{"goodsvc", cleanServiceFile}}) {
    const SC_HANDLE service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                             SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, path.c_str(), nullptr,
                                             nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << name;
    EXPECT_TRUE(StartServiceA(service, 0, nullptr)) << name;
    CloseServiceHandle(service);
  }
  Sleep(1000);

  HWND progress = PressOkForProgress(StartAtIntro());
  ASSERT_NE(progress, nullptr);
  // The copy in use could only be queued: the restart is offered; not now.
  const HWND question = e2e::WaitForDialog(kCaption, 0xFFFF, program_->Id(), kScanWait);
  ASSERT_NE(question, nullptr);
  Shot(question, "9-restart-question");
  EXPECT_EQ(e2e::AnswerMessageBox(question, IDNO),
            "The system has to be restarted to remove the virus completely from your system. \n\n Restart now?");
  ASSERT_TRUE(WaitForStatus(progress, "Scanning completed", kScanWait));
  const std::vector<std::string> lines = e2e::ListLines(GetDlgItem(progress, IDC_RESULT_LIST));
  Shot(progress, "10-progress-cleaned");
  auto has = [&](const std::string& line) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return lstrcmpiA(l.c_str(), line.c_str()) == 0; });
  };
  EXPECT_EQ(has("System Memory    W32/Gibe.F.Worm removed"), 2) << ::testing::PrintToString(lines);
  EXPECT_EQ(has(running + "     W32/Gibe.F.Worm deleted"), 1);
  EXPECT_EQ(has(serviceFile + "     W32/Gibe.F.Worm deleted"), 1);
  EXPECT_EQ(has(held + "     W32/Gibe.F.Worm Delete failed"), 1);
  EXPECT_EQ(has("System Registry     W32/Gibe.F.Worm removed"), 1);
  // Counted once each: 5 seeded copies, 2 running, 1 in use.
  EXPECT_EQ(Statistic(lines, "Total files infected\t\t:  "), std::to_string(seed_->inside.size() + 3));
  EXPECT_EQ(Statistic(lines, "Total files deleted\t\t:  "), std::to_string(seed_->inside.size() + 2));

  EXPECT_NE(worm.Wait(5000), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_FALSE(Exists(running));
  EXPECT_FALSE(Exists(serviceFile));
  EXPECT_TRUE(Exists(held));  // waits for the next start
  EXPECT_TRUE(clean.Running());
  EXPECT_TRUE(holding.Running());
  EXPECT_TRUE(Exists(cleanProgram));
  EXPECT_TRUE(Exists(cleanServiceFile));
  EXPECT_TRUE(Exists(seed_->outside));
  const SC_HANDLE good = OpenServiceA(manager, "goodsvc", SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  EXPECT_TRUE(good != nullptr && QueryServiceStatus(good, &status) && status.dwCurrentState == SERVICE_RUNNING);
  if (good != nullptr) CloseServiceHandle(good);
  CloseServiceHandle(manager);
}

TEST_F(EndToEnd, EscapeDuringTheScanAsksTheSameQuestion) {
  HWND progress = PressOkForProgress(StartAtIntro());
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(WaitForScanning(progress));
  e2e::PressEscape(progress);
  const HWND warning = WaitForWarning();
  ASSERT_NE(warning, nullptr);
  EXPECT_EQ(e2e::AnswerMessageBox(warning, IDYES), "Terminate the Scan now?");
  EXPECT_TRUE(WaitForStatus(progress, "Scanning terminated", kScanWait)) << e2e::ItemText(progress, IDC_STATUS);
}

TEST_F(EndToEnd, LinkThatCannotBeOpenedSaysSo) {
  // The test prefix has no web browser handler.
  const HWND intro = StartAtIntro();
  ASSERT_NE(intro, nullptr);
  e2e::ClickStatic(intro, IDC_DOWNLOAD_LINK);
  const HWND box = e2e::WaitForDialog(kCaption, 0xFFFF, program_->Id(), kWindowWait);
  ASSERT_NE(box, nullptr);
  Shot(box, "7-link-failed");
  EXPECT_EQ(e2e::AnswerMessageBox(box, IDOK), "Unable to launch Internet Browser");
  // The dialog stays open.
  EXPECT_TRUE(e2e::WaitUntil([&] { return IsWindowEnabled(intro) != FALSE; }, kWindowWait));
  e2e::Press(intro, IDCANCEL);
  EXPECT_EQ(program_->Wait(kWindowWait), 0u);
}

}  // namespace
