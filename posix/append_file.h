// A results log file on Linux: appended to, created when missing.
#pragma once

#include "engine/result_log.h"
#include "posix/unique_fd.h"

class PosixAppendFile final : public LogSink {
 public:
  // False (errno tells why) when path cannot be opened for appending, is a
  // symbolic link (never followed: a planted link could point anywhere) or
  // is not a regular file.
  bool Open(const char* path);
  bool Append(const char* data, size_t size) override;

 private:
  UniqueFd file_;
};
