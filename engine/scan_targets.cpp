#include "engine/scan_targets.h"

#include <cstring>

namespace {

// folder, exactly one backslash, then tail. False when it would not fit.
bool JoinPattern(const char* folder, size_t folderLength, const char* tail, char* out) {
  const bool hasSeparator = folderLength > 0 && folder[folderLength - 1] == '\\';
  const size_t tailLength = std::strlen(tail);
  const size_t total = folderLength + (hasSeparator ? 0 : 1) + tailLength;
  if (total >= kPathCapacity) return false;
  std::memcpy(out, folder, folderLength);
  size_t at = folderLength;
  if (!hasSeparator) out[at++] = '\\';
  std::memcpy(out + at, tail, tailLength + 1);
  return true;
}

}  // namespace

ScanTargets BuildScanTargets(const char* windowsDirectory, const char* tempDirectory) {
  ScanTargets targets;
  if (windowsDirectory != nullptr && windowsDirectory[0] != '\0') {
    const size_t length = std::strlen(windowsDirectory);
    targets.present[0] = JoinPattern(windowsDirectory, length, "*.*", targets.patterns[0]);
    // The drive root is the first three characters, such as C:\.
    if (length >= 3) {
      targets.present[1] = JoinPattern(windowsDirectory, 3, "Documents and settings\\*.*", targets.patterns[1]);
      targets.present[2] = JoinPattern(windowsDirectory, 3, "Program Files\\*.*", targets.patterns[2]);
    }
  }
  if (tempDirectory != nullptr && tempDirectory[0] != '\0') {
    targets.present[3] = JoinPattern(tempDirectory, std::strlen(tempDirectory), "*.*", targets.patterns[3]);
  }
  return targets;
}

bool BuildLogPath(const char* folder, char* out) {
  if (folder == nullptr || folder[0] == '\0') return false;
  return JoinPattern(folder, std::strlen(folder), "Scourix.log", out);
}
