#include <windows.h>

#include <string>

#include "cleaning/profile_hives.h"
#include "cleaning/registry_repair.h"
#include "cleaning/registry_win32.h"
#include "engine/result_lines.h"
#include "engine/scan_state.h"
#include "win32/file.h"
#include "win32/process.h"

namespace {

constexpr char kHiveFile[] = "\\NTUSER.DAT";

long LoadUserHive(const char* name, const char* file) { return RegLoadKeyA(HKEY_USERS, name, file); }
long UnloadUserHive(const char* name) { return RegUnLoadKeyA(HKEY_USERS, name); }

// The profile's hive file, with %SystemDrive% and the like expanded; empty
// when it does not fit a path.
std::string HiveFile(const std::string& imagePath) {
  char folder[kPathCapacity] = {};
  const DWORD length = ExpandEnvironmentStringsA(imagePath.c_str(), folder, sizeof folder);
  if (length == 0 || length > sizeof folder || length - 1 + sizeof kHiveFile > kPathCapacity) return std::string();
  std::string file = folder;
  if (!file.empty() && file.back() == '\\') file.pop_back();
  return file + kHiveFile;
}

}  // namespace

const ProfileHiveCalls& SystemProfileHiveCalls() {
  static const ProfileHiveCalls calls = {LoadUserHive, UnloadUserHive};
  return calls;
}

int RepairUnloadedProfileHives(const ProfileHiveCalls& calls) {
  const std::vector<UnloadedProfile> profiles = UnloadedProfiles(SystemRegistry());
  if (profiles.empty()) return 0;
  // Loading and unloading need both (without them the loads fail, and say so).
  EnablePrivilege("SeRestorePrivilege");
  EnablePrivilege("SeBackupPrivilege");
  int failed = 0;
  for (const UnloadedProfile& profile : profiles) {
    const std::string file = HiveFile(profile.imagePath);
    if (file.empty()) continue;
    // A profile whose folder is gone has nothing the worm could have set.
    if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
    }
    const std::string name = ProfileMountName(profile.sid);
    const long loaded = calls.load(name.c_str(), file.c_str());
    if (loaded != ERROR_SUCCESS) {
      // A hive that is not one can leave an empty key behind; a name already
      // in use is not this program's to unload.
      if (loaded != ERROR_ALREADY_EXISTS) calls.unload(name.c_str());
      ReportProfileHiveFailed(file.c_str(), scanState.virusName, "loaded", static_cast<unsigned long>(loaded));
      ++failed;
      continue;
    }
    RestoreRegistryTools(SystemRegistry(), name.c_str());
    const long unloaded = calls.unload(name.c_str());
    if (unloaded != ERROR_SUCCESS) {
      ReportProfileHiveFailed(file.c_str(), scanState.virusName, "unloaded", static_cast<unsigned long>(unloaded));
      ++failed;
    }
  }
  return failed;
}
