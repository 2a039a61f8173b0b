// Fuzz target: the display form of a path and the paths built from search
// patterns, with arbitrary texts and limits.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/scan_state.h"
#include "engine/scan_targets.h"
#include "engine/text.h"

namespace {

// A drive whose every path is a folder listed under a longer name, as a
// short 8.3 alias is: the long forms grow past what the patterns hold.
bool LongerNames(const char* path, PathFacts& facts) {
  const char* name = std::strrchr(path, '\\');
  facts.folder = true;
  facts.reparsePoint = false;
  facts.name = std::string(name != nullptr ? name + 1 : path) + "-long-name";
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int maxLen = static_cast<int8_t>(data[0]);
  const std::string all(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t split = all.find('\n');
  const std::string first = all.substr(0, split).c_str();
  const std::string second = split == std::string::npos ? std::string() : all.substr(split + 1).c_str();

  char out[kPathCapacity];
  ShortenPath(first.c_str(), out, sizeof out, maxLen);
  if (std::strlen(out) >= sizeof out) __builtin_trap();
  char small[8];
  ShortenPath(first.c_str(), small, sizeof small, maxLen);
  if (std::strlen(small) >= sizeof small) __builtin_trap();

  if (BuildEntryPath(first.c_str(), second.c_str(), out, sizeof out) == PathBuild::Ok && std::strlen(out) >= sizeof out) {
    __builtin_trap();
  }
  if (BuildSubfolderPattern(first.c_str(), out, sizeof out) == PathBuild::Ok && std::strlen(out) >= sizeof out) {
    __builtin_trap();
  }
  if (BuildNextPattern(first.c_str(), second.c_str(), out, sizeof out) == PathBuild::Ok &&
      std::strlen(out) >= sizeof out) {
    __builtin_trap();
  }
  // One line, whatever the bytes: no line break or escape character left.
  for (const std::string& escaped : {EscapeControlBytes(all), EscapeForUtf8Terminal(all)}) {
    if (escaped.find_first_of("\n\r\x1b") != std::string::npos) __builtin_trap();
  }

  // A registry value naming a system folder: whatever it says, what is
  // followed lies below the Windows drive's root and leaves room for \*.*.
  char folder[kPathCapacity] = {};
  if (ResolveSystemFolder(first.c_str(), second.c_str(), folder, sizeof folder)) {
    const std::string followed = std::string(folder) + "\\";
    if (followed.size() > kPathCapacity - 4 || followed.size() < 5 || followed[1] != ':' || followed[2] != '\\' ||
        std::tolower(static_cast<unsigned char>(followed[0])) != std::tolower(static_cast<unsigned char>(second[0])) ||
        followed.find("\\..\\") != std::string::npos || followed.find("\\.\\") != std::string::npos) {
      __builtin_trap();
    }
  }
  for (const ScanTargets& targets : {BuildScanTargets(first.c_str(), second.c_str()),
                                      BuildScanTargets(second.c_str(), first.c_str(), {folder, first.c_str()}, LongerNames)}) {
    for (size_t i = 0; i < kScanTargetCount; ++i) {
      if (std::strlen(targets.patterns[i]) >= kPathCapacity) __builtin_trap();
    }
  }
  return 0;
}
