#include "rescue/volume/volume.h"

#include <strings.h>

#include <algorithm>
#include <initializer_list>

#include "rescue/volume/folder_listing.h"
#include "rescue/volume/hive_registry.h"

namespace {

// The place at relative (names separated by '/') under base, each step
// matched without regard to case; false when a step is missing. linked,
// when given, is set when a missing step is there as a link (or anything
// else that is neither a folder nor a regular file).
bool Resolve(const VolumePath& base, const std::string& relative, bool lastIsFolder, VolumePath& out,
             bool* linked = nullptr) {
  out = base;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const bool last = end == relative.size();
    const std::string name = relative.substr(start, end - start);
    const std::string found = FindEntry(out.host, name, !last || lastIsFolder);
    if (found.empty()) {
      if (linked != nullptr) {
        for (const FolderEntry& entry : ListFolder(out.host)) {
          *linked = *linked || (entry.kind == EntryKind::Other && strcasecmp(entry.name.c_str(), name.c_str()) == 0);
        }
      }
      return false;
    }
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

// A folder the volume's registry names is walked only as a tree of its own:
// not one walked already, inside one or around one, nor one of the English
// folders it would be walked beside (the English folder is walked then).
void AddSystemFolder(WindowsVolume& volume, const VolumePath& root, const VolumePath& folder,
                     std::initializer_list<const char*> englishNames) {
  const auto overlaps = [&](const std::string& other) {
    return Inside(folder.host, other) || Inside(other, folder.host);
  };
  for (const VolumePath& earlier : volume.scanTargets) {
    if (overlaps(earlier.host)) return;
  }
  for (const char* english : englishNames) {
    for (const std::string& spelling : FindEntries(root.host, english, true)) {
      if (overlaps(Child(root, spelling).host)) return;
    }
  }
  volume.scanTargets.push_back(folder);
}

// A Linux driver may show names that differ only in case as two folders
// (Windows would show one of them): every one of them is walked, so that
// nothing hides in the spelling Windows would not pick.
void AddTargets(WindowsVolume& volume, const VolumePath& parent, const std::string& name) {
  for (const std::string& spelling : FindEntries(parent.host, name, true)) AddTarget(volume, Child(parent, spelling));
}

std::vector<std::string> SortedFolders(const std::string& folder) {
  std::vector<std::string> names;
  for (const FolderEntry& entry : ListFolder(folder)) {
    if (entry.kind == EntryKind::Folder) names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every profile folder (one with an NTUSER.DAT) under the profiles folder.
void FindProfiles(const VolumePath& profilesFolder, WindowsVolume& volume, std::vector<VolumePath>& folders,
                  std::vector<std::string>& linkedHives) {
  for (const std::string& name : SortedFolders(profilesFolder.host)) {
    VolumePath hive;
    const VolumePath profile = Child(profilesFolder, name);
    bool linked = false;
    if (!Resolve(profile, "NTUSER.DAT", false, hive, &linked)) {
      if (linked) linkedHives.push_back(profile.windows + "\\NTUSER.DAT");
      continue;
    }
    // ".DEFAULT" under HKEY_USERS is always the DEFAULT hive; and the repair
    // names the keys there in the 8-bit view, so a name outside Latin-1
    // gets one that survives it.
    const std::string base = Latin1ToUtf8(Utf8ToLatin1(name)) == name ? name : std::string("Profile");
    std::string key = base;
    const auto taken = [&](const std::string& k) {
      return strcasecmp(k.c_str(), ".DEFAULT") == 0 ||
             std::any_of(volume.profiles.begin(), volume.profiles.end(),
                         [&](const ProfileHive& p) { return strcasecmp(p.name.c_str(), k.c_str()) == 0; });
    };
    for (int n = 2; taken(key); ++n) {
      key = base + "~" + std::to_string(n);
    }
    volume.profiles.push_back({key, hive.host});
    folders.push_back(profile);
  }
}

// A Windows path such as C:\Programme as the folder on the volume, each name
// matched without regard to case; false when it is not there.
bool ResolveWindowsFolder(const VolumePath& root, const std::string& windowsPath, VolumePath& out) {
  if (windowsPath.size() < 4 || windowsPath.compare(1, 2, ":\\") != 0) return false;
  std::string relative = windowsPath.substr(3);
  for (char& c : relative) c = c == '\\' ? '/' : c;
  return Resolve(root, relative, true, out);
}

}  // namespace

// From the table of the folder's localized names in the Wikipedia article
// "Program Files" (its "Localization" section): the versions whose name
// differs from the English one before Windows Vista.
const char* const kLocalizedProgramFiles[] = {
    "Programmer",             // Danish
    "Programme",              // German
    "Programfájlok",          // Hungarian
    "Programmi",              // Italian
    "Programfiler",           // Norwegian
    "Programas",              // Portuguese
    "Arquivos de programas",  // Portuguese (Brazil)
    "Archivos de programa",   // Spanish
    "Program",                // Swedish
    nullptr,
};

VolumePath Child(const VolumePath& parent, const std::string& name) {
  return {parent.host + "/" + name, parent.windows + "\\" + name};
}

std::string RelativePath(const WindowsVolume& volume, const std::string& host) {
  return host.size() > volume.root.host.size() ? host.substr(volume.root.host.size() + 1) : std::string();
}

std::vector<std::string> FindEntries(const std::string& folder, const std::string& name, bool wantFolder) {
  std::vector<std::string> found;
  for (const FolderEntry& entry : ListFolder(folder)) {
    if (entry.kind == (wantFolder ? EntryKind::Folder : EntryKind::File) &&
        strcasecmp(entry.name.c_str(), name.c_str()) == 0) {
      found.push_back(entry.name);
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string FindEntry(const std::string& folder, const std::string& name, bool wantFolder) {
  const std::vector<std::string> found = FindEntries(folder, name, wantFolder);
  return found.empty() ? std::string() : found.front();
}

namespace {

// 1. WINDOWS or WINNT, in any spelling; where several exist, the first that
// holds a registry. False when there is none.
bool FindWindowsDirectory(WindowsVolume& volume) {
  std::vector<VolumePath> candidates;
  for (const char* name : {"WINDOWS", "WINNT"}) {
    for (const std::string& spelling : FindEntries(volume.root.host, name, true)) {
      candidates.push_back(Child(volume.root, spelling));
    }
  }
  if (candidates.empty()) return false;
  VolumePath hive;
  size_t chosen = 0;
  for (size_t i = candidates.size(); i-- > 0;) {
    if (Resolve(candidates[i], "System32/config/SOFTWARE", false, hive) ||
        Resolve(candidates[i], "SYSTEM.DAT", false, hive)) {
      chosen = i;
    }
  }
  volume.windowsDirectory = candidates[chosen];
  return true;
}

// 2. The machine's hives and the kind of registry; linkedHives gets each
// that is there as a link (or anything but a file).
void FindMachineHives(WindowsVolume& volume, std::vector<std::string>& linkedHives) {
  const VolumePath& windows = volume.windowsDirectory;
  VolumePath hive;
  const auto machineHive = [&](const char* name, std::string& host) {
    bool linked = false;
    if (Resolve(windows, std::string("System32/config/") + name, false, hive, &linked)) host = hive.host;
    if (linked) linkedHives.push_back(windows.windows + "\\System32\\config\\" + name);
  };
  machineHive("SOFTWARE", volume.softwareHive);
  machineHive("SYSTEM", volume.systemHive);
  machineHive("DEFAULT", volume.defaultHive);
  if (!volume.softwareHive.empty()) {
    volume.registry = RegistryKind::Nt;
  } else if (Resolve(windows, "SYSTEM.DAT", false, hive) || Resolve(windows, "USER.DAT", false, hive)) {
    volume.registry = RegistryKind::Windows9x;
  }
}

// 3. The order of the scan: the Windows directory, the profiles (whose
// hives are found on the way), the programs, then the temporary folders.
// The system's own folders come first, in the places of the English ones.
void AddScanTargets(WindowsVolume& volume, const SystemFolderNames& system, std::vector<std::string>& linkedHives) {
  const VolumePath& root = volume.root;
  const VolumePath& windows = volume.windowsDirectory;
  AddTarget(volume, windows);
  AddTargets(volume, root, windows.host.substr(windows.host.rfind('/') + 1));
  std::vector<VolumePath> profileFolders;
  std::vector<std::string> profilesSearched;
  VolumePath folder;
  const auto addProfiles = [&](const VolumePath& profiles) {
    if (std::find(profilesSearched.begin(), profilesSearched.end(), profiles.host) != profilesSearched.end()) return;
    profilesSearched.push_back(profiles.host);
    FindProfiles(profiles, volume, profileFolders, linkedHives);
  };
  // Its profiles are searched for hives wherever it is, also where another
  // walk covers its files.
  if (ResolveWindowsFolder(root, system.profiles, folder)) {
    AddSystemFolder(volume, root, folder, {"Documents and Settings", "Users"});
    addProfiles(folder);
  }
  for (const char* profiles : {"Documents and Settings", "Users"}) {
    if (!Resolve(root, profiles, true, folder)) continue;
    AddTargets(volume, root, profiles);
    addProfiles(folder);
  }
  if (ResolveWindowsFolder(root, system.programFiles, folder)) {
    AddSystemFolder(volume, root, folder, {"Program Files"});
  }
  AddTargets(volume, root, "Program Files");
  if (volume.registry == RegistryKind::Windows9x) {
    for (const char* const* name = kLocalizedProgramFiles; *name != nullptr; ++name) AddTargets(volume, root, *name);
  }
  if (Resolve(windows, "Temp", true, folder)) AddTarget(volume, folder);
  for (const VolumePath& profile : profileFolders) {
    for (const char* temp : {"Local Settings/Temp", "AppData/Local/Temp"}) {
      if (Resolve(profile, temp, true, folder)) AddTarget(volume, folder);
    }
  }
}

}  // namespace

bool DiscoverVolume(const std::string& mountPoint, WindowsVolume& volume, std::string& error,
                    const SystemFolderNames& system) {
  volume = WindowsVolume{};
  volume.root = {mountPoint == "/" ? "" : mountPoint, kSystemDrive};
  if (!FindWindowsDirectory(volume)) {
    error = "no Windows directory (WINDOWS or WINNT) at the top of the volume";
    return false;
  }
  std::vector<std::string> linkedHives;
  FindMachineHives(volume, linkedHives);
  AddScanTargets(volume, system, linkedHives);
  if (!linkedHives.empty()) {
    error = "the registry hive " + linkedHives.front() +
            " (or a folder on the way to it) is a symbolic link or not a regular file; it is never written";
    return false;
  }
  return true;
}
