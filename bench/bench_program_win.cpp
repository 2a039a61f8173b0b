// bench-program: the whole program's scan: starts Scourix.exe, presses OK,
// and times the progress dialog from its first status line (the first tick
// runs the scan) to "Scanning completed". Reports the peak memory of
// Scourix's process too, as the intro showed it and after the scan.
//
//   bench-program RUNS    (one warm-up pass first; samples written anew before each)
#include "bench/bench_win.h"

#include <psapi.h>

#include <cstdlib>
#include <string>

#include "resources/resource.h"
#include "tests/e2e/driver.h"

namespace {

constexpr DWORD kWait = 60000;
constexpr DWORD kScanWait = 3600000;

// The process's peak working set and peak private bytes; zeros when not to
// be had.
struct Memory {
  unsigned long long peakWorkingSet = 0;
  unsigned long long peakPrivate = 0;
};

Memory PeakMemory(DWORD processId) {
  Memory memory;
  const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (process == nullptr) return memory;
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    memory.peakWorkingSet = counters.PeakWorkingSetSize;
    memory.peakPrivate = counters.PeakPagefileUsage;
  }
  CloseHandle(process);
  return memory;
}

long Statistic(HWND progress, const std::string& label) {
  for (const std::string& line : e2e::ListLines(GetDlgItem(progress, IDC_RESULT_LIST))) {
    if (line.rfind(label, 0) == 0) return std::atol(line.c_str() + label.size());
  }
  return -1;
}

int Fail(const char* what) {
  std::fprintf(stderr, "bench-program: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 0;
  if (runs < 1) return 2;
  char own[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, own, sizeof own);
  std::string scourix = own;
  scourix = scourix.substr(0, scourix.find_last_of('\\')) + "\\Scourix.exe";
  for (int pass = 0; pass <= runs; ++pass) {
    if (!bench::ReseedSamples()) return Fail("cannot write the samples");
    e2e::Program program(scourix);
    const HWND intro = e2e::WaitForDialog(e2e::kCaption, IDC_QUESTION, program.Id(), kWait);
    if (intro == nullptr) return Fail("no intro dialog");
    const Memory before = PeakMemory(program.Id());
    e2e::Press(intro, IDOK);
    const HWND progress = e2e::WaitForDialog(e2e::kCaption, IDC_RESULT_LIST, program.Id(), kWait);
    if (progress == nullptr) return Fail("no progress dialog");
    // Polled often enough for a scan of seconds, seldom enough not to
    // weigh on it (each poll is a message to Scourix).
    double start = 0;
    double end = 0;
    const DWORD began = GetTickCount();
    while (GetTickCount() - began < kScanWait) {
      const std::string status = e2e::ItemText(progress, IDC_STATUS);
      const double now = bench::Seconds();
      if (start == 0 && !status.empty()) start = now;
      if (status == "Scanning completed") {
        end = now;
        break;
      }
      Sleep(5);
    }
    if (end == 0) return Fail("the scan did not complete");
    const Memory after = PeakMemory(program.Id());
    bench::Report(pass, end - start, Statistic(progress, "Total files scanned\t\t:  "),
                  Statistic(progress, "Total files infected\t\t:  "));
    // "memory PEAK_WORKING_SET PEAK_PRIVATE, at the intro and after the scan"
    std::printf("memory %llu %llu %llu %llu\n", before.peakWorkingSet, before.peakPrivate, after.peakWorkingSet,
                after.peakPrivate);
    std::fflush(stdout);
    if (!e2e::WaitUntil([&] { return e2e::ItemVisible(progress, IDC_FINISH); }, kWait)) return Fail("no OK");
    e2e::Press(progress, IDC_FINISH);
    const HWND thanks = e2e::WaitForDialog(e2e::kCaption, IDC_HOME_LINK, program.Id(), kWait);
    if (thanks == nullptr) return Fail("no closing dialog");
    e2e::Press(thanks, IDOK);
    if (program.Wait(kWait) != 0) return Fail("Scourix did not end");
  }
  return 0;
}
