#include "fleet/record_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "posix/fd_io.h"
#include "posix/unique_fd.h"

namespace {

bool IsRecordName(const char* name) {
  const size_t length = std::strlen(name);
  return length > 5 && std::strcmp(name + length - 5, ".json") == 0;
}

// The opened file, checked as it is (not as its name was a moment ago),
// read up to one byte past the limit: a file still growing is refused too.
bool ReadOpened(const UniqueFd& file, std::string& text, std::string& problem) {
  struct stat status {};
  if (!file || fstat(file.Get(), &status) != 0) {
    problem = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode) || status.st_size < 0 || static_cast<size_t>(status.st_size) > kLargestRecord) {
    problem = "not a regular file of at most 16 MiB";
    return false;
  }
  text.assign(static_cast<size_t>(status.st_size) + 1, '\0');
  size_t got = 0;
  if (!ReadFullyAt(file.Get(), 0, &text[0], text.size(), got)) {
    problem = std::strerror(errno);
    return false;
  }
  if (got > kLargestRecord || got > static_cast<size_t>(status.st_size)) {
    problem = "not a regular file of at most 16 MiB (it grew while read)";
    return false;
  }
  text.resize(got);
  return true;
}

constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

}  // namespace

bool ForEachRecordFile(const std::string& folder, const RecordVisitor& visit, std::string& problem) {
  const int opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(opened >= 0 ? fdopendir(opened) : nullptr, closedir);
  if (!entries) {
    problem = folder + ": " + std::strerror(errno);
    if (opened >= 0) ::close(opened);
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(entries.get());
    if (entry == nullptr) break;
    if (!IsRecordName(entry->d_name)) continue;
    const std::string name = entry->d_name;
    std::string text, why;
    const bool read = ReadOpened(UniqueFd(::openat(dirfd(entries.get()), name.c_str(), kOpenFlags)), text, why);
    visit(name, read ? &text : nullptr, why);
  }
  if (errno != 0) {
    problem = folder + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ReadGivenFile(const std::string& path, std::string& text, std::string& problem) {
  if (ReadOpened(UniqueFd(::open(path.c_str(), kOpenFlags)), text, problem)) return true;
  problem = path + ": " + problem;
  return false;
}
