// The folder trees of a scan, as search patterns, in scan order.
#pragma once

#include <cstddef>

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

// Whether path is a real folder (not a link or junction). The platform's.
using FolderExists = bool (*)(const char* path);

// windowsDirectory and tempDirectory are what the system reported, or null
// when it could not say: a folder that is not known (or whose pattern would
// not fit) yields no target, never a pattern of the wrong folder.
//   1. the Windows directory
//   2. the system's profiles folder when it exists and is not the English
//      one, else its drive root + "Documents and settings"
//   3. that English folder as well, when the system's differs and the
//      English one exists
//   4-5. the same for "Program Files"
//   6. the temporary-files directory
// Without localized folders (or exists) an English system's four targets.
ScanTargets BuildScanTargets(const char* windowsDirectory, const char* tempDirectory,
                             const LocalizedFolders& localized = {}, FolderExists exists = nullptr);

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
