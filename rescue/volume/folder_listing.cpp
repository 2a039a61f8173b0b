#include "rescue/volume/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

std::vector<FolderEntry> ListFolder(int folder, int* error) {
  std::vector<FolderEntry> entries;
  int ignored = 0;
  int& failure = error != nullptr ? *error : ignored;
  failure = 0;
  const int listing = fcntl(folder, F_DUPFD_CLOEXEC, 0);  // closedir closes its own copy
  if (listing < 0) {
    failure = errno;
    return entries;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(listing), closedir);
  if (!dir) {
    failure = errno;
    close(listing);
    return entries;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      failure = errno;  // 0 at the end of the listing
      break;
    }
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

UniqueFd OpenFolderBeneath(int base, const std::string& relative) {
  UniqueFd folder(fcntl(base, F_DUPFD_CLOEXEC, 0));
  size_t start = 0;
  while (folder && start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string name = relative.substr(start, end - start);
    if (name.empty() || name == "." || name == "..") {
      errno = EINVAL;
      return UniqueFd();
    }
    const int next = openat(folder.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int failure = errno;
    folder = UniqueFd(next);
    errno = failure;
    start = end + 1;
  }
  return folder;
}
