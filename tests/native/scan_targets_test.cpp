// The scan's folder trees: where the system says its folders are, checked
// before it is followed, and the English names beside them.
#include "engine/scan_targets.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
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

// A drive as FindFirstFile shows it: lower-case path -> the entry.
struct FakeEntry {
  const char* name;
  bool reparsePoint;
};
std::map<std::string, FakeEntry> disk;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool LookUp(const char* path, PathFacts& facts) {
  const auto found = disk.find(Lower(path));
  if (found == disk.end()) return false;
  facts.folder = true;
  facts.reparsePoint = found->second.reparsePoint;
  facts.name = found->second.name;
  return true;
}

std::vector<std::string> Patterns(const ScanTargets& targets) {
  std::vector<std::string> patterns;
  for (size_t i = 0; i < kScanTargetCount; ++i) {
    if (targets.present[i]) patterns.push_back(targets.patterns[i]);
  }
  return patterns;
}

// Each tree once: a folder from the registry is walked only when it is a
// tree of its own, reached through real folders, and under its long name.
TEST(BuildScanTargets, EachTreeOnceAndTheEnglishSpellingForTheSameFolder) {
  struct Case {
    const char* name;
    const char* windows;
    LocalizedFolders localized;
    std::vector<std::string> patterns;
  };
  const std::string windows = "C:\\WINDOWS\\*.*";
  const std::string profiles = "C:\\Documents and settings\\*.*";
  const std::string programs = "C:\\Program Files\\*.*";
  const std::string temp = "C:\\Documents and settings\\Hans\\Temp\\*.*";
  const std::vector<std::string> english = {windows, profiles, programs, temp};
  disk = {
      {"c:\\windows", {"WINDOWS", false}},
      {"c:\\windows\\profiles", {"Profiles", false}},
      {"c:\\documents and settings", {"Documents and Settings", false}},
      {"c:\\documents and settings\\profiles", {"Profiles", false}},
      {"c:\\program files", {"Program Files", false}},
      {"c:\\progra~1", {"Program Files", false}},
      {"c:\\progra~2", {"Programme", false}},
      {"c:\\programme", {"Programme", false}},
      {"c:\\dokumente und einstellungen", {"Dokumente und Einstellungen", false}},
      {"c:\\daten", {"Daten", false}},
      {"c:\\daten\\programme", {"Programme", false}},
      {"c:\\j", {"J", true}},  // a junction to another drive
      {"c:\\j\\programme", {"Programme", false}},
      {"c:\\os", {"OS", false}},
      {"c:\\os\\windows", {"WINDOWS", false}},
  };
  const Case cases[] = {
      {"English default", "C:\\WINDOWS", {}, english},
      {"English values in another case", "C:\\WINDOWS", {"C:\\DOCUMENTS AND SETTINGS", "C:\\program files"}, english},
      {"German", "C:\\WINDOWS", {"C:\\Dokumente und Einstellungen", "C:\\Programme"},
       {windows, "C:\\Dokumente und Einstellungen\\*.*", profiles, "C:\\Programme\\*.*", programs, temp}},
      {"profiles inside the Windows directory", "C:\\WINDOWS", {"C:\\WINDOWS\\Profiles", nullptr}, english},
      {"profiles the Windows directory itself", "C:\\WINDOWS", {"C:\\windows", nullptr}, english},
      {"profiles holding the Windows directory", "C:\\OS\\WINDOWS", {"C:\\OS", nullptr},
       {"C:\\OS\\WINDOWS\\*.*", profiles, programs, temp}},
      {"profiles inside the English folder", "C:\\WINDOWS", {"C:\\Documents and Settings\\Profiles", nullptr},
       english},
      {"Program Files inside the system's profiles", "C:\\WINDOWS", {"C:\\Daten", "C:\\Daten\\Programme"},
       {windows, "C:\\Daten\\*.*", profiles, programs, temp}},
      {"Program Files holding the system's profiles", "C:\\WINDOWS", {"C:\\Daten\\Programme", "C:\\Daten"},
       {windows, "C:\\Daten\\Programme\\*.*", profiles, programs, temp}},
      {"short name of the English folder", "C:\\WINDOWS", {nullptr, "C:\\PROGRA~1"}, english},
      {"short name of a localized folder", "C:\\WINDOWS", {nullptr, "C:\\PROGRA~2"},
       {windows, profiles, "C:\\Programme\\*.*", programs, temp}},
      {"a junction along the path", "C:\\WINDOWS", {nullptr, "C:\\J\\Programme"}, english},
      {"a folder that is not there", "C:\\WINDOWS", {"C:\\Documentos", "C:\\Programmi"}, english},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.patterns, Patterns(BuildScanTargets(c.windows, "C:\\Documents and settings\\Hans\\Temp\\", c.localized,
                                                    LookUp)))
        << c.name;
  }
  // Without the file system's answers, nothing the registry says is followed.
  EXPECT_EQ(english, Patterns(BuildScanTargets("C:\\WINDOWS", "C:\\Documents and settings\\Hans\\Temp",
                                               {"C:\\Programme", "C:\\Programme"})));
  disk.clear();
}

}  // namespace
