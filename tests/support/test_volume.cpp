#include "tests/support/test_volume.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/samples/pe_sample.h"
#include "tests/support/test_hive.h"

namespace fs = std::filesystem;

TestVolume::TestVolume(const std::string& name) : root_(::testing::TempDir() + "scourix-volume-" + name) {
  fs::remove_all(root_);
  fs::create_directories(root_);
}

TestVolume::~TestVolume() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void TestVolume::MakeFolder(const std::string& relative) const { fs::create_directories(Path(relative)); }

void TestVolume::WriteFile(const std::string& relative, const std::string& bytes) const {
  MakeFolder(fs::path(relative).parent_path().string());
  std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + Path(relative));
}

void TestVolume::WriteWorm(const std::string& relative) const {
  const samples::Bytes bytes = samples::BuildSample();
  WriteFile(relative, std::string(bytes.begin(), bytes.end()));
}

void TestVolume::WriteClean(const std::string& relative) const {
  samples::SampleOptions options;
  options.flipSecond = 3;
  const samples::Bytes bytes = samples::BuildSample(options);
  WriteFile(relative, std::string(bytes.begin(), bytes.end()));
}

void TestVolume::Link(const std::string& relative, const std::string& target) const {
  MakeFolder(fs::path(relative).parent_path().string());
  fs::create_symlink(target, Path(relative));
}

bool TestVolume::Exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::symlink_status(Path(relative), ignored).type() != fs::file_type::not_found;
}

std::map<std::string, std::string> TestVolume::Snapshot() const {
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_)) {
    struct stat st {};
    lstat(entry.path().c_str(), &st);
    std::ostringstream described;
    described << st.st_mode << ' ' << st.st_size << ' ' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec;
    if (S_ISREG(st.st_mode)) {
      std::ifstream in(entry.path(), std::ios::binary);
      described << ' ' << in.rdbuf();
    } else if (S_ISLNK(st.st_mode)) {
      described << " -> " << fs::read_symlink(entry.path()).string();
    }
    entries[entry.path().string()] = described.str();
  }
  return entries;
}

void BuildInfectedXp(const TestVolume& v) {
  // Files in the scan targets: 4 of the worm's, 9 clean (the hives count).
  v.WriteWorm("WinDows/system32/worm.exe");
  v.WriteClean("WinDows/system32/notepad.exe");
  v.WriteClean("WinDows/explorer.exe");
  v.WriteWorm("WinDows/Temp/dropped.exe");
  v.WriteWorm("documents and settings/Alice/Local Settings/Temp/x.scr");
  v.WriteClean("documents and settings/Alice/My Documents/letter.exe");
  v.WriteWorm("PROGRAM FILES/App/app.exe");
  chmod(v.Path("PROGRAM FILES/App/app.exe").c_str(), 0444);
  v.WriteClean("PROGRAM FILES/App/helper.dll");
  // Outside every target, and links to it from inside: never touched.
  v.WriteWorm("Other/outside.exe");
  v.WriteWorm("outside.exe");
  v.Link("documents and settings/Alice/outside-link", "../../Other");
  v.Link("PROGRAM FILES/App/outside.exe", "../../outside.exe");

  TestHive software = TestHive::Create(v.Path(xp::kSoftware));
  software.SetString(xp::kWormKey, "Install Item", "gibe");
  software.SetString(xp::kWormKey, "Server", "smtp.example.com");
  software.SetString(xp::kWormKey, "Installed", "1");
  software.SetString("Microsoft\\Windows\\CurrentVersion\\explorer\\Shell Folders", "Cache", "C:\\cache");
  software.SetString(xp::kRunKey, "gibe", "C:\\WinDows\\system32\\worm.exe -run");
  software.SetString(xp::kRunKey, "other", "C:\\Other\\tray.exe");
  software.SetString("Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion", "5.1");
  software.SetString("Microsoft\\Windows NT\\CurrentVersion", "CurrentBuildNumber", "2600");
  software.SetString("Microsoft\\Windows NT\\CurrentVersion", "CSDVersion", "Service Pack 3");
  software.SetString("Classes\\exefile\\shell\\open\\command", "", "C:\\WinDows\\system32\\worm.exe \"%1\" %*");
  software.SetString("CLASSES\\regfile\\shell\\open\\command", "", "C:\\WinDows\\system32\\worm.exe \"%1\"");
  software.SetString("Classes\\comfile\\shell\\open\\command", "", "C:\\Other\\wrap.exe \"%1\"");
  software.Save();

  TestHive system = TestHive::Create(v.Path(xp::kSystem));
  system.SetString("ControlSet001\\Services\\worm", "ImagePath", "%SystemRoot%\\system32\\worm.exe");
  system.SetDword("ControlSet001\\Services\\worm", "Start", 2);
  system.SetString("ControlSet001\\Services\\worm\\Enum", "0", "Root\\LEGACY_WORM\\0000");
  system.SetString("ControlSet002\\Services\\worm", "ImagePath", "\"C:\\WINDOWS\\SYSTEM32\\WORM.EXE\" -s");
  system.SetString("ControlSet001\\Services\\legit", "ImagePath", "system32\\legit.exe");
  system.SetDword("Select", "Current", 1);
  system.SetString("ControlSet001\\Control\\ComputerName\\ComputerName", "ComputerName", "XP-DESK");
  system.SetString("ControlSet002\\Control\\ComputerName\\ComputerName", "ComputerName", "OLD-NAME");
  system.Save();

  TestHive defaults = TestHive::Create(v.Path(xp::kDefault));
  defaults.SetDword(xp::kPolicyKey, "DisableRegistryTools", 1);
  defaults.Save();
  TestHive alice = TestHive::Create(v.Path(xp::kAlice));
  alice.SetDword(xp::kPolicyKey, "DisableRegistryTools", 1);
  alice.Save();
  TestHive bob = TestHive::Create(v.Path(xp::kBob));
  bob.SetString("Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "C:\\PROGRAM FILES");
  bob.Save();
}
