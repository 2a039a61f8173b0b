// The engine's views of files on POSIX, for the native tools: a file
// examined (a ByteSource for the detection) and the results log's file (a
// LogSink).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/pe_signature.h"
#include "engine/result_log.h"
#include "posix/append_file.h"
#include "posix/read_only_file.h"

class PosixFileSource final : public ByteSource {
 public:
  explicit PosixFileSource(const char* path) : file_(path) {}
  // The entry name of the open folder directory, only if it is a regular
  // file: links are not followed.
  PosixFileSource(int directory, const char* name) : file_(directory, name) {}
  bool Ok() const { return file_.Ok(); }
  uint64_t Length() const override { return file_.Length(); }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override { return file_.ReadAt(offset, buffer, size); }

 private:
  PosixReadOnlyFile file_;
};

class PosixAppendFile final : public LogSink {
 public:
  // False (errno tells why) when path cannot be opened for appending, is a
  // symbolic link or is not a regular file.
  bool Open(const char* path) { return file_.Open(path); }
  bool Append(const char* data, size_t size) override { return file_.Append(data, size); }

 private:
  PosixAppendOnlyFile file_;
};
