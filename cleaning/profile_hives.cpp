#include "cleaning/profile_hives.h"

namespace {

constexpr size_t kImagePathCapacity = 1024;

bool IsSidText(const char* name) {
  if (name[0] == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    const bool alnum = (*c >= '0' && *c <= '9') || (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z');
    if (!alnum && *c != '-') return false;
  }
  return true;
}

}  // namespace

std::vector<UnloadedProfile> UnloadedProfiles(RegistryAccess& registry) {
  std::vector<UnloadedProfile> profiles;
  uint32_t subKeys = 0, values = 0;
  if (!registry.QueryKeyCounts(RegistryRoot::LocalMachine, kProfileListKey, &subKeys, &values)) return profiles;
  for (uint32_t index = 0; index < subKeys; ++index) {
    char sid[kSubKeyNameCapacity] = {};
    uint32_t unused = 0;
    if (!registry.EnumSubKeyName(RegistryRoot::LocalMachine, kProfileListKey, index, sid, sizeof sid) ||
        !IsSidText(sid) || registry.QueryKeyCounts(RegistryRoot::Users, sid, &unused, &unused)) {
      continue;
    }
    const std::string key = std::string(kProfileListKey) + "\\" + sid;
    char imagePath[kImagePathCapacity] = {};
    if (registry.ReadRegValue(RegistryRoot::LocalMachine, key.c_str(), "ProfileImagePath", imagePath,
                              sizeof imagePath) &&
        imagePath[0] != '\0') {
      profiles.push_back({sid, imagePath});
    }
  }
  return profiles;
}

std::string ProfileMountName(const std::string& sid) { return "Scourix-" + sid; }
