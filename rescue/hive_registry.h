// The registry of a Windows volume that is not running: its hive files,
// edited with libhivex behind the same six-operation access layer as the live
// registry. A hive is read whole into memory; nothing reaches its file until
// Commit, which writes a new file beside it and renames it over the old one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cleaning/registry_access.h"

struct hive_h;

class Hive {
 public:
  // Opens a hive file for editing in memory. Refuses (with the reason in
  // error) a file that is not a hive, is damaged or truncated, or whose
  // latest changes are still in its log files (Windows did not close it):
  // editing such a hive would lose them.
  static std::unique_ptr<Hive> Open(const std::string& path, std::string& error);
  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  const std::string& Path() const { return path_; }
  hive_h* Handle() const { return handle_; }
  bool Changed() const { return changed_; }
  void MarkChanged() { changed_ = true; }

  // Writes the edited hive back: the new content goes to a file beside the
  // hive, is flushed and then renamed over it, so that an interruption leaves
  // either the old hive or the new one, never a mixture. Nothing is written
  // when nothing changed.
  bool Commit(std::string& error);

 private:
  Hive(std::string path, hive_h* handle) : path_(std::move(path)), handle_(handle) {}

  std::string path_;
  hive_h* handle_;
  bool changed_ = false;
};

// The two roots as the repair sees them: HKEY_LOCAL_MACHINE's keys named
// after the machine hives (Software, System) and HKEY_USERS' keys named after
// the user hives (.DEFAULT, one per profile). Text crosses the layer as 8-bit
// Latin-1, as the ANSI registry functions give it on a Western system.
class HiveRegistry final : public RegistryAccess {
 public:
  // hive must outlive the registry.
  void Mount(RegistryRoot root, const std::string& name, Hive* hive);
  bool AnyChanged() const;
  // Commits every changed hive; the first failure's reason goes to error.
  bool CommitChanged(std::string& error);

  int QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) override;
  int EnumSubKeyName(RegistryRoot root, const char* path, uint32_t index, char* name, size_t capacity) override;
  int DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) override;
  int ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                   size_t capacity) override;
  int DeleteRegKey(RegistryRoot root, const char* path) override;
  int WriteRegString(RegistryRoot root, const char* path, const char* valueName, const char* text) override;

  // Deletes a key with everything under it (a service's key holds subkeys,
  // which DeleteRegKey, like the live registry, refuses).
  int DeleteKeyTree(RegistryRoot root, const char* path);

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
  // The key at path, or no hive when it does not exist. A null or empty path
  // is the root itself, which no hive holds.
  Location Find(RegistryRoot root, const char* path) const;
  std::vector<const Mounted*> MountedAt(RegistryRoot root) const;

  std::vector<Mounted> mounted_;
};

// Latin-1 text to UTF-8 and back (characters beyond Latin-1 become '?').
std::string Latin1ToUtf8(const std::string& text);
std::string Utf8ToLatin1(const std::string& text);
