// The folder trees of a scan, as search patterns, in scan order.
#pragma once

#include <cstddef>
#include <string>

#include "cleaning/registry_access.h"
#include "engine/scan_state.h"

// The Windows directory, the profiles folder and Program Files (each where
// the system keeps it and, when that differs, under its English name too),
// and the temporary-files directory.
constexpr size_t kScanTargetCount = 6;

// The names at the Windows drive's root that an English system uses.
constexpr char kEnglishProfilesFolder[] = "Documents and settings";
constexpr char kEnglishProgramFiles[] = "Program Files";

struct ScanTargets {
  char patterns[kScanTargetCount][kPathCapacity] = {};
  bool present[kScanTargetCount] = {};
};

// Where the system says its profiles and programs are (from its registry,
// checked by ResolveSystemFolder), or null when it does not say.
struct LocalizedFolders {
  const char* profiles = nullptr;
  const char* programFiles = nullptr;
};

// What the file system says of one path (no wildcards), as FindFirstFile
// answers: the name its folder lists it under, which is the long name also
// when the path ends in a short 8.3 alias, and what it is.
struct PathFacts {
  bool folder = false;
  bool reparsePoint = false;  // a junction, mount point or symbolic link
  std::string name;
};
// The platform's: false when nothing is at path.
using LookUpPath = bool (*)(const char* path, PathFacts& facts);

// path (X:\name\...) with each name as its folder lists it: the folder's
// long form, compared without regard to case to tell whether two paths name
// one folder. False when a step is missing or is not a folder, when any step
// is a junction, mount point or symbolic link (a folder reached through one
// may be anywhere, another drive included), or when the long form would not
// leave room for the walk's "\*.*".
bool LongRealFolder(const char* path, LookUpPath lookUp, char* out, size_t capacity);

// windowsDirectory and tempDirectory are what the system reported, or null
// when it could not say: a folder that is not known (or whose pattern would
// not fit) yields no target, never a pattern of the wrong folder.
//   1. the Windows directory
//   2. the system's profiles folder, in its long form, else its drive root
//      + "Documents and settings"
//   3. that English folder as well, when the system's was walked and the
//      English one exists
//   4-5. the same for "Program Files"
//   6. the temporary-files directory
// A system folder is walked only when it is none of the folders walked
// before it (the Windows directory included) or the English one beside it,
// lies inside none of them and holds none of them: each tree is walked
// once, and the same folder under another name keeps its English name.
// Without localized folders (or lookUp) an English system's four targets;
// the temporary folder is always walked, inside a profile as it is on an
// English Windows XP.
ScanTargets BuildScanTargets(const char* windowsDirectory, const char* tempDirectory,
                             const LocalizedFolders& localized = {}, LookUpPath lookUp = nullptr);

// A registry value naming a system folder (such as "%SystemDrive%\Programme"),
// expanded and checked: only %SystemDrive%, %SystemRoot% and %windir% are
// expanded, and the result must be a folder below the root of the Windows
// directory's drive, without "." or ".." steps or characters Windows does
// not allow in names, short enough to walk. out gets it without a trailing
// backslash. False (a value the scan must not follow) otherwise.
bool ResolveSystemFolder(const char* value, const char* windowsDirectory, char* out, size_t capacity);

// Where the registry says the profiles folder and Program Files are:
// ProfileList's ProfilesDirectory, and CurrentVersion's ProgramW6432Dir (64-bit
// Windows, in both registry views) or ProgramFilesDir. A value that is
// missing or does not pass ResolveSystemFolder leaves its folder null.
struct SystemFolderValues {
  char profiles[kPathCapacity] = {};
  char programFiles[kPathCapacity] = {};
  LocalizedFolders folders;
};
void ReadSystemFolders(RegistryAccess& registry, const char* windowsDirectory, SystemFolderValues& values);

// The results log's file in folder: folder\Scourix.log. False when the path
// would not fit kPathCapacity (out then holds nothing usable).
bool BuildLogPath(const char* folder, char* out);
