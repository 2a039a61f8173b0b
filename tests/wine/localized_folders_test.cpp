// A localized Windows: the scan walks the profiles folder and Program Files
// where the registry says they are, beside the English ones, and follows no
// value that would take it anywhere else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/scan_driver.h"
#include "engine/scan_state.h"
#include "engine/scan_targets.h"
#include "tests/support/progress_window.h"
#include "tests/wine/test_files.h"
#include "tests/wine/test_registry.h"
#include "win32/file.h"
#include "win32/registry.h"

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

  ProgressWindowStandIn window;
  scanState.progressWindow = window.Handle();
  ClearProgressMessages();
  RunScan();
  std::vector<std::string> lines;
  for (const ProgressMessage& m : ProgressMessages()) {
    if (m.message == AppendLineMessage) lines.push_back(m.text);
  }
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
    const ScanTargets targets = BuildScanTargets("C:\\windows", nullptr, values.folders, IsRealFolder);
    EXPECT_STREQ("C:\\Program Files\\*.*", targets.patterns[3]) << c.name;
    EXPECT_FALSE(targets.present[4]) << c.name;
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
               BuildScanTargets("C:\\windows", nullptr, values.folders, IsRealFolder).patterns[3]);
}

}  // namespace
