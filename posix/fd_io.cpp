#include "posix/fd_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>

bool ReadFullyAt(int fd, uint64_t offset, void* buffer, size_t size, size_t& got) {
  got = 0;
  if (offset > static_cast<uint64_t>(INT64_MAX) - size) {
    errno = EINVAL;
    return false;
  }
  while (got < size) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, at, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    at += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool ReplaceFileAt(int folder, const char* name, const char* fresh, const void* bytes, size_t size, unsigned mode) {
  const int file = ::openat(folder, fresh, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (file < 0) return false;
  bool done = WriteAll(file, bytes, size) && ::fsync(file) == 0;
  int error = errno;
  if (::close(file) != 0 && done) {
    done = false;
    error = errno;
  }
  if (done && ::renameat(folder, fresh, folder, name) == 0) {
    // Some file systems cannot flush a folder; the rename stands regardless.
    ::fsync(folder);
    return true;
  }
  if (done) error = errno;
  ::unlinkat(folder, fresh, 0);
  errno = error;
  return false;
}
