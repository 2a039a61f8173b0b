// SHA-256: a backed-up file checked against its original, the short hash
// that tells two computers' record names apart, the fleet page's script
// and style allowed by their hash. Standard library only: the rescue
// program runs on a bare Linux, the Windows programs on Windows 98.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();

  // Any number of calls, of any sizes, 0 included.
  void Update(const void* data, size_t size);
  // The digest's 32 bytes; the object is spent afterwards (call Reset to reuse).
  std::string Digest();
  // The same as 64 lower-case hex characters.
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

// The digest's 32 bytes in base64, as a Content-Security-Policy hash takes it.
std::string Sha256Base64(const std::string& bytes);
