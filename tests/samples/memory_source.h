// A byte vector read like a file.
#pragma once

#include <cstring>
#include <vector>

#include "engine/pe_signature.h"

class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit MemorySource(const std::vector<uint8_t>& bytes) : MemorySource(bytes.data(), bytes.size()) {}

  uint64_t Length() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset >= size_) return 0;
    const size_t n = size < size_ - offset ? size : static_cast<size_t>(size_ - offset);
    std::memcpy(buffer, data_ + offset, n);
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};
