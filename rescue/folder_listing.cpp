#include "rescue/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "posix/unique_fd.h"

namespace {

EntryKind KindOf(int folder, const dirent& entry) {
  unsigned char type = entry.d_type;
  if (type == DT_UNKNOWN) {
    struct stat st {};
    if (fstatat(folder, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Other;
    type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_LNK;
  }
  if (type == DT_REG) return EntryKind::File;
  if (type == DT_DIR) return EntryKind::Folder;
  return EntryKind::Other;
}

}  // namespace

std::vector<FolderEntry> ListFolder(int folder) {
  std::vector<FolderEntry> entries;
  const int listing = fcntl(folder, F_DUPFD_CLOEXEC, 0);  // closedir closes its own copy
  if (listing < 0) return entries;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(listing), closedir);
  if (!dir) {
    close(listing);
    return entries;
  }
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    entries.push_back({name, KindOf(folder, *entry)});
  }
  return entries;
}

std::vector<FolderEntry> ListFolder(const std::string& path) {
  const UniqueFd folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder ? ListFolder(folder.Get()) : std::vector<FolderEntry>{};
}
