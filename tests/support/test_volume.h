// Windows volumes made in a scratch folder for the rescue tests: folders and
// files by relative path ('/'-separated), harmless worm samples, and the XP
// layout the tests share.
#pragma once

#include <map>
#include <string>

class TestVolume {
 public:
  // A fresh, empty folder named after the test.
  explicit TestVolume(const std::string& name);
  ~TestVolume();
  TestVolume(const TestVolume&) = delete;
  TestVolume& operator=(const TestVolume&) = delete;

  const std::string& Root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  void MakeFolder(const std::string& relative) const;
  void WriteFile(const std::string& relative, const std::string& bytes) const;
  // A sample that carries the signature.
  void WriteWorm(const std::string& relative) const;
  // A program that does not.
  void WriteClean(const std::string& relative) const;
  void Link(const std::string& relative, const std::string& target) const;
  bool Exists(const std::string& relative) const;

  // Every entry under the root, links not followed, with its type, mode,
  // size, modification time and content: equal snapshots mean nothing
  // changed.
  std::map<std::string, std::string> Snapshot() const;

 private:
  std::string root_;
};

// An infected Windows XP volume, names in mixed case:
//   WinDows\system32\worm.exe, WinDows\Temp\dropped.exe,
//   documents and settings\Alice\Local Settings\Temp\x.scr and
//   PROGRAM FILES\App\app.exe (read-only) are the worm's; copies outside the
//   scan targets (Other\outside.exe, outside.exe) and links to them inside;
//   clean programs beside them (kXpFilesInTargets files in the targets).
// Hives: SOFTWARE with the worm's configuration key "CacheBox", its run
//   value "gibe" and two open commands that run it; SYSTEM with the worm's
//   service "worm" in two control sets and a service "legit"; DEFAULT and
//   Alice's NTUSER.DAT with the registry tools disabled; Bob's NTUSER.DAT
//   without that policy key.
void BuildInfectedXp(const TestVolume& volume);
constexpr int kXpFilesInTargets = 13;
constexpr int kXpWormFiles = 4;

// Where BuildInfectedXp puts things.
namespace xp {
constexpr char kSoftware[] = "WinDows/system32/config/SOFTWARE";
constexpr char kSystem[] = "WinDows/system32/config/SYSTEM";
constexpr char kDefault[] = "WinDows/system32/config/DEFAULT";
constexpr char kAlice[] = "documents and settings/Alice/NTUSER.DAT";
constexpr char kBob[] = "documents and settings/Bob/NTUSER.DAT";
constexpr char kWormKey[] = "Microsoft\\Windows\\CurrentVersion\\explorer\\CacheBox";
constexpr char kRunKey[] = "Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kPolicyKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
// The worm's files, as kXpWormPaths (rescue_run.h) names them.
constexpr const char* kWormFiles[kXpWormFiles] = {
    "WinDows/system32/worm.exe", "WinDows/Temp/dropped.exe",
    "documents and settings/Alice/Local Settings/Temp/x.scr", "PROGRAM FILES/App/app.exe"};
}  // namespace xp
