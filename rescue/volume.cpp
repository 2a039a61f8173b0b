#include "rescue/volume.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace {

// The place at relative (names separated by '/') under base, each step
// matched without regard to case; false when a step is missing.
bool Resolve(const VolumePath& base, const std::string& relative, bool lastIsFolder, VolumePath& out) {
  out = base;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const bool last = end == relative.size();
    const std::string found = FindEntry(out.host, relative.substr(start, end - start), !last || lastIsFolder);
    if (found.empty()) return false;
    out = Child(out, found);
    start = end + 1;
  }
  return true;
}

bool Inside(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

void AddTarget(WindowsVolume& volume, const VolumePath& target) {
  for (const VolumePath& earlier : volume.scanTargets) {
    if (Inside(target.host, earlier.host)) return;
  }
  volume.scanTargets.push_back(target);
}

std::vector<std::string> SortedFolders(const std::string& folder) {
  std::vector<std::string> names;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    struct stat st {};
    if (name == "." || name == ".." || lstat((folder + "/" + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      continue;
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every profile folder (one with an NTUSER.DAT) under the profiles folder.
void FindProfiles(const VolumePath& profilesFolder, WindowsVolume& volume, std::vector<VolumePath>& folders) {
  for (const std::string& name : SortedFolders(profilesFolder.host)) {
    VolumePath hive;
    const VolumePath profile = Child(profilesFolder, name);
    if (!Resolve(profile, "NTUSER.DAT", false, hive)) continue;
    std::string key = name;
    for (int n = 2; std::any_of(volume.profiles.begin(), volume.profiles.end(),
                                [&](const ProfileHive& p) { return strcasecmp(p.name.c_str(), key.c_str()) == 0; });
         ++n) {
      key = name + "~" + std::to_string(n);
    }
    volume.profiles.push_back({key, hive.host});
    folders.push_back(profile);
  }
}

}  // namespace

VolumePath Child(const VolumePath& parent, const std::string& name) {
  return {parent.host + "/" + name, parent.windows + "\\" + name};
}

std::string FindEntry(const std::string& folder, const std::string& name, bool wantFolder) {
  std::string best;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return best;
  while (const dirent* entry = readdir(dir.get())) {
    if (strcasecmp(entry->d_name, name.c_str()) != 0 || (!best.empty() && best < entry->d_name)) continue;
    struct stat st {};
    if (lstat((folder + "/" + entry->d_name).c_str(), &st) != 0) continue;
    if (wantFolder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) best = entry->d_name;
  }
  return best;
}

bool DiscoverVolume(const std::string& mountPoint, WindowsVolume& volume, std::string& error) {
  volume = WindowsVolume{};
  const VolumePath root{mountPoint == "/" ? "" : mountPoint, kSystemDrive};

  // WINDOWS or WINNT; where both exist, the one that holds a registry.
  VolumePath candidates[2];
  bool present[2] = {Resolve(root, "WINDOWS", true, candidates[0]), Resolve(root, "WINNT", true, candidates[1])};
  VolumePath hive;
  int chosen = -1;
  for (int i = 0; i < 2 && chosen < 0; ++i) {
    if (present[i] && (Resolve(candidates[i], "System32/config/SOFTWARE", false, hive) ||
                       Resolve(candidates[i], "SYSTEM.DAT", false, hive))) {
      chosen = i;
    }
  }
  for (int i = 0; i < 2 && chosen < 0; ++i) {
    if (present[i]) chosen = i;
  }
  if (chosen < 0) {
    error = "no Windows directory (WINDOWS or WINNT) at the top of the volume";
    return false;
  }
  volume.windowsDirectory = candidates[chosen];
  const VolumePath& windows = volume.windowsDirectory;

  if (Resolve(windows, "System32/config/SOFTWARE", false, hive)) {
    volume.registry = RegistryKind::Nt;
    volume.softwareHive = hive.host;
    if (Resolve(windows, "System32/config/SYSTEM", false, hive)) volume.systemHive = hive.host;
    if (Resolve(windows, "System32/config/DEFAULT", false, hive)) volume.defaultHive = hive.host;
  } else if (Resolve(windows, "SYSTEM.DAT", false, hive) || Resolve(windows, "USER.DAT", false, hive)) {
    volume.registry = RegistryKind::Windows9x;
  }

  // The order of the scan: the Windows directory, the profiles, the
  // programs, then the temporary folders.
  AddTarget(volume, windows);
  std::vector<VolumePath> profileFolders;
  VolumePath folder;
  for (const char* profiles : {"Documents and Settings", "Users"}) {
    if (!Resolve(root, profiles, true, folder)) continue;
    AddTarget(volume, folder);
    FindProfiles(folder, volume, profileFolders);
  }
  if (Resolve(root, "Program Files", true, folder)) AddTarget(volume, folder);
  if (Resolve(windows, "Temp", true, folder)) AddTarget(volume, folder);
  for (const VolumePath& profile : profileFolders) {
    for (const char* temp : {"Local Settings/Temp", "AppData/Local/Temp"}) {
      if (Resolve(profile, temp, true, folder)) AddTarget(volume, folder);
    }
  }
  return true;
}
