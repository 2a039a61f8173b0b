// The scan's folder trees: where the system says its folders are, checked
// before it is followed, and the English names beside them.
#include "engine/scan_targets.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

constexpr char kWindows[] = "C:\\WINDOWS";

TEST(ResolveSystemFolder, ExpandsAndChecksTheRegistryValue) {
  struct Case {
    std::string value;
    const char* folder;  // null: not to be followed
  };
  const Case cases[] = {
      {"C:\\Programme", "C:\\Programme"},
      {"c:\\Archivos de programa\\", "c:\\Archivos de programa"},
      {"%SystemDrive%\\Dokumente und Einstellungen", "C:\\Dokumente und Einstellungen"},
      {"%systemdrive%\\Users", "C:\\Users"},
      {"%SystemRoot%\\Profiles", "C:\\WINDOWS\\Profiles"},
      {"%windir%\\Profiles", "C:\\WINDOWS\\Profiles"},
      {"C:\\Dokumente und Einstellungen\\..", nullptr},  // climbs back to the root
      {"C:\\.\\Programme", nullptr},
      {"C:\\Programme\\\\x", nullptr},
      {"", nullptr},
      {"C:\\", nullptr},  // a whole drive
      {"C:", nullptr},
      {"D:\\Programme", nullptr},  // another drive
      {"\\\\server\\share\\Programme", nullptr},
      {"Programme", nullptr},  // relative
      {"\\Programme", nullptr},
      {"%ProgramFiles%\\x", nullptr},  // not expanded here
      {"%SystemDrive\\x", nullptr},
      {"C:\\Pro*gramme", nullptr},
      {"C:\\Pro\ngramme", nullptr},
      {"C:\\" + std::string(253, 'p'), nullptr},  // no room for \*.*
      {"C:\\" + std::string(252, 'p'), "fits"},
  };
  for (const Case& c : cases) {
    char out[kPathCapacity] = "untouched";
    const bool ok = ResolveSystemFolder(c.value.c_str(), kWindows, out, sizeof out);
    EXPECT_EQ(c.folder != nullptr, ok) << c.value;
    if (ok && std::string(c.folder) != "fits") {
      EXPECT_EQ(std::string(c.folder), out) << c.value;
    }
  }
  char out[kPathCapacity];
  EXPECT_FALSE(ResolveSystemFolder(nullptr, kWindows, out, sizeof out));
  EXPECT_FALSE(ResolveSystemFolder("C:\\Programme", nullptr, out, sizeof out));
}

std::set<std::string> existing;
bool Exists(const char* path) { return existing.count(path) != 0; }

std::vector<std::string> Patterns(const ScanTargets& targets) {
  std::vector<std::string> patterns;
  for (size_t i = 0; i < kScanTargetCount; ++i) {
    if (targets.present[i]) patterns.push_back(targets.patterns[i]);
  }
  return patterns;
}

TEST(BuildScanTargets, SystemFoldersTakeTheEnglishPlacesAndTheEnglishOnesStay) {
  struct Case {
    const char* name;
    LocalizedFolders localized;
    std::set<std::string> existing;
    std::vector<std::string> patterns;
  };
  const std::string english[] = {"C:\\WINDOWS\\*.*", "C:\\Documents and settings\\*.*", "C:\\Program Files\\*.*",
                                 "C:\\TEMP\\*.*"};
  LocalizedFolders german;
  german.profiles = "C:\\Dokumente und Einstellungen";
  german.programFiles = "C:\\Programme";
  LocalizedFolders englishValues;
  englishValues.profiles = "C:\\DOCUMENTS AND SETTINGS";
  englishValues.programFiles = "C:\\Program Files";
  const Case cases[] = {
      {"no values", {}, {}, {english[0], english[1], english[2], english[3]}},
      {"English values", englishValues, {"C:\\DOCUMENTS AND SETTINGS", "C:\\Program Files"},
       {english[0], english[1], english[2], english[3]}},
      {"German", german, {"C:\\Dokumente und Einstellungen", "C:\\Programme"},
       {english[0], "C:\\Dokumente und Einstellungen\\*.*", "C:\\Programme\\*.*", english[3]}},
      {"German beside English folders", german,
       {"C:\\Dokumente und Einstellungen", "C:\\Programme", "C:\\Documents and settings", "C:\\Program Files"},
       {english[0], "C:\\Dokumente und Einstellungen\\*.*", english[1], "C:\\Programme\\*.*", english[2], english[3]}},
      {"German values, folders missing", german, {}, {english[0], english[1], english[2], english[3]}},
  };
  for (const Case& c : cases) {
    existing = c.existing;
    EXPECT_EQ(c.patterns, Patterns(BuildScanTargets(kWindows, "C:\\TEMP\\", c.localized, Exists))) << c.name;
  }
  existing.clear();
}

}  // namespace
