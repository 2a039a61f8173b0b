#include "rescue/volume/undo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/text.h"
#include "posix/unique_fd.h"
#include "record/exit_status.h"
#include "rescue/volume/backup.h"
#include "rescue/volume/folder_listing.h"
#include "rescue/volume/volume.h"

namespace {

void Say(const std::string& windowsPath, const std::string& what) {
  std::printf("%s\n", EscapeForUtf8Terminal(windowsPath + "     " + what).c_str());
}

std::string WindowsPath(const std::string& relative) {
  std::string path = std::string(kSystemDrive) + "\\" + relative;
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

unsigned char KeyOf(const BackupItem& item) { return item.kind == BackupItem::Kind::File ? kDefangKey : 0; }

// The stored copy, open, when it is a regular file.
UniqueFd OpenCopy(int backup, const BackupItem& item) {
  UniqueFd copy(openat(backup, item.stored.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!copy || fstat(copy.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
  return copy;
}

// Whether the stored copy still holds exactly what the manifest says.
bool CopyIsIntact(int backup, const BackupItem& item) {
  const UniqueFd copy = OpenCopy(backup, item);
  std::string sha;
  uint64_t size = 0;
  return copy && HashFile(copy.Get(), sha, KeyOf(item), &size) && size == item.size && sha == item.sha256;
}

// Writes the copy beside the original under a new name, then renames it
// over the original: an interruption leaves one or the other whole.
bool Restore(int backup, const BackupItem& item, int folder, const std::string& name) {
  const UniqueFd copy = OpenCopy(backup, item);
  if (!copy) return false;
  for (int n = 1; n <= 16; ++n) {
    const std::string fresh = name + ".scourix-undo" + (n == 1 ? std::string() : std::to_string(n));
    uint64_t size = 0;
    std::string sha;
    if (!CopyToNewFile(copy.Get(), folder, fresh, item.mode, KeyOf(item), size, sha)) {
      if (errno == EEXIST) continue;
      return false;
    }
    // What was written is read back and checked: the copy was checked
    // before anything was restored, and this catches any change since.
    const UniqueFd written(openat(folder, fresh.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    std::string writtenSha;
    if (!written || !HashFile(written.Get(), writtenSha) || writtenSha != item.sha256 ||
        renameat(folder, fresh.c_str(), folder, name.c_str()) != 0) {
      unlinkat(folder, fresh.c_str(), 0);
      return false;
    }
    return fsync(folder) == 0 || errno == EINVAL || errno == ENOTSUP;
  }
  errno = EEXIST;
  return false;
}

}  // namespace

int UndoCleaning(const std::string& backupDir, int root, bool force) {
  const UniqueFd backup(open(backupDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<BackupItem> items;
  std::string error;
  if (!backup) error = backupDir + ": " + std::strerror(errno);
  if (!backup || !LoadManifest(backup.Get(), items, error)) {
    std::fprintf(stderr, "scourix-rescue: %s; nothing was changed\n", error.c_str());
    return kExitUsage;
  }
  // Every copy is checked before anything is put back.
  for (const BackupItem& item : items) {
    if (item.outcome != "kept" && !CopyIsIntact(backup.Get(), item)) {
      std::fprintf(stderr, "scourix-rescue: the backup's copy of %s (%s) is missing or damaged; nothing was changed\n",
                   WindowsPath(item.relative).c_str(), item.stored.c_str());
      return kExitUsage;
    }
  }

  bool all = true;
  for (const BackupItem& item : items) {
    if (item.outcome == "kept") continue;  // the run did not change it
    const std::string where = WindowsPath(item.relative);
    const size_t slash = item.relative.rfind('/');
    const std::string name = slash == std::string::npos ? item.relative : item.relative.substr(slash + 1);
    const UniqueFd folder = OpenFolderBeneath(root, slash == std::string::npos ? "" : item.relative.substr(0, slash));
    if (!folder) {
      Say(where, std::string("not restored: its folder cannot be opened: ") + std::strerror(errno));
      all = false;
      continue;
    }
    struct stat st {};
    bool restore = false;
    if (fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      restore = errno == ENOENT;
      if (!restore) Say(where, std::string("not restored: ") + std::strerror(errno));
    } else if (!S_ISREG(st.st_mode)) {
      Say(where, "not restored: something other than a regular file is there now");
    } else {
      const UniqueFd now(openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      std::string sha;
      if (!now || !HashFile(now.Get(), sha)) {
        Say(where, std::string("not restored: it cannot be read: ") + std::strerror(errno));
      } else if (sha == item.sha256) {
        Say(where, "already as backed up");
        continue;
      } else if (force || (item.kind == BackupItem::Kind::Hive && sha == item.sha256After)) {
        restore = true;
      } else {
        Say(where, "not restored: changed since the cleaning (--force restores it all the same)");
      }
    }
    if (restore && Restore(backup.Get(), item, folder.Get(), name)) {
      Say(where, "restored");
      continue;
    }
    if (restore) Say(where, std::string("not restored: ") + std::strerror(errno));
    all = false;
  }
  return all ? kExitNothingFound : kExitNotAllRemoved;
}
