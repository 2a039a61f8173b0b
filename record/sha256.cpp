#include "record/sha256.h"

#include <cstring>

namespace {
constexpr size_t kBlockSize = 64;
// Where the 64-bit message length goes in the last block.
constexpr size_t kLengthOffset = kBlockSize - 8;

constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// n is always 1..31, so neither shift reaches 32 (which would be undefined).
constexpr uint32_t Rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

// Big-endian whatever the host's byte order, by assembling bytes by hand.
uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
}  // namespace

Sha256::Sha256() { Reset(); }

void Sha256::Reset() {
  std::memcpy(state_, kInitialState, sizeof state_);
  std::memset(block_, 0, sizeof block_);
  blockUsed_ = 0;
  totalBytes_ = 0;
}

void Sha256::Update(const void* data, size_t size) {
  // size 0 may come with a null pointer; nothing below may touch it then.
  if (size == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  totalBytes_ += size;  // wraps modulo 2^64 bytes, far beyond any file
  // First top up a partly filled block, then take whole blocks straight from
  // the input, and keep the rest for the next call.
  if (blockUsed_ > 0) {
    const size_t take = size < kBlockSize - blockUsed_ ? size : kBlockSize - blockUsed_;
    std::memcpy(block_ + blockUsed_, in, take);
    blockUsed_ += take;
    in += take;
    size -= take;
    if (blockUsed_ < kBlockSize) return;
    Compress(block_);
    blockUsed_ = 0;
  }
  for (; size >= kBlockSize; in += kBlockSize, size -= kBlockSize) Compress(in);
  if (size > 0) std::memcpy(block_, in, size);
  blockUsed_ = size;
}

std::string Sha256::Digest() {
  // The length is counted in bits, modulo 2^64: taken before the padding is
  // added, as the padding is not part of the message.
  const uint64_t bitLength = totalBytes_ << 3;
  // A 1 bit, zeros up to the length field, and a whole extra block when the
  // length no longer fits after the 1 bit.
  block_[blockUsed_++] = 0x80;
  if (blockUsed_ > kLengthOffset) {
    std::memset(block_ + blockUsed_, 0, kBlockSize - blockUsed_);
    Compress(block_);
    blockUsed_ = 0;
  }
  std::memset(block_ + blockUsed_, 0, kLengthOffset - blockUsed_);
  for (size_t i = 0; i < 8; ++i) block_[kLengthOffset + i] = static_cast<uint8_t>(bitLength >> (56 - 8 * i));
  Compress(block_);
  blockUsed_ = 0;

  std::string digest;
  digest.reserve(32);
  for (const uint32_t word : state_) {
    for (int shift = 24; shift >= 0; shift -= 8) digest += static_cast<char>((word >> shift) & 0xff);
  }
  return digest;
}

std::string Sha256::HexDigest() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (const char byte : Digest()) {
    hex += kHex[static_cast<uint8_t>(byte) >> 4];
    hex += kHex[static_cast<uint8_t>(byte) & 0xf];
  }
  return hex;
}

void Sha256::Compress(const uint8_t* block) {
  uint32_t w[64];
  for (size_t i = 0; i < 16; ++i) w[i] = LoadBigEndian(block + 4 * i);
  for (size_t i = 16; i < 64; ++i) {
    const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }

  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
  for (size_t i = 0; i < 64; ++i) {
    const uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
    const uint32_t choice = (e & f) ^ (~e & g);
    const uint32_t t1 = h + s1 + choice + kRoundConstants[i] + w[i];
    const uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
    const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const uint32_t t2 = s0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
  state_[5] += f;
  state_[6] += g;
  state_[7] += h;
}

std::string Sha256Hex(const std::string& bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.HexDigest();
}

std::string Sha256Base64(const std::string& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  const std::string digest = hash.Digest();
  std::string out;
  for (size_t i = 0; i < digest.size(); i += 3) {
    const size_t left = digest.size() - i;
    uint32_t group = static_cast<uint32_t>(static_cast<uint8_t>(digest[i])) << 16;
    if (left > 1) group |= static_cast<uint32_t>(static_cast<uint8_t>(digest[i + 1])) << 8;
    if (left > 2) group |= static_cast<uint8_t>(digest[i + 2]);
    out += kDigits[group >> 18 & 63];
    out += kDigits[group >> 12 & 63];
    out += left > 1 ? kDigits[group >> 6 & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
  return out;
}
