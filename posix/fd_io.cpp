#include "posix/fd_io.h"

#include <unistd.h>

#include <cerrno>
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
