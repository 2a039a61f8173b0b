// What the Windows benchmark programs share: a clock, the four scan targets
// as the program computes them, and the worm samples written anew before
// each pass (a scan deletes them).
#pragma once

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine/scan_targets.h"
#include "tests/samples/pe_sample.h"
#include "tests/wine/test_files.h"

namespace bench {

// The list bench-tree writes into the prefix.
constexpr char kSampleList[] = "C:\\bench-samples.txt";

inline double Seconds() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline ScanTargets Targets() {
  char windows[MAX_PATH] = {};
  char temp[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  GetTempPathA(sizeof temp, temp);
  return BuildScanTargets(windows, temp);
}

// Writes every listed sample; false when one could not be written.
inline bool ReseedSamples() {
  static const samples::Bytes worm = samples::BuildSample();
  std::ifstream list(kSampleList);
  std::string path;
  while (std::getline(list, path)) {
    if (!path.empty() && path.back() == '\r') path.pop_back();
    if (!path.empty() && !WriteBytes(path, worm)) return false;
  }
  return true;
}

// One line per pass: "warmup|run SECONDS FILES MATCHES".
inline void Report(int pass, double seconds, long files, long matches) {
  std::printf("%s %.6f %ld %ld\n", pass == 0 ? "warmup" : "run", seconds, files, matches);
  std::fflush(stdout);
}

}  // namespace bench
