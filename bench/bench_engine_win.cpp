// bench-engine: the scan engine alone over the four targets: the walker and
// the detection, with a hidden window taking the progress messages as the
// progress dialog would (without painting them).
//
//   bench-engine RUNS     (one warm-up pass first; samples written anew before each)
#include <cstdlib>

#include "bench/bench_win.h"
#include "engine/scan_state.h"
#include "engine/walker.h"

namespace {

char shownObject[kPathCapacity];
long linesShown = 0;

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == ShowObjectMessage) {
    lstrcpynA(shownObject, scanState.currentObject, sizeof shownObject);
    return 0;
  }
  if (message == AppendLineMessage) {
    ++linesShown;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 0;
  if (runs < 1) return 2;
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ProgressProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "BenchProgress";
  if (!RegisterClassA(&windowClass)) return 1;
  const HWND window = CreateWindowExA(0, "BenchProgress", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      windowClass.hInstance, nullptr);
  if (window == nullptr) return 1;
  const ScanTargets targets = bench::Targets();
  for (int pass = 0; pass <= runs; ++pass) {
    if (!bench::ReseedSamples()) return 1;
    scanState = ScanState{};
    scanState.progressWindow = window;
    scanState.memoryScanActive = 0;  // the file scan, as after the memory scan
    const double start = bench::Seconds();
    for (size_t i = 0; i < kScanTargetCount; ++i) {
      if (targets.present[i]) WalkDirectory(targets.patterns[i]);
    }
    bench::Report(pass, bench::Seconds() - start, scanState.filesScanned, scanState.filesInfected);
  }
  DestroyWindow(window);
  return 0;
}
