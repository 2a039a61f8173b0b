// A Windows system volume mounted on Linux: where its folders and registry
// hives are. Names are matched without regard to case, as Windows matches
// them, and a link or junction is never taken for a folder.
#pragma once

#include <string>
#include <vector>

// A place on the volume, as Linux reaches it and as the running Windows
// system names it (C:\...).
struct VolumePath {
  std::string host;
  std::string windows;
};

struct ProfileHive {
  std::string name;  // its key under HKEY_USERS
  std::string host;  // the profile's NTUSER.DAT
};

enum class RegistryKind {
  Nt,         // hive files under the Windows directory's System32\config
  Windows9x,  // SYSTEM.DAT / USER.DAT: not hives, not repaired offline
  Missing,
};

struct WindowsVolume {
  VolumePath root;
  VolumePath windowsDirectory;
  // The folder trees to walk, in scan order; missing ones are left out, and
  // so is any that lies inside an earlier one (it has been walked already).
  // Where a case-sensitive mount shows a name in two spellings, both are
  // walked; the first in byte order is the one whose profiles and hives
  // are used.
  std::vector<VolumePath> scanTargets;
  RegistryKind registry = RegistryKind::Missing;
  // Host paths of the machine hives; empty when the volume has none.
  std::string softwareHive;
  std::string systemHive;
  std::string defaultHive;
  std::vector<ProfileHive> profiles;
};

// The drive the running system would give the volume.
constexpr char kSystemDrive[] = "C:";

// Where the volume's own registry puts the profiles folder and Program Files,
// as Windows paths in UTF-8 (C:\Programme), already checked; empty when it
// does not say.
struct SystemFolderNames {
  std::string profiles;
  std::string programFiles;
};

// Finds the Windows directory (WINDOWS or WINNT), the scan targets and the
// hives under mountPoint. False, with the reason in error, when the volume
// holds no Windows directory, or when a hive, or a folder on the way to one,
// is a link: such a hive is never opened, let alone written.
// The system's own folders, when given and on the volume, take the English
// folders' places in the scan order; the English folders are walked too.
// A Windows 95/98/Me volume, whose registry is not read, also gets the names
// its localized versions give Program Files (kLocalizedProgramFiles).
bool DiscoverVolume(const std::string& mountPoint, WindowsVolume& volume, std::string& error,
                    const SystemFolderNames& system = {});

// The names the localized versions of Windows 95/98/Me give Program Files at
// the root of the Windows drive, where they differ from the English one.
extern const char* const kLocalizedProgramFiles[];

// The entries of folder whose names equal name without regard to case and
// that are real folders (wantFolder) or regular files, in byte order.
std::vector<std::string> FindEntries(const std::string& folder, const std::string& name, bool wantFolder);
// The first of them, or empty when there is none.
std::string FindEntry(const std::string& folder, const std::string& name, bool wantFolder);

// path + "\" + name, and host + "/" + name.
VolumePath Child(const VolumePath& parent, const std::string& name);

// host below the volume's root, as '/'-separated names ("" for the root).
std::string RelativePath(const WindowsVolume& volume, const std::string& host);
