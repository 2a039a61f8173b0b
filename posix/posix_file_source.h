// A file read with POSIX calls, for the native tools.
#pragma once

#include <cstdint>

#include "engine/pe_signature.h"

class PosixFileSource final : public ByteSource {
 public:
  // Opens path read-only; Ok() tells whether the file and its length could be had.
  explicit PosixFileSource(const char* path);
  // The entry name of the open folder directory, only if it is a regular
  // file: links are not followed.
  PosixFileSource(int directory, const char* name);
  ~PosixFileSource() override;
  PosixFileSource(const PosixFileSource&) = delete;
  PosixFileSource& operator=(const PosixFileSource&) = delete;

  bool Ok() const { return fd_ >= 0; }
  uint64_t Length() const override { return length_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override;

 private:
  void Open(int directory, const char* name, int flags);

  int fd_ = -1;
  uint64_t length_ = 0;
};
