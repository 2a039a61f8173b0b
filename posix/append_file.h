// A results log file on Linux: appended to, created when missing.
#pragma once

#include <cstddef>

#include "posix/unique_fd.h"

class PosixAppendOnlyFile {
 public:
  // False (errno tells why) when path cannot be opened for appending, is a
  // symbolic link (never followed: a planted link could point anywhere) or
  // is not a regular file.
  bool Open(const char* path);
  // False when the bytes could not all be written.
  bool Append(const char* data, size_t size);

 private:
  UniqueFd file_;
};
