// SHA-256 of the rescue program, against published digests and sha256sum.
#include "record/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

struct KnownDigest {
  std::string message;
  const char* hex;
};

TEST(Sha256, KnownDigests) {
  // The lengths 55..65 straddle the point where the padding and the length no
  // longer fit in the last block and a second one is needed.
  const KnownDigest cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
  };
  for (const KnownDigest& c : cases) {
    EXPECT_EQ(Sha256Hex(c.message), c.hex) << "message of " << c.message.size() << " bytes";
  }
}

TEST(Sha256, PiecesOfEverySizeGiveTheWholeMessageDigest) {
  std::string message(1000, '\0');
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>((i * 131 + 7) & 0xff);
  const std::string whole = Sha256Hex(message);
  ASSERT_EQ(whole.size(), 64u);

  Sha256 hash;
  for (size_t piece = 1; piece <= 130; ++piece) {
    for (size_t at = 0; at < message.size(); at += piece) {
      hash.Update(message.data() + at, std::min(piece, message.size() - at));
      hash.Update(nullptr, 0);  // empty updates change nothing
    }
    EXPECT_EQ(hash.HexDigest(), whole) << "pieces of " << piece << " bytes";
    hash.Reset();
  }
}

TEST(Sha256, ResetStartsAFreshMessage) {
  Sha256 hash;
  hash.Update("some other data", 15);
  hash.Reset();
  hash.Update("abc", 3);
  EXPECT_EQ(hash.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  hash.Reset();
  EXPECT_EQ(hash.HexDigest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// As a Content-Security-Policy hash takes it (values from Python's hashlib
// and base64).
TEST(Sha256, Base64Digest) {
  EXPECT_EQ("ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=", Sha256Base64("abc"));
  EXPECT_EQ("47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=", Sha256Base64(""));
}

}  // namespace
