#include "cleaning/registry_repair.h"

#include <cstring>
#include <memory>

#include "engine/result_lines.h"
#include "engine/scan_state.h"

namespace {

constexpr char kExplorerKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\explorer";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kPolicySuffix[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr char kDefaultUserPolicyKey[] = ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr char kPolicyValue[] = "DisableRegistryTools";
constexpr char kInstallItem[] = "Install Item";

// Deleted in this order, "Install Item" first.
constexpr const char* kWormValues[] = {
    kInstallItem, "Unfile", "CacheBox Outfit", "Kazaa Infect", "Mirc Install Folder",
    "Email Address", "Server", "VicName", "Installed",
};

struct CommandRow {
  const char* key;
  const char* replacement;
};
constexpr CommandRow kCommands[] = {
    {"Software\\CLASSES\\exefile\\shell\\open\\command", "\"%1\" %*"},
    {"Software\\CLASSES\\batfile\\shell\\open\\command", "\"%1\" %*"},
    {"Software\\CLASSES\\comfile\\shell\\open\\command", "\"%1\" %*"},
    {"Software\\CLASSES\\piffile\\shell\\open\\command", "\"%1\" %*"},
    {"Software\\CLASSES\\regfile\\shell\\open\\command", "regedit.exe \"%1\""},
    {"Software\\CLASSES\\scrfile\\shell\\config\\command", "\"%1\""},
    {"Software\\CLASSES\\scrfile\\shell\\open\\command", "\"%1\" /S"},
};

constexpr size_t kSubKeyBuffer = 512;
constexpr size_t kKeyPathBuffer = 1000;
constexpr size_t kValueBuffer = 1000;
constexpr size_t kWormPathBuffer = 100;
// The run value is read whole, whatever its length (the registry's standard
// format holds values of up to 1 MB), and only its cut form must fit wormPath.
constexpr size_t kRunValueBuffer = (size_t{1} << 20) + 2;

// prefix + separator + name into out; false when it does not fit.
bool JoinKeyPath(char* out, size_t capacity, const char* prefix, const char* separator, const char* name) {
  const size_t a = std::strlen(prefix), b = std::strlen(separator), c = std::strlen(name);
  if (a + b + c >= capacity) return false;
  std::memcpy(out, prefix, a);
  std::memcpy(out + a, separator, b);
  std::memcpy(out + a + b, name, c + 1);
  return true;
}

// Cuts a program path with arguments after the three characters that follow
// its first '.': "C:\WIN\x.exe -run" becomes "C:\WIN\x.exe". Fewer than three
// characters after the dot leave the text as it is.
void CutAfterExtension(char* path) {
  char* dot = std::strchr(path, '.');
  if (dot == nullptr) return;
  if (std::strlen(dot + 1) >= 3) dot[4] = '\0';
}

// src into dst when it fits with its terminator; false (dst untouched) when not.
bool CopyIfFits(char* dst, size_t capacity, const char* src) {
  const size_t length = std::strlen(src);
  if (length >= capacity) return false;
  std::memcpy(dst, src, length + 1);
  return true;
}

}  // namespace

int RestoreRegistryTools(RegistryAccess& registry, const char* userKey) {
  char keyPath[kKeyPathBuffer] = {};
  return JoinKeyPath(keyPath, sizeof keyPath, userKey, kPolicySuffix, "") &&
                 registry.WriteRegString(RegistryRoot::Users, keyPath, kPolicyValue, "0")
             ? 1
             : 0;
}

RegistryRepairOutcome RepairWormRegistry(RegistryAccess& registry) {
  char subKey[kSubKeyBuffer] = {};
  char keyPath[kKeyPathBuffer] = {};
  char value[kValueBuffer] = {};
  char wormPath[kWormPathBuffer] = {};
  bool removed = false;

  // 1-2. The worm's configuration key: the first subkey of the explorer key
  // with an "Install Item" value, whose data names the run-key value.
  uint32_t subKeys = 0, values = 0;
  if (!registry.QueryKeyCounts(RegistryRoot::LocalMachine, kExplorerKey, &subKeys, &values) || subKeys == 0) {
    return {};
  }
  bool found = false;
  for (uint32_t index = 0; index < subKeys && !found; ++index) {
    if (!registry.EnumSubKeyName(RegistryRoot::LocalMachine, kExplorerKey, index, subKey, kSubKeyNameCapacity) ||
        !JoinKeyPath(keyPath, sizeof keyPath, kExplorerKey, "\\", subKey)) {
      continue;
    }
    found = registry.ReadRegValue(RegistryRoot::LocalMachine, keyPath, kInstallItem, value, sizeof value) != 0;
  }
  if (!found) return {};

  // 3. Its values and the key itself, only once "Install Item" is gone.
  if (registry.DeleteRegValue(RegistryRoot::LocalMachine, keyPath, kInstallItem)) {
    for (size_t i = 1; i < sizeof kWormValues / sizeof kWormValues[0]; ++i) {
      registry.DeleteRegValue(RegistryRoot::LocalMachine, keyPath, kWormValues[i]);
    }
    registry.DeleteRegKey(RegistryRoot::LocalMachine, keyPath);
    removed = true;
  }

  // 4. The start-up entry: remember the worm's program path, then delete it.
  const std::unique_ptr<char[]> runValue(new char[kRunValueBuffer]);
  bool wormPathKnown = false;
  if (registry.ReadRegValue(RegistryRoot::LocalMachine, kRunKey, value, runValue.get(), kRunValueBuffer)) {
    // 5. The bare program path.
    CutAfterExtension(runValue.get());
    wormPathKnown = CopyIfFits(wormPath, sizeof wormPath, runValue.get());
  }
  registry.DeleteRegValue(RegistryRoot::LocalMachine, kRunKey, value);

  // 6. Open commands that run the worm get their standard command back.
  // Without a known path nothing is rewritten: other programs' handlers stay,
  // and an empty path, which every command contains, is no path.
  if (wormPathKnown && wormPath[0] != '\0') {
    for (const CommandRow& row : kCommands) {
      if (registry.ReadRegValue(RegistryRoot::LocalMachine, row.key, nullptr, value, sizeof value) &&
          std::strstr(value, wormPath) != nullptr) {
        registry.WriteRegString(RegistryRoot::LocalMachine, row.key, nullptr, row.replacement);
      }
    }
  }

  // 7-8. The registry tools, in every user hive that has the policy key and
  // for the default user. Keys are opened, never created.
  if (registry.QueryKeyCounts(RegistryRoot::Users, nullptr, &subKeys, &values)) {
    for (uint32_t index = 0; index < subKeys; ++index) {
      if (registry.EnumSubKeyName(RegistryRoot::Users, nullptr, index, subKey, kSubKeyNameCapacity)) {
        RestoreRegistryTools(registry, subKey);
      }
    }
  }
  registry.WriteRegString(RegistryRoot::Users, kDefaultUserPolicyKey, kPolicyValue, "0");

  return {1, removed};
}

int RepairRegistry(RegistryAccess& registry, const char* virusName) {
  const RegistryRepairOutcome outcome = RepairWormRegistry(registry);
  if (outcome.removed && scanState.progressWindow != nullptr) {
    ReportRegistryRemoved(virusName);
  }
  return outcome.found;
}

int ReportWormRegistry(RegistryAccess& registry, const char* virusName) {
  ReadOnlyRegistry readOnly(registry);
  const RegistryRepairOutcome outcome = RepairWormRegistry(readOnly);
  if (outcome.removed && scanState.progressWindow != nullptr) ReportRegistryFound(virusName);
  return outcome.found;
}
