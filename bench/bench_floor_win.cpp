// bench-floor: the least a scan of the four targets must do on the Win32
// file API: list every folder once, and for every file open it, read its
// first 4 KiB and two 20-byte pieces, and close it.
//
//   bench-floor RUNS      (one warm-up pass first)
#include <cstdlib>
#include <string>

#include "bench/bench_win.h"

namespace {

void ReadPieces(const char* path, long& files) {
  const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  ++files;
  char head[4096];
  char piece[20];
  DWORD got = 0;
  DWORD high = 0;
  const DWORD length = GetFileSize(file, &high);
  if (ReadFile(file, head, sizeof head, &got, nullptr)) {
    SetFilePointer(file, static_cast<LONG>(length / 2), nullptr, FILE_BEGIN);
    ReadFile(file, piece, sizeof piece, &got, nullptr);
    SetFilePointer(file, static_cast<LONG>(length > 20 ? length - 20 : 0), nullptr, FILE_BEGIN);
    ReadFile(file, piece, sizeof piece, &got, nullptr);
  }
  CloseHandle(file);
}

// folder ends with a backslash.
void Walk(const std::string& folder, long& files) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) Walk(folder + name + "\\", files);
    } else {
      ReadPieces((folder + name).c_str(), files);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 0;
  if (runs < 1) return 2;
  const ScanTargets targets = bench::Targets();
  for (int pass = 0; pass <= runs; ++pass) {
    long files = 0;
    const double start = bench::Seconds();
    for (size_t i = 0; i < kScanTargetCount; ++i) {
      if (!targets.present[i]) continue;
      std::string folder = targets.patterns[i];
      folder.resize(folder.size() - 3);  // the "*.*"
      Walk(folder, files);
    }
    bench::Report(pass, bench::Seconds() - start, files, 0);
  }
  return 0;
}
