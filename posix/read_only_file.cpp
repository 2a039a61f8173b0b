#include "posix/read_only_file.h"

#include "posix/fd_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

PosixReadOnlyFile::PosixReadOnlyFile(const char* path) { Open(AT_FDCWD, path, 0); }

// A link is never followed and a FIFO or device never waited on: the entry
// is opened only as the regular file it was listed as.
PosixReadOnlyFile::PosixReadOnlyFile(int directory, const char* name) { Open(directory, name, O_NOFOLLOW | O_NONBLOCK); }

void PosixReadOnlyFile::Open(int directory, const char* name, int flags) {
  fd_ = ::openat(directory, name, O_RDONLY | O_CLOEXEC | flags);
  if (fd_ < 0) return;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  length_ = static_cast<uint64_t>(st.st_size);
}

PosixReadOnlyFile::~PosixReadOnlyFile() {
  if (fd_ >= 0) ::close(fd_);
}

size_t PosixReadOnlyFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (fd_ < 0) return 0;
  size_t got = 0;
  ReadFullyAt(fd_, offset, buffer, size, got);  // what was read before an error counts
  return got;
}
