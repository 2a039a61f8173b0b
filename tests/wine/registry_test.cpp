// The registry repair against the real registry of a throwaway prefix.
#include "cleaning/registry_repair.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleaning/registry_win32.h"
#include "engine/scan_state.h"
#include "tests/support/progress_window.h"
#include "tests/wine/test_registry.h"

namespace {

using test_registry::kCommands;
using test_registry::kExplorer;
using test_registry::kPolicy;
using test_registry::kRun;

class SystemRegistryRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    scanState = ScanState{};
    ClearProgressMessages();
    test_registry::SeedWorm();
  }
  void TearDown() override { scanState = ScanState{}; }
};

TEST_F(SystemRegistryRepair, RepairsTheSeededWormEntries) {
  ProgressWindowStandIn window;
  EXPECT_EQ(RepairRegistry(SystemRegistry(), "W32/Gibe.F.Worm"), 1);

  EXPECT_FALSE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, kExplorer + "\\CacheBox"));
  EXPECT_FALSE(test_registry::Read(HKEY_LOCAL_MACHINE, kRun, "Tcp32 Service"));
  EXPECT_EQ(test_registry::Read(HKEY_LOCAL_MACHINE, kRun, "Keep Me")->data, "C:\\windows\\notepad.exe");
  for (const auto& row : kCommands) {
    const auto value = test_registry::Read(HKEY_LOCAL_MACHINE, row.key, nullptr);
    ASSERT_TRUE(value) << row.key;
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->data, row.replacement) << row.key;
  }
  for (const char* hive : {test_registry::kUserHive, ".Default"}) {
    const auto policy = test_registry::Read(HKEY_USERS, std::string(hive) + kPolicy, "DisableRegistryTools");
    ASSERT_TRUE(policy) << hive;
    EXPECT_EQ(policy->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(policy->data, "0");
  }
  ASSERT_EQ(ProgressMessages().size(), 1u);
  EXPECT_EQ(ProgressMessages()[0].text, "System Registry     W32/Gibe.F.Worm removed");

  ClearProgressMessages();
  EXPECT_EQ(RepairRegistry(SystemRegistry(), "W32/Gibe.F.Worm"), 0);
  EXPECT_TRUE(ProgressMessages().empty());
}

TEST_F(SystemRegistryRepair, HiveWithoutThePolicyKeyDoesNotGetOne) {
  RegDeleteKeyA(HKEY_USERS, (std::string(test_registry::kUserHive) + kPolicy).c_str());
  ASSERT_FALSE(test_registry::KeyExists(HKEY_USERS, std::string(test_registry::kUserHive) + kPolicy));
  EXPECT_EQ(RepairRegistry(SystemRegistry(), "W32/Gibe.F.Worm"), 1);
  EXPECT_FALSE(test_registry::KeyExists(HKEY_USERS, std::string(test_registry::kUserHive) + kPolicy));
  EXPECT_EQ(test_registry::Read(HKEY_USERS, std::string(".Default") + kPolicy, "DisableRegistryTools")->data, "0");
}

TEST_F(SystemRegistryRepair, ValuesOfTheWrongSizeAreFailedReads) {
  // An "Install Item" too long for its buffer does not name the key.
  test_registry::WriteRaw(HKEY_LOCAL_MACHINE, kExplorer + "\\CacheBox", "Install Item", REG_SZ,
                          std::string(1200, 'A'));
  EXPECT_EQ(RepairRegistry(SystemRegistry(), "W32/Gibe.F.Worm"), 0);
  EXPECT_TRUE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, kExplorer + "\\CacheBox"));
  EXPECT_EQ(test_registry::Read(HKEY_LOCAL_MACHINE, kCommands[0].key, nullptr)->data,
            test_registry::kWormProgram + std::string(" ") + kCommands[0].replacement);
}

TEST_F(SystemRegistryRepair, WormDataOfAnyTypeIsReadAsRawTextAndBounded) {
  // "Install Item" as binary data without a terminator still names the run value.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kExplorer + "\\CacheBox").c_str(), 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const char name[] = "Tcp32 Service";
  RegSetValueExA(key, "Install Item", 0, REG_BINARY, reinterpret_cast<const BYTE*>(name), sizeof name - 1);
  RegCloseKey(key);
  // An oversized value of the worm's beside a value of the machine's.
  test_registry::WriteRaw(HKEY_LOCAL_MACHINE, kExplorer + "\\CacheBox", "Server", REG_SZ, std::string(70000, 's'));
  EXPECT_EQ(RepairRegistry(SystemRegistry(), "W32/Gibe.F.Worm"), 1);
  EXPECT_FALSE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, kExplorer + "\\CacheBox"));
  EXPECT_FALSE(test_registry::Read(HKEY_LOCAL_MACHINE, kRun, "Tcp32 Service"));
  EXPECT_EQ(test_registry::Read(HKEY_LOCAL_MACHINE, kCommands[0].key, nullptr)->data, kCommands[0].replacement);
  EXPECT_EQ(test_registry::Read(HKEY_LOCAL_MACHINE, kRun, "Keep Me")->data, "C:\\windows\\notepad.exe");
}

TEST_F(SystemRegistryRepair, NumericInstallItemNamesNoRunValueAndRewritesNoCommand) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kExplorer + "\\CacheBox").c_str(), 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const DWORD number = 0x41424344;  // reads as the text "DCBA"
  RegSetValueExA(key, "Install Item", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegCloseKey(key);
  EXPECT_EQ(RepairRegistry(SystemRegistry(), "W32/Gibe.F.Worm"), 1);
  EXPECT_FALSE(test_registry::KeyExists(HKEY_LOCAL_MACHINE, kExplorer + "\\CacheBox"));
  // No run value is called "DCBA": the worm's path stays unknown, and no
  // command is rewritten; the start-up entry of the worm stays for a later look.
  EXPECT_TRUE(test_registry::Read(HKEY_LOCAL_MACHINE, kRun, "Tcp32 Service"));
  EXPECT_EQ(test_registry::Read(HKEY_LOCAL_MACHINE, kCommands[0].key, nullptr)->data,
            test_registry::kWormProgram + std::string(" ") + kCommands[0].replacement);
}

}  // namespace
