#include "engine/scan_targets.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

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

// Whether a and b (full paths without a trailing separator, except a drive's
// root) name one folder, or one lies inside the other, case aside.
bool Overlap(const std::string& a, const std::string& b) {
  const std::string& shorter = a.size() <= b.size() ? a : b;
  const std::string& longer = a.size() <= b.size() ? b : a;
  if (!EqualsIgnoringCase(longer.substr(0, shorter.size()).c_str(), shorter.c_str())) return false;
  return longer.size() == shorter.size() || longer[shorter.size()] == '\\' || shorter.back() == '\\';
}

// The folders walked so far, in long form where it is known.
class WalkedFolders {
 public:
  void Add(const std::string& folder) { folders_.push_back(folder); }
  bool Overlaps(const std::string& folder) const {
    for (const std::string& walked : folders_) {
      if (Overlap(folder, walked)) return true;
    }
    return false;
  }

 private:
  std::vector<std::string> folders_;
};

// The folder's long form when it is a real folder, else the folder as named.
std::string Comparable(const char* folder, LookUpPath lookUp) {
  char longForm[kPathCapacity];
  if (lookUp != nullptr && LongRealFolder(folder, lookUp, longForm, sizeof longForm)) return longForm;
  std::string named = folder;
  while (named.size() > 3 && named.back() == '\\') named.pop_back();
  return named;
}

// The English folder's slot and, when the system keeps that folder
// elsewhere, the system's slot before it.
void AddLocalizedTarget(const char* windowsDirectory, const char* english, const char* system, LookUpPath lookUp,
                        WalkedFolders& walked, ScanTargets& targets, size_t slot) {
  char englishFolder[kPathCapacity];
  if (!JoinPattern(windowsDirectory, 3, english, englishFolder)) return;
  char englishLong[kPathCapacity];
  const bool englishExists = lookUp != nullptr && LongRealFolder(englishFolder, lookUp, englishLong, sizeof englishLong);
  char systemLong[kPathCapacity];
  const bool useSystem = system != nullptr && lookUp != nullptr &&
                         LongRealFolder(system, lookUp, systemLong, sizeof systemLong) && !walked.Overlaps(systemLong) &&
                         !(englishExists && Overlap(systemLong, englishLong));
  if (!useSystem) {
    targets.present[slot] = JoinPattern(englishFolder, std::strlen(englishFolder), "*.*", targets.patterns[slot]);
    walked.Add(englishExists ? englishLong : englishFolder);
    return;
  }
  targets.present[slot] = JoinPattern(systemLong, std::strlen(systemLong), "*.*", targets.patterns[slot]);
  walked.Add(systemLong);
  if (englishExists) {
    targets.present[slot + 1] =
        JoinPattern(englishFolder, std::strlen(englishFolder), "*.*", targets.patterns[slot + 1]);
    walked.Add(englishLong);
  }
}

// Characters FindFirstFile takes for wildcards: a name holding one would
// answer for another entry.
bool HasWildcard(const std::string& name) { return name.find_first_of("*?<>\"") != std::string::npos; }

}  // namespace

bool LongRealFolder(const char* path, LookUpPath lookUp, char* out, size_t capacity) {
  if (path == nullptr || lookUp == nullptr || std::strlen(path) < 4 || path[1] != ':' || path[2] != '\\') return false;
  std::string built(path, 3);
  bool stepped = false;
  for (const char* step = path + 3; *step != '\0';) {
    const char* end = std::strchr(step, '\\');
    if (end == nullptr) end = step + std::strlen(step);
    const std::string name(step, end);
    step = *end == '\0' ? end : end + 1;
    if (name.empty()) continue;
    PathFacts facts;
    const std::string probe = built + (stepped ? "\\" : "") + name;
    if (HasWildcard(name) || !lookUp(probe.c_str(), facts) || !facts.folder || facts.reparsePoint ||
        facts.name.empty() || facts.name == "." || facts.name == ".." ||
        facts.name.find_first_of("\\/") != std::string::npos) {
      return false;
    }
    built += (stepped ? "\\" : "") + facts.name;
    stepped = true;
  }
  // Room for the walk's "\*.*" after it.
  if (!stepped || built.size() + 4 >= kPathCapacity || built.size() >= capacity) return false;
  std::memcpy(out, built.c_str(), built.size() + 1);
  return true;
}

ScanTargets BuildScanTargets(const char* windowsDirectory, const char* tempDirectory,
                             const LocalizedFolders& localized, LookUpPath lookUp) {
  ScanTargets targets;
  if (windowsDirectory != nullptr && windowsDirectory[0] != '\0') {
    const size_t length = std::strlen(windowsDirectory);
    targets.present[0] = JoinPattern(windowsDirectory, length, "*.*", targets.patterns[0]);
    WalkedFolders walked;
    walked.Add(Comparable(windowsDirectory, lookUp));
    // The drive root is the first three characters, such as C:\.
    if (length >= 3) {
      AddLocalizedTarget(windowsDirectory, kEnglishProfilesFolder, localized.profiles, lookUp, walked, targets, 1);
      AddLocalizedTarget(windowsDirectory, kEnglishProgramFiles, localized.programFiles, lookUp, walked, targets, 3);
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
