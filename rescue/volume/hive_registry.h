// The registry of a Windows volume that is not running: its hive files,
// edited with libhivex behind the same six-operation access layer as the live
// registry. A hive is read whole into memory; nothing reaches its file until
// it is committed: a new file is written beside it and renamed over it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cleaning/registry_access.h"
#include "posix/unique_fd.h"

struct hive_h;
struct hive_set_value;

class Hive {
 public:
  // Opens a hive file for editing in memory. Refuses (with the reason in
  // error) a file that is not a hive, is damaged or truncated, is a link or
  // not a regular file, or whose latest changes are still in its log files
  // (Windows did not close it): editing such a hive would lose them.
  // folder: the hive's folder, opened without following links; it is kept
  // open, and the new hive is written there. path names the hive in
  // messages.
  static std::unique_ptr<Hive> Open(UniqueFd folder, const std::string& name, const std::string& path,
                                    std::string& error);
  // The same for a path as given, its folder followed as the system does.
  static std::unique_ptr<Hive> Open(const std::string& path, std::string& error);
  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  const std::string& Path() const { return path_; }
  hive_h* Handle() const { return handle_; }
  bool Changed() const { return changed_; }
  void MarkChanged() { changed_ = true; }
  // Format 1.4 and later keep values over 16,344 bytes as big-data records,
  // which libhivex does not write.
  bool KeepsBigData() const { return minorVersion_ >= 4; }
  // The hive file as it is on disk now, opened read-only; -1 when it is not
  // the regular file that was opened (or last written).
  UniqueFd OpenFile() const;

  // Writing the edited hive back takes two steps. Stage writes the new
  // content to a new file beside the hive (created, never opened if
  // something is already at its name) and flushes it; Install renames it
  // over the hive, so that an interruption leaves either the old hive or the
  // new one, never a mixture; Unstage removes a staged file. Nothing is
  // written when nothing changed; after a failure the changes are kept for
  // another try.
  bool Stage(std::string& error);
  bool Install(std::string& error);
  void Unstage();
  // The staged file, open for reading back; -1 when nothing is staged.
  int StagedFile() const { return stagedFile_.Get(); }
  // Whether the hive's file (as read, or as last written) is that file.
  bool IsFile(dev_t device, ino_t inode) const { return device == device_ && inode == inode_; }

 private:
  Hive(UniqueFd folder, std::string name, std::string path, hive_h* handle)
      : folder_(std::move(folder)), name_(std::move(name)), path_(std::move(path)), handle_(handle) {}

  UniqueFd folder_;
  std::string name_;
  std::string staged_;  // the staged file's name, while there is one
  UniqueFd stagedFile_;
  std::string path_;
  hive_h* handle_;
  uint32_t minorVersion_ = 0;
  unsigned mode_ = 0600;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool changed_ = false;
};

// Names tried in turn for a new hive file beside the hive, before giving up.
constexpr int kNewHiveNames = 16;

// The two roots as the repair sees them: HKEY_LOCAL_MACHINE's keys named
// after the machine hives (Software, System) and HKEY_USERS' keys named after
// the user hives (.DEFAULT, one per profile). Text crosses the layer as 8-bit
// Latin-1, as the ANSI registry functions give it on a Western system.
class HiveRegistry final : public RegistryAccess {
 public:
  // hive must outlive the registry.
  void Mount(RegistryRoot root, const std::string& name, Hive* hive);
  bool AnyChanged() const;
  std::vector<Hive*> ChangedHives() const;
  // Writes every changed hive back, or none: all are staged first, and a
  // failure removes what was staged. Then they are installed, the first
  // mounted last: the machine's Software hive, mounted first, holds the
  // worm's configuration key, and while it is not written a second run finds
  // the worm and repairs everything again. The first failure's reason goes
  // to error.
  bool CommitChanged(std::string& error);
  // The two steps of CommitChanged, for a caller that records what is
  // staged before anything is installed. A failed step leaves nothing
  // staged.
  bool StageChanged(std::string& error);
  bool InstallStaged(std::string& error);
  void UnstageAll();
  // Whether the file is one of the mounted hives.
  bool IsHiveFile(dev_t device, ino_t inode) const;

  int QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) override;
  int EnumSubKeyName(RegistryRoot root, const char* path, uint32_t index, char* name, size_t capacity) override;
  int DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) override;
  int ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                   size_t capacity) override;
  int DeleteRegKey(RegistryRoot root, const char* path) override;
  int WriteRegString(RegistryRoot root, const char* path, const char* valueName, const char* text) override;

  // Deletes a key with everything under it (a service's key holds subkeys,
  // which DeleteRegKey, like the live registry, refuses). Unlike the six
  // operations, the path is UTF-8, as the volume names things.
  int DeleteKeyTree(RegistryRoot root, const std::string& path);
  // The names of a key's subkeys in UTF-8; empty when it has none or is
  // missing.
  std::vector<std::string> SubKeyNames(RegistryRoot root, const std::string& path) const;
  // A string value (REG_SZ, REG_EXPAND_SZ) in UTF-8; false when missing or
  // of another type.
  bool ReadString(RegistryRoot root, const std::string& path, const char* valueName, std::string& text) const;

  // Changes that could not be made in memory: a key whose values could not
  // be read or written, or that holds a value over 16,344 bytes in a hive
  // that keeps such values as big-data records (rewriting it would corrupt
  // the value). Hive, key and why, each once.
  std::vector<std::string> TakeFailures() { return std::exchange(failures_, {}); }

 private:
  struct Mounted {
    RegistryRoot root;
    std::string name;
    Hive* hive;
  };
  struct Location {
    Hive* hive = nullptr;
    size_t node = 0;
  };
  // The key at a UTF-8 path, or no hive when it does not exist. An empty
  // path is the root itself, which no hive holds.
  Location Find(RegistryRoot root, const std::string& path) const;
  // The same for the 8-bit text of the six operations (null: the root).
  Location FindAnsi(RegistryRoot root, const char* path) const;
  std::vector<const Mounted*> MountedAt(RegistryRoot root) const;
  // False, and the key noted, when rewriting its values would store a big
  // value in a form Windows does not read.
  bool MayRewriteValues(const Location& at, const char* path);
  void NoteFailure(const Location& at, const char* path, const char* why);
  bool SetValues(const Location& at, const char* path, const char* skipName, const hive_set_value* added);

  std::vector<Mounted> mounted_;
  std::vector<std::string> failures_;
};

// Latin-1 text to UTF-8 and back (characters beyond Latin-1 become '?').
std::string Latin1ToUtf8(const std::string& text);
std::string Utf8ToLatin1(const std::string& text);
