// The registry repair over an in-memory registry.
#include "cleaning/profile_hives.h"
#include "cleaning/registry_repair.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/scan_state.h"
#include "tests/support/memory_registry.h"
#include "tests/support/progress_recorder.h"
#include "tests/support/worm_registry.h"

namespace {

constexpr RegistryRoot HKLM = RegistryRoot::LocalMachine;
constexpr RegistryRoot HKU = RegistryRoot::Users;
const std::string kExplorer = worm_registry::kExplorer;
const std::string kRun = worm_registry::kRun;
const std::string kPolicy = worm_registry::kPolicy;
const std::string kUser = "S-1-5-21-1004336348-1177238915-682003330-1000";
const std::string kWormProgram = worm_registry::kWormProgram;
const auto& kWormValueNames = worm_registry::kValueNames;

struct CommandRow {
  std::string key;
  std::string replacement;
};
std::vector<CommandRow> Commands() {
  std::vector<CommandRow> rows;
  for (const worm_registry::CommandRow& row : worm_registry::kCommands) rows.push_back({row.key, row.replacement});
  return rows;
}
const std::vector<CommandRow> kCommands = Commands();

// The worm's configuration key with all its values, under the given name.
void AddWormKey(MemoryRegistry& r, const std::string& name, const std::string& runValue) {
  const std::string key = kExplorer + "\\" + name;
  for (const char* value : kWormValueNames) r.SetString(HKLM, key, value, "x");
  r.SetString(HKLM, key, "Install Item", runValue);
}

// A registry as the worm leaves it, with the machine's own entries beside.
MemoryRegistry Infected() {
  MemoryRegistry r;
  r.SetString(HKLM, kExplorer + "\\Advanced", "Hidden", "1");
  r.SetString(HKLM, kExplorer + "\\Shell Folders", "Desktop", "C:\\WINDOWS\\Desktop");
  AddWormKey(r, "CacheBox", "Tcp32 Service");
  r.SetString(HKLM, kRun, "Tcp32 Service", kWormProgram + " -startup");
  r.SetString(HKLM, kRun, "SystemTray", "SysTray.Exe");
  for (const CommandRow& row : kCommands) r.SetString(HKLM, row.key, "", kWormProgram + " " + row.replacement);
  r.SetRaw(HKU, kUser + kPolicy, "DisableRegistryTools", MemoryRegistry::kDword, {1, 0, 0, 0});
  r.SetRaw(HKU, ".DEFAULT" + kPolicy, "DisableRegistryTools", MemoryRegistry::kDword, {1, 0, 0, 0});
  r.Create(HKU, "S-1-5-18\\Software\\Microsoft");  // a hive without the policy key
  return r;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class RegistryRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    scanState = ScanState{};
    RecordProgress();
    ClearProgressMessages();
  }
  void TearDown() override { scanState = ScanState{}; }
  static std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (const ProgressMessage& m : ProgressMessages()) lines.push_back(m.text);
    return lines;
  }
};

TEST_F(RegistryRepair, RemovesTheWormAndRestoresWhatItChanged) {
  MemoryRegistry r = Infected();
  EXPECT_EQ(RepairRegistry(r, "W32/Gibe.F.Worm"), 1);

  EXPECT_FALSE(r.Exists(HKLM, kExplorer + "\\CacheBox"));
  EXPECT_TRUE(r.Exists(HKLM, kExplorer + "\\Advanced"));
  EXPECT_FALSE(r.GetValue(HKLM, kRun, "Tcp32 Service"));
  EXPECT_EQ(r.GetString(HKLM, kRun, "SystemTray"), "SysTray.Exe");
  for (const CommandRow& row : kCommands) {
    const auto value = r.GetValue(HKLM, row.key, "");
    ASSERT_TRUE(value) << row.key;
    // REG_SZ, the replacement character for character, no terminator counted.
    EXPECT_EQ(value->type, MemoryRegistry::kString) << row.key;
    EXPECT_EQ(value->data, Bytes(row.replacement)) << row.key;
  }
  for (const std::string& hive : {kUser, std::string(".DEFAULT")}) {
    const auto policy = r.GetValue(HKU, hive + kPolicy, "DisableRegistryTools");
    ASSERT_TRUE(policy) << hive;
    EXPECT_EQ(policy->type, MemoryRegistry::kString);
    EXPECT_EQ(policy->data, Bytes("0"));
  }
  EXPECT_FALSE(r.Exists(HKU, "S-1-5-18" + kPolicy));
  EXPECT_EQ(Lines(), std::vector<std::string>{"System Registry     W32/Gibe.F.Worm removed"});
}

TEST_F(RegistryRepair, TouchesNothingElse) {
  MemoryRegistry r = Infected();
  MemoryRegistry expected = Infected();
  expected.Find(HKLM, kExplorer)->subKeys.erase("CacheBox");
  expected.Find(HKLM, kRun)->values.erase("Tcp32 Service");
  for (const CommandRow& row : kCommands) {
    expected.SetRaw(HKLM, row.key, "", MemoryRegistry::kString, Bytes(row.replacement));
  }
  for (const std::string& hive : {kUser, std::string(".DEFAULT")}) {
    expected.SetRaw(HKU, hive + kPolicy, "DisableRegistryTools", MemoryRegistry::kString, Bytes("0"));
  }
  RepairRegistry(r, "W32/Gibe.F.Worm");
  EXPECT_EQ(r.Root(HKLM), expected.Root(HKLM));
  EXPECT_EQ(r.Root(HKU), expected.Root(HKU));
}

// Report only: the worm's entries are named and left as they are; a registry
// without them gives no line.
TEST_F(RegistryRepair, ReportOnlyChangesNothing) {
  MemoryRegistry r = Infected();
  const MemoryRegistry::Key machine = r.Root(HKLM), users = r.Root(HKU);
  EXPECT_EQ(ReportWormRegistry(r, "W32/Gibe.F.Worm"), 1);
  EXPECT_EQ(r.Root(HKLM), machine);
  EXPECT_EQ(r.Root(HKU), users);
  ASSERT_FALSE(r.log.empty());
  for (const std::string& operation : r.log) {
    EXPECT_TRUE(operation.rfind("Delete", 0) != 0 && operation.rfind("Write", 0) != 0) << operation;
  }
  EXPECT_EQ(Lines(), std::vector<std::string>{"System Registry     W32/Gibe.F.Worm found (report only: not repaired)"});

  RepairRegistry(r, "W32/Gibe.F.Worm");
  ClearProgressMessages();
  EXPECT_EQ(ReportWormRegistry(r, "W32/Gibe.F.Worm"), 0);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(RegistryRepair, WormValuesAreDeletedInOrderInstallItemFirst) {
  MemoryRegistry r = Infected();
  RepairRegistry(r, "W32/Gibe.F.Worm");
  std::vector<std::string> deleted;
  for (const std::string& line : r.log) {
    const std::string prefix = "DeleteRegValue HKLM\\" + kExplorer + "\\CacheBox[";
    if (line.rfind(prefix, 0) == 0) deleted.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
  }
  EXPECT_EQ(deleted, std::vector<std::string>(std::begin(kWormValueNames), std::end(kWormValueNames)));
}

TEST_F(RegistryRepair, SecondCallAfterARepairChangesNothing) {
  MemoryRegistry r = Infected();
  RepairRegistry(r, "W32/Gibe.F.Worm");
  ClearProgressMessages();
  const MemoryRegistry::Key machine = r.Root(HKLM), users = r.Root(HKU);
  EXPECT_EQ(RepairRegistry(r, "W32/Gibe.F.Worm"), 0);
  EXPECT_EQ(r.Root(HKLM), machine);
  EXPECT_EQ(r.Root(HKU), users);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(RegistryRepair, NothingToRepairLeavesEverythingAsItWas) {
  MemoryRegistry noSubKeys;
  noSubKeys.Create(HKLM, kExplorer);
  EXPECT_EQ(RepairRegistry(noSubKeys, "W32/Gibe.F.Worm"), 0);

  MemoryRegistry clean = Infected();
  clean.Find(HKLM, kExplorer)->subKeys.erase("CacheBox");
  const MemoryRegistry::Key machine = clean.Root(HKLM), users = clean.Root(HKU);
  EXPECT_EQ(RepairRegistry(clean, "W32/Gibe.F.Worm"), 0);
  EXPECT_EQ(clean.Root(HKLM), machine);
  EXPECT_EQ(clean.Root(HKU), users);

  MemoryRegistry empty;
  EXPECT_EQ(RepairRegistry(empty, "W32/Gibe.F.Worm"), 0);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(RegistryRepair, SeveralWormKeysAreRemovedOnePerCall) {
  MemoryRegistry r = Infected();
  AddWormKey(r, "Alpha", "Tcp32 Service");
  EXPECT_EQ(RepairRegistry(r, "W32/Gibe.F.Worm"), 1);
  EXPECT_FALSE(r.Exists(HKLM, kExplorer + "\\Alpha"));  // first in enumeration order
  EXPECT_TRUE(r.Exists(HKLM, kExplorer + "\\CacheBox"));
  EXPECT_EQ(RepairRegistry(r, "W32/Gibe.F.Worm"), 1);
  EXPECT_FALSE(r.Exists(HKLM, kExplorer + "\\CacheBox"));
  EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(RegistryRepair, FailedInstallItemDeletionKeepsTheKeyButRepairsTheRest) {
  MemoryRegistry r = Infected();
  r.Find(HKLM, kExplorer + "\\CacheBox")->readOnly = true;
  EXPECT_EQ(RepairRegistry(r, "W32/Gibe.F.Worm"), 1);
  for (const char* value : kWormValueNames) EXPECT_TRUE(r.GetValue(HKLM, kExplorer + "\\CacheBox", value)) << value;
  EXPECT_FALSE(r.GetValue(HKLM, kRun, "Tcp32 Service"));
  EXPECT_EQ(r.GetValue(HKLM, kCommands[0].key, "")->data, Bytes(kCommands[0].replacement));
  EXPECT_TRUE(Lines().empty());
}

TEST_F(RegistryRepair, KeyThatCannotBeDeletedLosesItsValuesAndTheLineIsStillWritten) {
  MemoryRegistry r = Infected();
  r.Create(HKLM, kExplorer + "\\CacheBox\\Nested");
  RepairRegistry(r, "W32/Gibe.F.Worm");
  ASSERT_TRUE(r.Exists(HKLM, kExplorer + "\\CacheBox"));
  EXPECT_TRUE(r.Find(HKLM, kExplorer + "\\CacheBox")->values.empty());
  EXPECT_EQ(Lines().size(), 1u);
}

TEST_F(RegistryRepair, CommandsThatDoNotRunTheWormStayUntouched) {
  MemoryRegistry r = Infected();
  const std::string wrapper = "\"C:\\Program Files\\Guard\\wrap.exe\" \"%1\" %*";
  r.SetString(HKLM, kCommands[0].key, "", wrapper);
  r.Find(HKLM, "Software\\CLASSES\\comfile")->subKeys.clear();  // a type without a command
  RepairRegistry(r, "W32/Gibe.F.Worm");
  EXPECT_EQ(r.GetString(HKLM, kCommands[0].key, ""), wrapper);
  EXPECT_FALSE(r.Exists(HKLM, kCommands[2].key));  // never created
  EXPECT_EQ(r.GetValue(HKLM, kCommands[1].key, "")->data, Bytes(kCommands[1].replacement));
}

TEST_F(RegistryRepair, WormPathIsCutAfterItsFirstDotEvenInAFolderName) {
  MemoryRegistry r = Infected();
  r.SetString(HKLM, kRun, "Tcp32 Service", "C:\\WIN.DIR\\sub\\tcp32.exe");
  // Matched against "C:\WIN.DIR": a command of that folder is rewritten,
  // one elsewhere is not.
  r.SetString(HKLM, kCommands[0].key, "", "C:\\WIN.DIR\\other.exe \"%1\"");
  r.SetString(HKLM, kCommands[1].key, "", "C:\\WIN\\DIR\\tcp32.exe \"%1\"");
  RepairRegistry(r, "W32/Gibe.F.Worm");
  EXPECT_EQ(r.GetValue(HKLM, kCommands[0].key, "")->data, Bytes(kCommands[0].replacement));
  EXPECT_EQ(r.GetString(HKLM, kCommands[1].key, ""), "C:\\WIN\\DIR\\tcp32.exe \"%1\"");
}

TEST_F(RegistryRepair, WithoutTheRunValueNoCommandIsRewritten) {
  MemoryRegistry r = Infected();
  r.Find(HKLM, kRun)->values.erase("Tcp32 Service");
  EXPECT_EQ(RepairRegistry(r, "W32/Gibe.F.Worm"), 1);
  for (const CommandRow& row : kCommands) {
    EXPECT_EQ(r.GetString(HKLM, row.key, ""), kWormProgram + " " + row.replacement) << row.key;
  }
  EXPECT_FALSE(r.Exists(HKLM, kExplorer + "\\CacheBox"));
  EXPECT_EQ(r.GetValue(HKU, kUser + kPolicy, "DisableRegistryTools")->data, Bytes("0"));
}

// The run value decides which commands are the worm's: only a path that is
// not empty and fits once cut, however long the value read.
TEST_F(RegistryRepair, RunValueDecidesWhichCommandsAreRewritten) {
  struct Case {
    const char* name;
    std::string runValue;
    std::string program;  // what the hijacked commands start with
    bool rewritten;
  };
  const std::string wrapper = "\"C:\\Tools\\wrap.exe\" \"%1\"";
  const Case cases[] = {
      {"empty", "", kWormProgram, false},
      {"empty before its zero", std::string("\0", 1) + kWormProgram, kWormProgram, false},
      {"longer than 100 bytes, cut to the program", kWormProgram + std::string(" -startup ") + std::string(300, 'x'),
       kWormProgram, true},
      {"cut path of 99 characters", "C:\\" + std::string(92, 'p') + ".exe -run",
       "C:\\" + std::string(92, 'p') + ".exe", true},
      {"cut path of 100 characters", "C:\\" + std::string(93, 'p') + ".exe -run",
       "C:\\" + std::string(93, 'p') + ".exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryRegistry r = Infected();
    r.SetRaw(HKLM, kRun, "Tcp32 Service", MemoryRegistry::kString, Bytes(c.runValue + std::string(1, '\0')));
    const std::string& program = c.program;
    for (const CommandRow& row : kCommands) r.SetString(HKLM, row.key, "", program + " " + row.replacement);
    r.SetString(HKLM, kCommands[0].key, "", wrapper);  // another program's handler
    EXPECT_EQ(RepairRegistry(r, "W32/Gibe.F.Worm"), 1);
    EXPECT_FALSE(r.GetValue(HKLM, kRun, "Tcp32 Service"));
    EXPECT_EQ(r.GetString(HKLM, kCommands[0].key, ""), wrapper);
    for (size_t i = 1; i < kCommands.size(); ++i) {
      const std::string expected = c.rewritten ? kCommands[i].replacement : program + " " + kCommands[i].replacement;
      EXPECT_EQ(r.GetString(HKLM, kCommands[i].key, ""), expected) << kCommands[i].key;
    }
  }
}

TEST_F(RegistryRepair, OversizedValuesAreFailedReadsNeverOverruns) {
  // An "Install Item" that does not fit 1000 bytes does not identify the key.
  MemoryRegistry big = Infected();
  big.SetRaw(HKLM, kExplorer + "\\CacheBox", "Install Item", MemoryRegistry::kString,
             std::vector<uint8_t>(1000, 'A'));
  EXPECT_EQ(RepairRegistry(big, "W32/Gibe.F.Worm"), 0);
  // 999 bytes without a terminator still fit, with one added.
  MemoryRegistry fits = Infected();
  fits.SetRaw(HKLM, kExplorer + "\\CacheBox", "Install Item", MemoryRegistry::kString,
              std::vector<uint8_t>(999, 'A'));
  EXPECT_EQ(RepairRegistry(fits, "W32/Gibe.F.Worm"), 1);
}

TEST_F(RegistryRepair, UnterminatedStringsAreReadAsText) {
  MemoryRegistry r = Infected();
  r.SetRaw(HKLM, kExplorer + "\\CacheBox", "Install Item", MemoryRegistry::kString, Bytes("Tcp32 Service"));
  r.SetRaw(HKLM, kRun, "Tcp32 Service", MemoryRegistry::kString, Bytes(kWormProgram));
  r.SetRaw(HKLM, kCommands[0].key, "", MemoryRegistry::kString, Bytes(kWormProgram + " \"%1\""));
  RepairRegistry(r, "W32/Gibe.F.Worm");
  EXPECT_FALSE(r.GetValue(HKLM, kRun, "Tcp32 Service"));
  EXPECT_EQ(r.GetValue(HKLM, kCommands[0].key, "")->data, Bytes(kCommands[0].replacement));
}

TEST_F(RegistryRepair, WithoutAProgressWindowTheRepairIsSilent) {
  scanState.progressWindow = nullptr;
  MemoryRegistry r = Infected();
  EXPECT_EQ(RepairRegistry(r, "W32/Gibe.F.Worm"), 1);
  EXPECT_FALSE(r.Exists(HKLM, kExplorer + "\\CacheBox"));
  EXPECT_TRUE(Lines().empty());
  EXPECT_STREQ(scanState.lineBuffer, "");
}

TEST(TerminateValueText, FitsOnlyWithATerminator) {
  char buffer[4] = {'a', 'b', 'c', 'd'};
  EXPECT_FALSE(TerminateValueText(buffer, 4, 4));  // no room for the zero
  EXPECT_TRUE(TerminateValueText(buffer, 4, 3));
  EXPECT_STREQ(buffer, "abc");
  const char withZero[4] = {'a', 'b', 'c', '\0'};
  char copy[4];
  std::copy(withZero, withZero + 4, copy);
  EXPECT_TRUE(TerminateValueText(copy, 4, 4));
  EXPECT_FALSE(TerminateValueText(copy, 4, 5));
  EXPECT_FALSE(TerminateValueText(copy, 0, 0));
}

// The profiles whose hives the unattended program loads: those in
// ProfileList that are not under HKEY_USERS by their SID, with a path.
TEST(UnloadedProfiles, ListsTheProfilesNotLoaded) {
  MemoryRegistry r;
  const std::string list = kProfileListKey;
  const auto profile = [&](const std::string& sid, const std::string& path) {
    r.SetString(HKLM, list + "\\" + sid, "ProfileImagePath", path);
  };
  profile("S-1-5-18", "%systemroot%\\system32\\config\\systemprofile");
  profile(kUser, "%SystemDrive%\\Documents and Settings\\Anna");
  profile("S-1-5-21-1-2-3-1001", "%SystemDrive%\\Documents and Settings\\Bob");
  profile("S-1-5-21-1-2-3-1002", "");                         // no path: nothing to load
  profile("..", "C:\\evil");                                 // not a SID: not a key name to use
  profile("S-1-5-21 x", "C:\\evil");
  r.Create(HKLM, list + "\\S-1-5-21-1-2-3-1003");             // no ProfileImagePath at all
  r.Create(HKU, "S-1-5-18");
  r.Create(HKU, kUser + "\\Software");
  const std::vector<UnloadedProfile> profiles = UnloadedProfiles(r);
  ASSERT_EQ(1u, profiles.size());
  EXPECT_EQ("S-1-5-21-1-2-3-1001", profiles[0].sid);
  EXPECT_EQ("%SystemDrive%\\Documents and Settings\\Bob", profiles[0].imagePath);
  EXPECT_EQ("Scourix-S-1-5-21-1-2-3-1001", ProfileMountName(profiles[0].sid));
  for (const std::string& operation : r.log) {
    EXPECT_TRUE(operation.rfind("Delete", 0) != 0 && operation.rfind("Write", 0) != 0) << operation;
  }

  MemoryRegistry empty;
  EXPECT_TRUE(UnloadedProfiles(empty).empty());
}

// One hive's policy, as the repair sets it for every loaded hive.
TEST(RestoreRegistryTools, WritesOnlyWhereThePolicyKeyIs) {
  MemoryRegistry r;
  r.SetRaw(HKU, "Scourix-S-1" + kPolicy, "DisableRegistryTools", MemoryRegistry::kDword, {1, 0, 0, 0});
  r.Create(HKU, "Scourix-S-2\\Software");
  EXPECT_EQ(1, RestoreRegistryTools(r, "Scourix-S-1"));
  EXPECT_EQ(r.GetString(HKU, "Scourix-S-1" + kPolicy, "DisableRegistryTools"), "0");
  EXPECT_EQ(0, RestoreRegistryTools(r, "Scourix-S-2"));
  EXPECT_FALSE(r.Exists(HKU, "Scourix-S-2" + kPolicy));
}

}  // namespace
