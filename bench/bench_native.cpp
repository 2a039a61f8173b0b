// bench-native: the detection over a folder tree with POSIX calls, against
// the floor of the same reads, and the rules that make ClamAV and YARA look
// for the same two patterns.
//
//   bench-native floor RUNS ROOT...    list, open, read 4 KiB and two 20-byte pieces, close
//   bench-native detect RUNS ROOT...   list, then the detection on every file
//   bench-native clamav | yara         print the equivalent rule
//
// Each timed mode makes one warm-up pass, then RUNS passes, printing
// "run SECONDS FILES MATCHES" for each; RUNS 0 makes a single pass without
// warm-up (for a cold cache, dropped by the caller).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/files_posix.h"
#include "engine/pe_signature.h"

namespace {

struct Tally {
  long files = 0;
  long matches = 0;
};

using FileVisitor = void (*)(const std::string& path, Tally& tally);

void FloorVisit(const std::string& path, Tally& tally) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    char head[4096];
    char piece[20];
    const off_t length = st.st_size;
    if (::pread(fd, head, sizeof head, 0) >= 0) {
      ::pread(fd, piece, sizeof piece, length / 2);
      ::pread(fd, piece, sizeof piece, length > 20 ? length - 20 : 0);
    }
  }
  ::close(fd);
  ++tally.files;
}

void DetectVisit(const std::string& path, Tally& tally) {
  PosixFileSource file(path.c_str());
  if (!file.Ok()) return;
  ++tally.files;
  if (ExamineFile(file).count > 0) ++tally.matches;
}

// Files of a folder, then its subfolders; links are not followed.
void Walk(const std::string& folder, FileVisitor visit, Tally& tally) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::string path = folder + "/" + entry->d_name;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (::lstat(path.c_str(), &st) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
    }
    if (type == DT_DIR) {
      Walk(path, visit, tally);
    } else if (type == DT_REG) {
      visit(path, tally);
    }
  }
  ::closedir(dir);
}

std::string Hex(const uint8_t* bytes, bool spaced) {
  std::string text;
  char digits[4];
  for (size_t i = 0; i < kPatternLength; ++i) {
    std::snprintf(digits, sizeof digits, spaced ? "%02X " : "%02x", bytes[i]);
    text += digits;
  }
  if (spaced) text.pop_back();
  return text;
}

// EP+n or EP-n, as ClamAV writes an offset from the entry point.
std::string EntryOffset(int32_t offset) {
  return offset < 0 ? "EP-" + std::to_string(-static_cast<int64_t>(offset)) : "EP+" + std::to_string(offset);
}

int PrintRule(const char* kind) {
  const VirusSignature& s = kSignatureTable[0];
  if (std::strcmp(kind, "clamav") == 0) {
    // A logical signature: both sub-signatures, each at its distance from the
    // entry point, in PE files.
    std::printf("Bench.Gibe.F;Engine:51-255,Target:1;0&1;%s:%s;%s:%s\n", EntryOffset(s.offset1).c_str(),
                Hex(s.code1, false).c_str(), EntryOffset(s.offset2).c_str(), Hex(s.code2, false).c_str());
    return 0;
  }
  if (std::strcmp(kind, "yara") == 0) {
    std::printf("import \"pe\"\n\nrule Gibe_F\n{\n  strings:\n    $a = { %s }\n    $b = { %s }\n  condition:\n"
                "    $a at pe.entry_point + (%d) and $b at pe.entry_point + (%d)\n}\n",
                Hex(s.code1, true).c_str(), Hex(s.code2, true).c_str(), s.offset1, s.offset2);
    return 0;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2) return PrintRule(argv[1]) == 0 ? 0 : (std::fprintf(stderr, "bench-native: unknown rule kind\n"), 2);
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench-native floor|detect RUNS ROOT... | bench-native clamav|yara\n");
    return 2;
  }
  const FileVisitor visit = std::strcmp(argv[1], "floor") == 0    ? FloorVisit
                            : std::strcmp(argv[1], "detect") == 0 ? DetectVisit
                                                                  : nullptr;
  const int runs = std::atoi(argv[2]);
  if (visit == nullptr || runs < 0) {
    std::fprintf(stderr, "bench-native: unknown mode or RUNS below 0\n");
    return 2;
  }
  for (int run = runs == 0 ? 1 : 0; run <= std::max(runs, 1); ++run) {
    Tally tally;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 3; i < argc; ++i) Walk(argv[i], visit, tally);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%s %.6f %ld %ld\n", run == 0 ? "warmup" : "run", took.count(), tally.files, tally.matches);
    std::fflush(stdout);
  }
  return 0;
}
