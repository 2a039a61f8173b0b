// A localized Windows: the scan walks the profiles folder and Program Files
// where the registry says they are, beside the English ones, and follows no
// value that would take it anywhere else.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cleaning/registry_win32.h"
#include "engine/scan_driver.h"
#include "engine/scan_state.h"
#include "engine/scan_targets.h"
#include "tests/support/progress_window.h"
#include "tests/wine/test_files.h"
#include "tests/wine/test_registry.h"
#include "win32/file.h"

namespace {

const std::string kCurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
const std::string kProfileList = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// Exactly these bytes, terminator or not.
bool WriteExact(const std::string& path, const char* name, DWORD type, const std::string& bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG status = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                     static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

void SetProgramFiles(const std::string& bytes) {
  ASSERT_TRUE(WriteExact(kCurrentVersion, "ProgramW6432Dir", REG_SZ, bytes));
  ASSERT_TRUE(WriteExact(kCurrentVersion, "ProgramFilesDir", REG_SZ, bytes));
}

std::string Deleted(const std::string& path) { return path + "     W32/Gibe.F.Worm deleted"; }

// One whole scan, as the program runs it; its result lines.
std::vector<std::string> Scan() {
  scanState = ScanState{};
  ProgressWindowStandIn window;
  scanState.progressWindow = window.Handle();
  ClearProgressMessages();
  RunScan();
  std::vector<std::string> lines;
  for (const ProgressMessage& m : ProgressMessages()) {
    if (m.message == AppendLineMessage) lines.push_back(m.text);
  }
  return lines;
}

TEST(LocalizedFolders, AGermanSystemIsScannedWhereItKeepsItsFolders) {
  SetProgramFiles(std::string("C:\\Programme", 13));
  ASSERT_TRUE(test_registry::WriteRaw(HKEY_LOCAL_MACHINE, kProfileList, "ProfilesDirectory", REG_EXPAND_SZ,
                                      "%SystemDrive%\\Dokumente und Einstellungen"));
  const std::vector<std::string> worms = {
      "C:\\Dokumente und Einstellungen\\Hans\\Lokale Einstellungen\\x.exe",
      "C:\\Documents and settings\\Old\\y.exe",  // the English folders are still walked
      "C:\\Programme\\App\\app.exe",
      "C:\\Program Files\\Old\\z.exe",
  };
  for (const std::string& worm : worms) {
    ASSERT_TRUE(MakeFolders(worm.substr(0, worm.rfind('\\'))));
    ASSERT_TRUE(WriteBytes(worm, samples::BuildSample()));
  }

  const std::vector<std::string> lines = Scan();
  std::vector<size_t> at;
  for (const std::string& worm : worms) {
    at.push_back(static_cast<size_t>(std::find(lines.begin(), lines.end(), Deleted(worm)) - lines.begin()));
    EXPECT_LT(at.back(), lines.size()) << worm << "\n" << ::testing::PrintToString(lines);
    EXPECT_FALSE(Exists(worm)) << worm;
  }
  // In the walk's order: the system's folder, then the English one.
  for (size_t i = 1; i < at.size(); ++i) EXPECT_LT(at[i - 1], at[i]) << worms[i];
  scanState = ScanState{};
}

TEST(LocalizedFolders, ValuesThatLeadElsewhereFallBackToTheEnglishNames) {
  ASSERT_TRUE(MakeFolders("C:\\Programme"));
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"the drive's root", std::string("C:\\", 4)},
      {"another drive", std::string("D:\\Programme", 13)},
      {"300 characters", "C:\\" + std::string(297, 'p') + std::string(1, '\0')},
      {"no terminator, filling the buffer", "C:\\" + std::string(257, 'p')},
      {"not expandable here", std::string("%ProgramFiles%\\x", 17)},
      {"relative", std::string("Programme", 10)},
  };
  for (const Case& c : cases) {
    SetProgramFiles(c.bytes);
    SystemFolderValues values;
    ReadSystemFolders(SystemRegistry(), "C:\\windows", values);
    EXPECT_EQ(nullptr, values.folders.programFiles) << c.name;
    const ScanTargets targets = BuildScanTargets("C:\\windows", nullptr, values.folders, LookUpOnDisk);
    EXPECT_STREQ("C:\\Program Files\\*.*", targets.patterns[3]) << c.name;
    EXPECT_FALSE(targets.present[4]) << c.name;
  }
  // A sound value whose path passes through a link (C:\\J, which Wine
  // shows as Windows shows a junction): the folder may be anywhere.
  SetProgramFiles(std::string("C:\\J\\Programme", 15));
  {
    SystemFolderValues values;
    ReadSystemFolders(SystemRegistry(), "C:\\windows", values);
    ASSERT_STREQ("C:\\J\\Programme", values.folders.programFiles);
    const ScanTargets targets = BuildScanTargets("C:\\windows", nullptr, values.folders, LookUpOnDisk);
    EXPECT_STREQ("C:\\Program Files\\*.*", targets.patterns[3]);
    EXPECT_FALSE(targets.present[4]);
  }
  // The same folder, named well, is followed.
  SetProgramFiles(std::string("C:\\Programme", 13));
  SystemFolderValues values;
  ReadSystemFolders(SystemRegistry(), "C:\\windows", values);
  EXPECT_STREQ("C:\\Programme", values.folders.programFiles);
  // A folder that does not exist is not.
  SetProgramFiles(std::string("C:\\Programmi", 13));
  ReadSystemFolders(SystemRegistry(), "C:\\windows", values);
  EXPECT_STREQ("C:\\Program Files\\*.*",
               BuildScanTargets("C:\\windows", nullptr, values.folders, LookUpOnDisk).patterns[3]);
}

// An NT 4.0 upgrade keeps its profiles in the Windows directory: they are
// walked once, by the Windows directory's walk, and counted once.
TEST(LocalizedFolders, ProfilesInsideTheWindowsDirectoryAreWalkedOnce) {
  SetProgramFiles(std::string("C:\\Program Files", 17));
  for (const char* file : {"Hans\\NTUSER.DAT", "Hans\\Desktop\\a.txt", "Hans\\Desktop\\b.txt", "All Users\\c.ini"}) {
    const std::string path = std::string("C:\\windows\\Profiles\\") + file;
    ASSERT_TRUE(MakeFolders(path.substr(0, path.rfind('\\'))));
    ASSERT_TRUE(WriteText(path, "profile"));
  }
  ASSERT_TRUE(test_registry::WriteRaw(HKEY_LOCAL_MACHINE, kProfileList, "ProfilesDirectory", REG_EXPAND_SZ,
                                      "%SystemDrive%\\Documents and Settings"));
  Scan();
  const int english = scanState.filesScanned;
  ASSERT_GT(english, 4);

  const std::string worm = "C:\\windows\\Profiles\\Hans\\Start Menu\\x.exe";
  ASSERT_TRUE(MakeFolders(worm.substr(0, worm.rfind('\\'))));
  ASSERT_TRUE(WriteBytes(worm, samples::BuildSample()));
  ASSERT_TRUE(test_registry::WriteRaw(HKEY_LOCAL_MACHINE, kProfileList, "ProfilesDirectory", REG_EXPAND_SZ,
                                      "%SystemRoot%\\Profiles"));
  const std::vector<std::string> lines = Scan();
  EXPECT_EQ(english + 1, scanState.filesScanned) << "the worm is the one file more";
  EXPECT_EQ(1, scanState.filesInfected);
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), Deleted(worm))) << ::testing::PrintToString(lines);
  scanState = ScanState{};
}

// A value holding the 8.3 alias of a folder names that folder: the English
// one keeps its English name and is walked once, another one is walked
// under its long name.
TEST(LocalizedFolders, ShortNamesAreTheFoldersTheyStandFor) {
  ASSERT_TRUE(MakeFolders("C:\\Programme"));
  struct Case {
    const char* folder;
    const char* patterns[2];
  };
  const Case cases[] = {
      {"C:\\Program Files", {"C:\\Program Files\\*.*", nullptr}},
      {"C:\\Programme", {"C:\\Programme\\*.*", "C:\\Program Files\\*.*"}},
  };
  for (const Case& c : cases) {
    char alias[MAX_PATH] = {};
    const DWORD length = GetShortPathNameA(c.folder, alias, sizeof alias);
    ASSERT_TRUE(length > 0 && length < sizeof alias) << c.folder;
    ASSERT_STRNE(c.folder, alias) << "no short name to test with";
    SetProgramFiles(std::string(alias, length + 1));
    SystemFolderValues values;
    ReadSystemFolders(SystemRegistry(), "C:\\windows", values);
    ASSERT_STREQ(alias, values.folders.programFiles);
    const ScanTargets targets = BuildScanTargets("C:\\windows", nullptr, values.folders, LookUpOnDisk);
    EXPECT_STREQ(c.patterns[0], targets.patterns[3]) << alias;
    EXPECT_EQ(c.patterns[1] != nullptr, targets.present[4]) << alias;
    if (c.patterns[1] != nullptr) {
      EXPECT_STREQ(c.patterns[1], targets.patterns[4]) << alias;
    }
  }
}

}  // namespace
