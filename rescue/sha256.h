// SHA-256 of backed-up files, so that a copy can be checked against its
// original. Standard library only: the rescue program runs on a bare Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();

  // Any number of calls, of any sizes, 0 included.
  void Update(const void* data, size_t size);
  // The digest as 64 lower-case hex characters; the object is spent afterwards (call Reset to reuse).
  std::string HexDigest();
  void Reset();

 private:
  void Compress(const uint8_t* block);

  uint32_t state_[8];
  uint8_t block_[64];
  size_t blockUsed_ = 0;  // bytes waiting in block_, always below 64
  uint64_t totalBytes_ = 0;
};

// Convenience: the hex digest of a byte string.
std::string Sha256Hex(const std::string& bytes);
