#include "posix/posix_file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

PosixFileSource::PosixFileSource(const char* path) { Open(AT_FDCWD, path, 0); }

// A link is never followed and a FIFO or device never waited on: the entry
// is opened only as the regular file it was listed as.
PosixFileSource::PosixFileSource(int directory, const char* name) { Open(directory, name, O_NOFOLLOW | O_NONBLOCK); }

void PosixFileSource::Open(int directory, const char* name, int flags) {
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

PosixFileSource::~PosixFileSource() {
  if (fd_ >= 0) ::close(fd_);
}

size_t PosixFileSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (fd_ < 0 || offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd_, static_cast<char*>(buffer) + done, size - done,
                                static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}
