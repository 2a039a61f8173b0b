// Removal on the real API: copies in use, the memory scan, the owner
// searches and worm services. The suite runs once for each Windows family
// (Wine's per-program version setting); each test says what differs.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cleaning/memory_scan.h"
#include "cleaning/owner_search.h"
#include "cleaning/services.h"
#include "cleaning/system_restart.h"
#include "engine/check_file.h"
#include "engine/scan_state.h"
#include "tests/e2e/driver.h"
#include "tests/samples/pe_sample.h"
#include "tests/samples/perf_block.h"
#include "tests/support/progress_window.h"
#include "tests/wine/test_files.h"
#include "win32/file.h"
#include "win32/process.h"
#include "win32/service.h"

namespace {

const std::string kVictims = "C:\\victims";
constexpr char kWorm[] = "W32/Gibe.F.Worm";

// A copy of one of our helper programs, marked with the signature or not.
std::string CopyProgram(const char* helper, const std::string& name, bool marked) {
  samples::Bytes program = ReadBytes(OwnFolder() + "\\" + helper);
  if (marked) {
    EXPECT_TRUE(samples::AddSignatureSection(program));
  }
  const std::string path = kVictims + "\\" + name;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(WriteBytes(path, program)) << path;
  return path;
}

bool Is9x() { return GetOsClass() == kOsWindows9x; }

// Delayed deletions the NT family will carry out at its next start.
std::wstring PendingDeletions() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return L"";
  }
  std::wstring data(32768, L'\0');
  DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  const LONG status = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&data[0]), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return L"";
  data.resize(size / sizeof(wchar_t));
  std::replace(data.begin(), data.end(), L'\0', L'|');
  return data;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class Removal : public ::testing::Test {
 protected:
  void SetUp() override {
    scanState = ScanState{};
    scanState.memoryScanActive = 0;
    ASSERT_TRUE(MakeFolders(kVictims));
    DeleteFileA("C:\\windows\\Wininit.ini");  // each test queues into a file of its own
    // Toolhelp under Wine names processes by file name only: the memory
    // scan of the 9x family then finds their files from this folder.
    SetCurrentDirectoryA(kVictims.c_str());
    window_ = std::make_unique<ProgressWindowStandIn>();
    ClearProgressMessages();
  }
  void TearDown() override {
    window_.reset();
    scanState = ScanState{};
  }
  static std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (const ProgressMessage& m : ProgressMessages()) {
      if (m.message == AppendLineMessage) lines.push_back(m.text);
    }
    return lines;
  }
  // Starts a program and waits until it is listed with its program path
  // (its loader has run) and, holding a file, until it holds it.
  static std::unique_ptr<e2e::Program> Run(const std::string& path, const std::string& arguments) {
    auto program = std::make_unique<e2e::Program>(path, arguments);
    // Under load Wine has refused, once, to start a program copied a moment
    // before: a few more tries, then the test fails as before.
    for (int attempt = 1; attempt < 4 && !program->Started(); ++attempt) {
      Sleep(500);
      program = std::make_unique<e2e::Program>(path, arguments);
    }
    EXPECT_TRUE(program->Started()) << path;
    const DWORD pid = program->Id();
    EXPECT_TRUE(e2e::WaitUntil([&] {
      for (const ProcessEntry& entry : ListProcessesPsapi()) {
        if (entry.pid == pid) return true;
      }
      return false;
    }, 10000)) << path;
    if (arguments.rfind("hold ", 0) == 0) {
      const std::string held = arguments.substr(5, arguments.rfind(' ') - 5);
      EXPECT_TRUE(e2e::WaitUntil([&] { return ::Exists(held + ".held"); }, 10000)) << held;
    }
    return program;
  }

  std::unique_ptr<ProgressWindowStandIn> window_;
};

TEST_F(Removal, RunningCopyIsEndedOn9xAndQueuedOnNt) {
  const std::string path = CopyProgram("sample-host.exe", "running.exe", true);
  const auto process = Run(path, "sleep 60000");
  EXPECT_EQ(CheckFile(kWorm, path.c_str()), 1);
  if (Is9x()) {
    // Its owner is found by name in the process list, ended, and the file deleted.
    EXPECT_EQ(Lines(), std::vector<std::string>{path + "     W32/Gibe.F.Worm deleted"});
    EXPECT_FALSE(Exists(path));
    EXPECT_NE(process->Wait(5000), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(scanState.restartNeeded, 0);
  } else {
    // Wine keeps no performance data: the owner is not found, and the file
    // waits for the next start.
    EXPECT_EQ(Lines(), std::vector<std::string>{path + "     W32/Gibe.F.Worm Delete failed"});
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(scanState.restartNeeded, 1);
    EXPECT_NE(PendingDeletions().find(Wide(path)), std::wstring::npos);
  }
  EXPECT_EQ(scanState.filesInfected, 1);
}

TEST_F(Removal, FilesHeldOpenAreQueuedEachOnItsOwn) {
  const std::string first = CopyProgram("sample-host.exe", "held1.exe", true);
  const std::string second = CopyProgram("sample-host.exe", "held2.exe", true);
  const std::string holder = CopyProgram("sample-host.exe", "holder.exe", false);
  const auto holdFirst = Run(holder, "hold " + first + " 60000");
  const auto holdSecond = Run(holder, "hold " + second + " 60000");
  EXPECT_EQ(CheckFile(kWorm, first.c_str()), 1);
  EXPECT_EQ(CheckFile(kWorm, second.c_str()), 1);
  EXPECT_EQ(Lines(), (std::vector<std::string>{first + "     W32/Gibe.F.Worm Delete failed",
                                               second + "     W32/Gibe.F.Worm Delete failed"}));
  EXPECT_EQ(scanState.restartNeeded, 1);
  EXPECT_TRUE(holdFirst->Running());  // the holder is not the file's program
  if (Is9x()) {
    char short1[MAX_PATH] = {}, short2[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(first.c_str(), short1, sizeof short1), 0u);
    ASSERT_GT(GetShortPathNameA(second.c_str(), short2, sizeof short2), 0u);
    std::string wininit;
    ASSERT_TRUE(ReadSmallFile("C:\\windows\\Wininit.ini", 65536, wininit));
    EXPECT_NE(wininit.find(std::string("[rename]\r\nnul=") + short1 + "\r\nnul=" + short2 + "\r\n"), std::string::npos)
        << wininit;
  } else {
    const std::wstring pending = PendingDeletions();
    EXPECT_NE(pending.find(Wide(first)), std::wstring::npos);
    EXPECT_NE(pending.find(Wide(second)), std::wstring::npos);
  }
}

TEST_F(Removal, RestartStaysOfferedWhenALaterQueueingFails) {
  if (!Is9x()) GTEST_SKIP() << "made to fail through wininit.ini";
  const std::string first = CopyProgram("sample-host.exe", "queued1.exe", true);
  const std::string second = CopyProgram("sample-host.exe", "queued2.exe", true);
  const std::string holder = CopyProgram("sample-host.exe", "holder.exe", false);
  const auto holdFirst = Run(holder, "hold " + first + " 60000");
  const auto holdSecond = Run(holder, "hold " + second + " 60000");
  EXPECT_EQ(CheckFile(kWorm, first.c_str()), 1);
  EXPECT_EQ(scanState.restartNeeded, 1);
  // A folder where wininit.ini should be: the second file cannot be queued.
  ASSERT_TRUE(DeleteFileA("C:\\windows\\Wininit.ini"));
  ASSERT_TRUE(CreateDirectoryA("C:\\windows\\Wininit.ini", nullptr));
  EXPECT_EQ(CheckFile(kWorm, second.c_str()), 1);
  // The second file really was not queued, and the question stays.
  EXPECT_TRUE(GetFileAttributesA("C:\\windows\\Wininit.ini") & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(Exists(second));
  RemoveDirectoryA("C:\\windows\\Wininit.ini");
  EXPECT_EQ(scanState.restartNeeded, 1);
}

TEST_F(Removal, MemoryScanEndsRunningCopiesAndLeavesCleanProgramsAlone) {
  const std::string worm = CopyProgram("sample-host.exe", "memworm.exe", true);
  const std::string clean = CopyProgram("sample-host.exe", "memclean.exe", false);
  const auto wormProcess = Run(worm, "sleep 60000");
  const auto cleanProcess = Run(clean, "sleep 60000");
  ScanMemory();
  EXPECT_EQ(scanState.memoryScanActive, 0);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "System Memory    W32/Gibe.F.Worm removed");
  // The 9x family's toolhelp list (under Wine) names the file alone.
  EXPECT_EQ(lines[1], (Is9x() ? std::string("memworm.exe") : worm) + "     W32/Gibe.F.Worm deleted");
  EXPECT_EQ(scanState.filesInfected, 1);
  EXPECT_EQ(scanState.filesDeleted, 1);
  EXPECT_NE(wormProcess->Wait(5000), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_FALSE(Exists(worm));
  EXPECT_TRUE(cleanProcess->Running());
  EXPECT_TRUE(Exists(clean));
}

TEST_F(Removal, ProcessThatEndsBetweenListingAndCheckingIsSurvived) {
  const std::string worm = CopyProgram("sample-host.exe", "shortlived.exe", true);
  const std::string clean = CopyProgram("sample-host.exe", "shortlivedx.exe", false);
  const auto wormProcess = Run(worm, "sleep 60000");
  const auto cleanProcess = Run(clean, "sleep 60000");
  // The memory scan lists the processes first; the first one it shows ends the worm.
  bool ended = false;
  window_->onMessage = [&](const ProgressMessage& m) {
    if (ended || m.message != ShowObjectMessage) return;
    ended = true;
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, wormProcess->Id());
    if (process != nullptr) {
      TerminateProcess(process, 3);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  };
  ScanMemory();
  ASSERT_TRUE(ended);
  EXPECT_EQ(scanState.memoryScanActive, 0);
  EXPECT_TRUE(cleanProcess->Running());
  EXPECT_TRUE(Exists(clean));
  if (!Is9x()) {
    // It was not ended by the scan: its file is left to the file scan.
    EXPECT_TRUE(Exists(worm));
  }
}

// Performance data of our own making: Wine keeps none.
class FakePerfData : public PerfDataSource {
 public:
  explicit FakePerfData(std::vector<samples::PerfTask> tasks) : tasks_(std::move(tasks)) {}
  bool ReadCounters(std::vector<uint8_t>& data) override {
    data = samples::PerfCounters();
    return true;
  }
  bool ReadObject(const char* index, std::vector<uint8_t>& data) override {
    asked_ = index;
    data = samples::PerfProcessBlock(tasks_);
    return true;
  }
  std::string asked_;

 private:
  std::vector<samples::PerfTask> tasks_;
};

TEST_F(Removal, PerformanceDataOwnerSearchEndsTheOwnerOnly) {
  const std::string owner = CopyProgram("sample-host.exe", "owner.exe", true);
  const std::string similar = CopyProgram("sample-host.exe", "ownerx.exe", false);
  const auto ownerProcess = Run(owner, "sleep 60000");
  const auto similarProcess = Run(similar, "sleep 60000");
  FakePerfData perf({{u"System", 4},
                     {u"ownerx", similarProcess->Id()},
                     {u"owner", ownerProcess->Id()}});
  EXPECT_EQ(TerminateOwnerPerfData(owner.c_str(), perf), 1);
  EXPECT_EQ(perf.asked_, "230");
  EXPECT_TRUE(similarProcess->Running());
  EXPECT_NE(ownerProcess->Wait(5000), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_TRUE(similarProcess->Running());
  // No task of that name: nothing is ended.
  EXPECT_EQ(TerminateOwnerPerfData((kVictims + "\\nobody.exe").c_str(), perf), 0);
  EXPECT_EQ(TerminateOwnerPerfData("C:\\a", perf), 0);  // four characters or fewer
  EXPECT_TRUE(similarProcess->Running());
}

TEST_F(Removal, PerformanceDataOwnerSearchLeavesAProgramOfTheSameNameElsewhere) {
  // A copy in use named like a program that runs from another folder (as a
  // worm named svchost.exe in a temporary folder would be).
  const std::string copy = CopyProgram("sample-host.exe", "namesake.exe", true);
  ASSERT_TRUE(MakeFolders(kVictims + "\\system"));
  const std::string other = CopyProgram("sample-host.exe", "system\\namesake.exe", false);
  const auto otherProcess = Run(other, "sleep 60000");
  FakePerfData perf({{u"namesake", otherProcess->Id()}, {u"e2e", GetCurrentProcessId()}});
  EXPECT_EQ(TerminateOwnerPerfData(copy.c_str(), perf), 0);
  EXPECT_TRUE(otherProcess->Running());
}

TEST_F(Removal, ToolhelpOwnerSearchComparesWholeFileNames) {
  const std::string owner = CopyProgram("sample-host.exe", "tool.exe", true);
  const std::string similar = CopyProgram("sample-host.exe", "tool2.exe", false);
  const auto similarProcess = Run(similar, "sleep 60000");
  EXPECT_EQ(TerminateOwnerToolhelp(owner.c_str()), 0);
  EXPECT_TRUE(similarProcess->Running());
  const auto ownerProcess = Run(owner, "sleep 60000");
  EXPECT_EQ(TerminateOwnerToolhelp(owner.c_str()), 1);
  EXPECT_NE(ownerProcess->Wait(5000), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_TRUE(similarProcess->Running());
}

// -- Services (the NT 5.x family) ---------------------------------------------

class Services : public Removal {
 protected:
  void SetUp() override {
    Removal::SetUp();
    if (GetNtVersionClass() != kNtVersion5) GTEST_SKIP() << "services are used on NT 5.x only";
    manager_ = ServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager_);
  }
  ServiceHandle Install(const char* name, const std::string& binary, bool start) {
    ServiceHandle service(CreateServiceA(manager_.Get(), name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                         SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary.c_str(), nullptr,
                                         nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(service) << name << " " << GetLastError();
    if (service && start) {
      EXPECT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << name;
      EXPECT_TRUE(e2e::WaitUntil([&] { return State(service) == SERVICE_RUNNING; }, 10000)) << name;
    }
    return service;
  }
  static DWORD State(const ServiceHandle& service) {
    SERVICE_STATUS status{};
    return QueryServiceStatus(service.Get(), &status) ? status.dwCurrentState : 0;
  }
  bool Exists(const char* name) { return OpenServiceByName(manager_, name, SERVICE_QUERY_STATUS).Valid(); }

  ServiceHandle manager_;
};

TEST_F(Services, WormServiceIsStoppedAndDeletedOthersUntouched) {
  const std::string worm = CopyProgram("sample-service.exe", "svcworm.exe", true);
  const std::string clean = CopyProgram("sample-service.exe", "svcclean.exe", false);
  const ServiceHandle wormService = Install("svcworm", worm, true);
  const ServiceHandle cleanService = Install("svcclean", clean, true);
  // A service of another program that shares the worm file's base name.
  const std::string other = CopyProgram("sample-service.exe", "other.exe", false);
  const std::string namesake = CopyProgram("sample-host.exe", "namesake.exe", true);
  const ServiceHandle namesakeService = Install("namesake", other, false);

  EXPECT_EQ(StopServicesByImagePath(worm.c_str()), 1);
  EXPECT_EQ(State(wormService), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(State(cleanService), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(DeleteServiceByName("namesake", true, namesake.c_str()), 0);
  EXPECT_TRUE(Exists("namesake"));
  EXPECT_EQ(DeleteServiceByName("svcworm", false, worm.c_str()), 1);
  EXPECT_EQ(State(cleanService), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(Services, AServiceThatNeverStopsIsWaitedForAWhileOnly) {
  const std::string hanging = CopyProgram("sample-service.exe", "svchang.exe", true);
  const ServiceHandle service = Install("svchang", hanging, true);
  const DWORD start = GetTickCount();
  EXPECT_EQ(StopServicesByImagePath(hanging.c_str()), 0);
  const DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 30000u);  // polled once a second...
  EXPECT_LE(waited, 90000u);  // ...but not for ever
  EXPECT_EQ(State(service), static_cast<DWORD>(SERVICE_STOP_PENDING));
}

TEST_F(Services, MemoryScanRemovesAWormRunningAsAService) {
  const std::string worm = CopyProgram("sample-service.exe", "svcrun.exe", true);
  const std::string clean = CopyProgram("sample-service.exe", "svcstay.exe", false);
  const ServiceHandle wormService = Install("svcrun", worm, true);
  const ServiceHandle cleanService = Install("svcstay", clean, true);
  ScanMemory();
  const std::vector<std::string> lines = Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "System Memory    W32/Gibe.F.Worm removed"), lines.end())
      << ::testing::PrintToString(lines);
  EXPECT_TRUE(e2e::WaitUntil([&] { return !::Exists(worm); }, 10000));
  // The ended process could not be ended a second time, so the service step
  // ran. (Wine's service manager does not notice that a service's process
  // was ended: the worm's service stays "running" there, its deletion
  // pending, which the direct test above covers on a live service.)
  EXPECT_EQ(scanState.memoryRestartNeeded, 1);
  EXPECT_EQ(State(cleanService), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(::Exists(clean));
  EXPECT_TRUE(Exists("svcstay"));
}

}  // namespace
