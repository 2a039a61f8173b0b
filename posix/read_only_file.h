// A file read with POSIX calls, for the native tools.
#pragma once

#include <cstddef>
#include <cstdint>

class PosixReadOnlyFile {
 public:
  // Opens path read-only; Ok() tells whether the file and its length could be had.
  explicit PosixReadOnlyFile(const char* path);
  // The entry name of the open folder directory, only if it is a regular
  // file: links are not followed.
  PosixReadOnlyFile(int directory, const char* name);
  ~PosixReadOnlyFile();
  PosixReadOnlyFile(const PosixReadOnlyFile&) = delete;
  PosixReadOnlyFile& operator=(const PosixReadOnlyFile&) = delete;

  bool Ok() const { return fd_ >= 0; }
  uint64_t Length() const { return length_; }
  // Up to size bytes at offset; how many were read (0 at the end or on an error).
  size_t ReadAt(uint64_t offset, void* buffer, size_t size);

 private:
  void Open(int directory, const char* name, int flags);

  int fd_ = -1;
  uint64_t length_ = 0;
};
