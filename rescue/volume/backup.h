// What a cleaning run changes on a volume, kept so that it can be put back:
// a copy of every hive before it is rewritten and of every file before it is
// deleted, and a manifest that lists each with its size and SHA-256. The
// worm's files are stored defanged (every byte XORed with kDefangKey), so
// that the backup neither runs nor matches a scanner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "posix/unique_fd.h"

constexpr unsigned char kDefangKey = 0xA5;
constexpr char kManifestName[] = "manifest.txt";

struct BackupItem {
  enum class Kind { Hive, File };
  Kind kind = Kind::File;
  std::string stored;    // the copy's name in the backup folder
  std::string relative;  // the original, '/'-separated below the volume's root
  uint64_t size = 0;
  std::string sha256;    // of the original bytes
  unsigned mode = 0644;  // permission bits of the original (rwx only)
  // What the run did: "replaced" or "deleted" once done, "kept" when the
  // change was not made.
  std::string outcome = "kept";
  std::string sha256After;  // a replaced hive as the run left it (hives only)
};

class Backup {
 public:
  // Makes a new, empty backup folder: dir when given (created, or an empty
  // folder), else Scourix/backup-<stamp> at the volume's root (stamp
  // YYYYMMDD-hhmmss). No link is followed below the volume's root.
  bool Create(int volumeRoot, const std::string& mountPoint, const std::string& dir, const std::string& stamp,
              std::string& error);
  const std::string& Path() const { return path_; }

  // Copies the regular file open as source, flushed to disk. A file's copy
  // is defanged; a hive's is kept as it is.
  bool Add(BackupItem::Kind kind, int source, const std::string& relative, std::string& error);
  BackupItem* Find(BackupItem::Kind kind, const std::string& relative);

  // Writes the manifest (anew, replacing the previous one whole) and flushes
  // the folder.
  bool Save(std::string& error);

  // Removes what Create and Add made: a backup that could not be completed
  // leaves nothing behind.
  void Discard();

 private:
  UniqueFd parent_;  // where the backup folder was made, when it was made
  std::string name_;
  UniqueFd folder_;
  std::string path_;
  std::vector<BackupItem> items_;
};

// The manifest of the backup folder open as folder; false, with the reason,
// when it is missing or malformed (every field is checked: the folder may
// lie on the volume the worm had).
bool LoadManifest(int folder, std::vector<BackupItem>& items, std::string& error);

// Copies source (from its start) into a new file name in folder, created
// without following links and never over anything, XORing every byte with
// key; size and SHA-256 of the bytes read. False, with errno, on failure
// (nothing is left behind then).
bool CopyToNewFile(int source, int folder, const std::string& name, unsigned mode, unsigned char key, uint64_t& size,
                   std::string& sha256);

// The SHA-256 and size of the file open as fd, every byte XORed with key
// first; false when it cannot be read.
bool HashFile(int fd, std::string& sha256, unsigned char key = 0, uint64_t* size = nullptr);
