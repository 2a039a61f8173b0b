// The profiles whose registry hive is not loaded: run as SYSTEM before anyone
// logs on, HKEY_USERS holds no user's hive, and the registry tools' policy
// the worm set there would be repaired for nobody. Their hives are loaded
// under HKEY_USERS for the repair and unloaded again.
#pragma once

#include <string>
#include <vector>

#include "cleaning/registry_access.h"

constexpr char kProfileListKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

struct UnloadedProfile {
  std::string sid;        // the profile's key under ProfileList
  std::string imagePath;  // its ProfileImagePath, environment variables unexpanded
};

// Every profile in ProfileList whose hive is not under HKEY_USERS by its SID.
// A key name that is not a SID (letters, digits and '-' only) is passed over:
// it becomes part of a key name under HKEY_USERS.
std::vector<UnloadedProfile> UnloadedProfiles(RegistryAccess& registry);

// The name a profile's hive is loaded under, beside the SIDs Windows uses,
// so that a user logging on meanwhile still gets their own.
std::string ProfileMountName(const std::string& sid);

// Portable above; Windows only below.

// The system calls of loading a hive, replaceable for tests. Each returns a
// Windows error code (0: done).
struct ProfileHiveCalls {
  long (*load)(const char* name, const char* file);  // under HKEY_USERS
  long (*unload)(const char* name);
};
const ProfileHiveCalls& SystemProfileHiveCalls();

// Loads each unloaded profile's NTUSER.DAT (with the backup and restore
// privileges), sets its registry tools' policy back as the repair does for
// loaded hives, and unloads it. A hive that cannot be loaded or unloaded is
// named in its own result line. A profile without a hive file is passed over.
// Returns how many hives failed.
int RepairUnloadedProfileHives(const ProfileHiveCalls& calls);
