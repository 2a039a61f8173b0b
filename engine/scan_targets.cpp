#include "engine/scan_targets.h"

#include <cctype>
#include <cstring>
#include <string>

#include "engine/text.h"

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

namespace {

// The English folder's slot and, when the system keeps that folder
// elsewhere, the system's slot before it.
void AddLocalizedTarget(const char* windowsDirectory, const char* english, const char* system, FolderExists exists,
                        ScanTargets& targets, size_t slot) {
  char englishFolder[kPathCapacity];
  const bool englishKnown = JoinPattern(windowsDirectory, 3, english, englishFolder);
  const bool useSystem = system != nullptr && exists != nullptr && englishKnown &&
                         !EqualsIgnoringCase(system, englishFolder) && exists(system);
  if (!useSystem) {
    targets.present[slot] = englishKnown && JoinPattern(englishFolder, std::strlen(englishFolder), "*.*",
                                                        targets.patterns[slot]);
    return;
  }
  targets.present[slot] = JoinPattern(system, std::strlen(system), "*.*", targets.patterns[slot]);
  targets.present[slot + 1] =
      exists(englishFolder) && JoinPattern(englishFolder, std::strlen(englishFolder), "*.*", targets.patterns[slot + 1]);
}

}  // namespace

ScanTargets BuildScanTargets(const char* windowsDirectory, const char* tempDirectory,
                             const LocalizedFolders& localized, FolderExists exists) {
  ScanTargets targets;
  if (windowsDirectory != nullptr && windowsDirectory[0] != '\0') {
    const size_t length = std::strlen(windowsDirectory);
    targets.present[0] = JoinPattern(windowsDirectory, length, "*.*", targets.patterns[0]);
    // The drive root is the first three characters, such as C:\.
    if (length >= 3) {
      AddLocalizedTarget(windowsDirectory, kEnglishProfilesFolder, localized.profiles, exists, targets, 1);
      AddLocalizedTarget(windowsDirectory, kEnglishProgramFiles, localized.programFiles, exists, targets, 3);
    }
  }
  if (tempDirectory != nullptr && tempDirectory[0] != '\0') {
    targets.present[5] = JoinPattern(tempDirectory, std::strlen(tempDirectory), "*.*", targets.patterns[5]);
  }
  return targets;
}

bool ResolveSystemFolder(const char* value, const char* windowsDirectory, char* out, size_t capacity) {
  if (value == nullptr || windowsDirectory == nullptr || capacity == 0 || std::strlen(windowsDirectory) < 3 ||
      windowsDirectory[1] != ':') {
    return false;
  }
  // Expanded into a buffer that leaves room for the walk's "\*.*".
  char expanded[kPathCapacity - 4];
  size_t used = 0;
  const auto append = [&](const char* text, size_t length) {
    if (used + length >= sizeof expanded) return false;
    std::memcpy(expanded + used, text, length);
    used += length;
    return true;
  };
  for (const char* p = value; *p != '\0';) {
    if (*p != '%') {
      if (!append(p++, 1)) return false;
      continue;
    }
    const char* close = std::strchr(p + 1, '%');
    if (close == nullptr) return false;
    const std::string name(p + 1, close);
    bool known = false;
    if (EqualsIgnoringCase(name.c_str(), "SystemDrive")) {
      known = append(windowsDirectory, 2);
    } else if (EqualsIgnoringCase(name.c_str(), "SystemRoot") || EqualsIgnoringCase(name.c_str(), "windir")) {
      known = append(windowsDirectory, std::strlen(windowsDirectory));
    }
    if (!known) return false;
    p = close + 1;
  }
  while (used > 3 && expanded[used - 1] == '\\') --used;
  expanded[used] = '\0';
  // X:\name..., on the Windows directory's drive, below its root.
  if (used < 4 || expanded[1] != ':' || expanded[2] != '\\' || expanded[3] == '\\' ||
      std::tolower(static_cast<unsigned char>(expanded[0])) !=
          std::tolower(static_cast<unsigned char>(windowsDirectory[0]))) {
    return false;
  }
  for (size_t i = 3; i < used; ++i) {
    const unsigned char c = static_cast<unsigned char>(expanded[i]);
    if (c < 0x20 || std::strchr("/:*?\"<>|", c) != nullptr) return false;
  }
  // No step may be "." or ".." (or empty): the folder is the one named.
  for (size_t start = 3; start <= used;) {
    size_t end = start;
    while (end < used && expanded[end] != '\\') ++end;
    const size_t length = end - start;
    if (length == 0 || (length <= 2 && std::strncmp(expanded + start, "..", length) == 0)) return false;
    start = end + 1;
  }
  return CopyText(out, capacity, expanded);
}

void ReadSystemFolders(RegistryAccess& registry, const char* windowsDirectory, SystemFolderValues& values) {
  static constexpr char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
  static constexpr char kProfileList[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  const auto read = [&](const char* key, const char* name, char* out) {
    char raw[kPathCapacity];
    return registry.ReadRegValue(RegistryRoot::LocalMachine, key, name, raw, sizeof raw) &&
           ResolveSystemFolder(raw, windowsDirectory, out, kPathCapacity);
  };
  values.folders = {};
  if (read(kProfileList, "ProfilesDirectory", values.profiles)) values.folders.profiles = values.profiles;
  if (read(kCurrentVersion, "ProgramW6432Dir", values.programFiles) ||
      read(kCurrentVersion, "ProgramFilesDir", values.programFiles)) {
    values.folders.programFiles = values.programFiles;
  }
}

bool BuildLogPath(const char* folder, char* out) {
  if (folder == nullptr || folder[0] == '\0') return false;
  return JoinPattern(folder, std::strlen(folder), "Scourix.log", out);
}
