// The offline registry: hive files behind the repair's access layer, edited
// in memory and written back whole, and the repair itself on them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cleaning/registry_repair.h"
#include "rescue/volume/hive_registry.h"
#include "tests/support/hive_file.h"
#include "tests/support/test_hive.h"
#include "tests/support/test_volume.h"

namespace {

constexpr int kRegSz = 1;
constexpr int kRegDword = 4;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The XP volume's hives, opened and mounted as scourix-rescue mounts them.
class OfflineRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildInfectedXp(volume_);
    Mount(RegistryRoot::LocalMachine, "Software", xp::kSoftware);
    Mount(RegistryRoot::LocalMachine, "System", xp::kSystem);
    Mount(RegistryRoot::Users, ".DEFAULT", xp::kDefault);
    Mount(RegistryRoot::Users, "Alice", xp::kAlice);
    Mount(RegistryRoot::Users, "Bob", xp::kBob);
  }
  void Mount(RegistryRoot root, const std::string& name, const char* relative) {
    std::string error;
    hives_.push_back(Hive::Open(volume_.Path(relative), error));
    ASSERT_TRUE(hives_.back()) << error;
    registry_.Mount(root, name, hives_.back().get());
  }
  void Commit() {
    std::string error;
    ASSERT_TRUE(registry_.CommitChanged(error)) << error;
  }
  TestHive Read(const char* relative) const { return TestHive(volume_.Path(relative)); }

  TestVolume volume_{::testing::UnitTest::GetInstance()->current_test_info()->name()};
  std::vector<std::unique_ptr<Hive>> hives_;
  HiveRegistry registry_;
};

TEST_F(OfflineRegistryTest, ReadsAsTheAnsiRegistryFunctionsDo) {
  char buffer[1000];
  // Paths and names without regard to case; strings come out as 8-bit text.
  ASSERT_EQ(1, registry_.ReadRegValue(RegistryRoot::LocalMachine,
                                      "SOFTWARE\\microsoft\\windows\\currentversion\\EXPLORER\\cachebox",
                                      "install item", buffer, sizeof buffer));
  EXPECT_STREQ("gibe", buffer);
  ASSERT_EQ(1, registry_.ReadRegValue(RegistryRoot::LocalMachine, "Software\\Classes\\comfile\\shell\\open\\command",
                                      nullptr, buffer, sizeof buffer));
  EXPECT_STREQ("C:\\Other\\wrap.exe \"%1\"", buffer);
  // Other types are raw bytes.
  const std::string alicePolicy = std::string("alice\\") + xp::kPolicyKey;
  ASSERT_EQ(1, registry_.ReadRegValue(RegistryRoot::Users, alicePolicy.c_str(), "DisableRegistryTools", buffer,
                                      sizeof buffer));
  EXPECT_EQ(1, buffer[0]);
  // Data that does not fit is a failed read, never a cut one.
  char small[8];
  EXPECT_EQ(0, registry_.ReadRegValue(RegistryRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                      "gibe", small, sizeof small));
  EXPECT_EQ(0, registry_.ReadRegValue(RegistryRoot::LocalMachine, "Software\\Missing", "x", buffer, sizeof buffer));
  EXPECT_EQ(0, registry_.ReadRegValue(RegistryRoot::LocalMachine, "Elsewhere\\Key", "x", buffer, sizeof buffer));

  // HKEY_USERS lists the user hives by their names, in mount order.
  uint32_t keys = 0, values = 0;
  ASSERT_EQ(1, registry_.QueryKeyCounts(RegistryRoot::Users, nullptr, &keys, &values));
  EXPECT_EQ(3u, keys);
  char name[kSubKeyNameCapacity];
  ASSERT_EQ(1, registry_.EnumSubKeyName(RegistryRoot::Users, nullptr, 1, name, sizeof name));
  EXPECT_STREQ("Alice", name);
  EXPECT_EQ(0, registry_.EnumSubKeyName(RegistryRoot::Users, nullptr, 3, name, sizeof name));
  ASSERT_EQ(1, registry_.QueryKeyCounts(RegistryRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\explorer",
                                        &keys, &values));
  EXPECT_EQ(2u, keys);
  // A name longer than the capacity offered is not cut.
  char tiny[5];
  EXPECT_EQ(0, registry_.EnumSubKeyName(RegistryRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\explorer",
                                        0, tiny, sizeof tiny));
}

TEST_F(OfflineRegistryTest, ChangesStayInMemoryUntilCommittedThenReplaceTheHiveWhole) {
  const std::string software = volume_.Path(xp::kSoftware);
  const std::string before = Contents(software);
  const std::string systemBefore = Contents(volume_.Path(xp::kSystem));
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  ASSERT_EQ(1, registry_.DeleteRegValue(RegistryRoot::LocalMachine, run.c_str(), "GIBE"));
  EXPECT_EQ(0, registry_.DeleteRegValue(RegistryRoot::LocalMachine, run.c_str(), "gibe"));
  ASSERT_EQ(1, registry_.WriteRegString(RegistryRoot::LocalMachine, "Software\\Classes\\exefile\\shell\\open\\command",
                                        nullptr, "\"%1\" %*"));
  // No key is ever created.
  EXPECT_EQ(0, registry_.WriteRegString(RegistryRoot::LocalMachine, "Software\\Classes\\batfile\\shell\\open\\command",
                                        nullptr, "\"%1\" %*"));
  EXPECT_EQ(before, Contents(software));
  EXPECT_TRUE(registry_.AnyChanged());

  Commit();
  EXPECT_FALSE(registry_.AnyChanged());
  EXPECT_EQ(systemBefore, Contents(volume_.Path(xp::kSystem))) << "an unchanged hive is not rewritten";
  EXPECT_FALSE(volume_.Exists(std::string(xp::kSoftware) + ".scourix-new"));
  const TestHive saved = Read(xp::kSoftware);
  EXPECT_FALSE(saved.GetString(xp::kRunKey, "gibe"));
  EXPECT_EQ("C:\\Other\\tray.exe", saved.GetString(xp::kRunKey, "other"));
  EXPECT_EQ(kRegSz, saved.GetType("Classes\\exefile\\shell\\open\\command", ""));
  // UTF-16 with its terminator, as Windows keeps strings.
  EXPECT_EQ(std::string("\"\0%\0001\0\"\0 \0%\0*\0\0\0", 16), saved.GetRaw("Classes\\exefile\\shell\\open\\command", ""));
  EXPECT_FALSE(saved.KeyExists("Classes\\batfile"));
}

TEST_F(OfflineRegistryTest, DeletesKeysAsTheLiveRegistryDoes) {
  // A key with subkeys stays; a hive's root is never deleted.
  EXPECT_EQ(0, registry_.DeleteRegKey(RegistryRoot::LocalMachine, "System\\ControlSet001\\Services\\worm"));
  EXPECT_EQ(0, registry_.DeleteRegKey(RegistryRoot::LocalMachine, "Software"));
  EXPECT_EQ(0, registry_.DeleteKeyTree(RegistryRoot::Users, "Bob"));
  EXPECT_FALSE(registry_.AnyChanged());
  EXPECT_EQ(1, registry_.DeleteRegKey(RegistryRoot::LocalMachine, "System\\ControlSet001\\Services\\worm\\Enum"));
  EXPECT_EQ(1, registry_.DeleteKeyTree(RegistryRoot::LocalMachine, "System\\ControlSet002\\Services\\worm"));
  Commit();
  const TestHive system = Read(xp::kSystem);
  EXPECT_TRUE(system.KeyExists("ControlSet001\\Services\\worm"));
  EXPECT_FALSE(system.KeyExists("ControlSet001\\Services\\worm\\Enum"));
  EXPECT_FALSE(system.KeyExists("ControlSet002\\Services\\worm"));
  EXPECT_TRUE(system.KeyExists("ControlSet001\\Services\\legit"));
}

TEST_F(OfflineRegistryTest, RepairOnTheHivesUndoesTheWormAndTouchesNothingElse) {
  const RegistryRepairOutcome outcome = RepairWormRegistry(registry_);
  EXPECT_EQ(1, outcome.found);
  EXPECT_TRUE(outcome.removed);
  Commit();
  // Once repaired, there is nothing left to find.
  EXPECT_EQ(0, RepairWormRegistry(registry_).found);
  EXPECT_FALSE(registry_.AnyChanged());

  const TestHive software = Read(xp::kSoftware);
  EXPECT_FALSE(software.KeyExists(xp::kWormKey));
  EXPECT_TRUE(software.KeyExists("Microsoft\\Windows\\CurrentVersion\\explorer\\Shell Folders"));
  EXPECT_FALSE(software.GetString(xp::kRunKey, "gibe"));
  EXPECT_TRUE(software.GetString(xp::kRunKey, "other"));
  EXPECT_EQ("\"%1\" %*", software.GetString("Classes\\exefile\\shell\\open\\command", ""));
  EXPECT_EQ("regedit.exe \"%1\"", software.GetString("Classes\\regfile\\shell\\open\\command", ""));
  EXPECT_EQ("C:\\Other\\wrap.exe \"%1\"", software.GetString("Classes\\comfile\\shell\\open\\command", ""));
  for (const char* hive : {xp::kDefault, xp::kAlice}) {
    const TestHive user = Read(hive);
    EXPECT_EQ(kRegSz, user.GetType(xp::kPolicyKey, "DisableRegistryTools")) << hive;
    EXPECT_EQ("0", user.GetString(xp::kPolicyKey, "DisableRegistryTools")) << hive;
  }
  EXPECT_FALSE(Read(xp::kBob).KeyExists(xp::kPolicyKey)) << "a key is never created";
}

TEST_F(OfflineRegistryTest, AFailedCommitLeavesTheOldHiveAndKeepsTheChange) {
  const std::string software = volume_.Path(xp::kSoftware);
  const std::string before = Contents(software);
  // Every name a new file could take is taken by a folder: writing fails.
  for (int n = 1; n <= kNewHiveNames; ++n) {
    volume_.MakeFolder(std::string(xp::kSoftware) + ".scourix-new" + (n == 1 ? "" : std::to_string(n)));
  }
  ASSERT_EQ(1, registry_.DeleteRegValue(RegistryRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                        "other"));
  std::string error;
  EXPECT_FALSE(registry_.CommitChanged(error));
  EXPECT_NE(std::string::npos, error.find(software)) << error;
  EXPECT_EQ(before, Contents(software));
  EXPECT_TRUE(registry_.AnyChanged()) << "kept for another try";
}

TEST(HiveOpen, RefusesHivesThatCannotBeEditedSafely) {
  TestVolume volume("HiveOpen");
  const std::string good = volume.Path("good");
  ASSERT_TRUE(TestHive::Create(good).Ok());
  std::string error;
  EXPECT_TRUE(Hive::Open(good, error)) << error;

  const auto refused = [&](const std::string& path, const char* reason) {
    const std::string before = Contents(path);
    std::string why;
    EXPECT_FALSE(Hive::Open(path, why)) << path;
    EXPECT_NE(std::string::npos, why.find(reason)) << why;
    EXPECT_EQ(before, Contents(path));
  };
  std::string bytes = Contents(good);
  volume.WriteFile("truncated", bytes.substr(0, 6000));
  refused(volume.Path("truncated"), "damaged");
  volume.WriteFile("short", bytes.substr(0, 100));
  refused(volume.Path("short"), "truncated");
  bytes[0x40] ^= 1;  // in the base block's file name: the checksum no longer fits
  volume.WriteFile("checksum", bytes);
  refused(volume.Path("checksum"), "damaged");
  volume.WriteFile("text", std::string(8192, 'x'));
  refused(volume.Path("text"), "not a registry hive");
  const std::string dirty = volume.Path("dirty");
  ASSERT_TRUE(WriteEmptyHive(dirty) && MarkHiveDirty(dirty));
  refused(dirty, "log files");
  EXPECT_FALSE(Hive::Open(volume.Path("missing"), error));
}

TEST(HiveText, Latin1AndUtf8RoundTrip) {
  EXPECT_EQ("Caf\xC3\xA9", Latin1ToUtf8("Caf\xE9"));
  EXPECT_EQ("Caf\xE9", Utf8ToLatin1("Caf\xC3\xA9"));
  EXPECT_EQ("a?b", Utf8ToLatin1("a\xE2\x82\xAC" "b")) << "beyond Latin-1";
  EXPECT_EQ("plain", Utf8ToLatin1(Latin1ToUtf8("plain")));
}

}  // namespace
