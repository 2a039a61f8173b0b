#include "posix/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

bool PosixAppendFile::Open(const char* path) {
  file_.Reset(::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644));
  struct stat st {};
  if (!file_ || ::fstat(file_.Get(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    file_.Reset();
    errno = EINVAL;
    return false;
  }
  return true;
}

bool PosixAppendFile::Append(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(file_.Get(), data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}
