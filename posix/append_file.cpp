#include "posix/append_file.h"

#include "posix/fd_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

bool PosixAppendOnlyFile::Open(const char* path) {
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

bool PosixAppendOnlyFile::Append(const char* data, size_t size) { return WriteAll(file_.Get(), data, size); }
