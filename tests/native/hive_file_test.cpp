// The hive files the tests make from nothing: laid out as Windows lays them
// out, and opened, filled, saved and read back by libhivex.
#include "tests/support/hive_file.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct HiveCloser {
  void operator()(hive_h* h) const { hivex_close(h); }
};
using Hive = std::unique_ptr<hive_h, HiveCloser>;

Hive Open(const std::string& path, int flags = 0) { return Hive(hivex_open(path.c_str(), flags)); }

// Paths in the test scratch folder, removed when the test ends.
class TempFiles {
 public:
  ~TempFiles() {
    std::error_code ignored;
    for (const std::string& path : paths_) std::filesystem::remove(path, ignored);
  }
  std::string operator()(const std::string& name) {
    paths_.push_back(::testing::TempDir() + "hive_file_test_" + name);
    return paths_.back();
  }

 private:
  std::vector<std::string> paths_;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t HeaderXor(const std::vector<uint8_t>& b) {
  uint32_t sum = 0;
  for (size_t at = 0; at < 0x1FC; at += 4) sum ^= Get32(b, at);
  return sum;
}

// REG_SZ data as Windows stores it: UTF-16LE with a terminating zero.
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out + std::string(2, '\0');
}
std::string Dword(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

// hive_set_value wants writable pointers; these strings own the bytes.
struct Value {
  std::string name;
  hive_type type;
  std::string data;
  hive_set_value Set() { return {&name[0], type, data.size(), &data[0]}; }
};

// Each part of a backslash-separated path, added where missing.
hive_node_h AddPath(hive_h* h, hive_node_h node, const std::string& path) {
  size_t start = 0;
  while (node != 0 && start <= path.size()) {
    const size_t end = path.find('\\', start);
    const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const hive_node_h child = hivex_node_get_child(h, node, part.c_str());
    node = child != 0 ? child : hivex_node_add_child(h, node, part.c_str());
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return node;
}

hive_node_h FindPath(hive_h* h, const std::string& path) {
  hive_node_h node = hivex_root(h);
  size_t start = 0;
  while (node != 0) {
    const size_t end = path.find('\\', start);
    node = hivex_node_get_child(h, node, path.substr(start, end - start).c_str());
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return node;
}

std::string Take(char* text) {
  const std::string out = text != nullptr ? text : "(null)";
  std::free(text);
  return out;
}
// A value's raw data, or "(none)" when the key or value is missing.
std::string RawValue(hive_h* h, hive_node_h node, const char* name, hive_type* type = nullptr) {
  const hive_value_h value = node != 0 ? hivex_node_get_value(h, node, name) : 0;
  if (value == 0) return "(none)";
  hive_type t;
  size_t len = 0;
  char* data = hivex_value_value(h, value, &t, &len);
  if (data == nullptr) return "(none)";
  if (type != nullptr) *type = t;
  const std::string out(data, len);
  std::free(data);
  return out;
}

const std::string kCfg = "Microsoft\\Windows\\CurrentVersion\\explorer\\cfg";
constexpr int kBulkKeys = 200;
std::string BulkText(int i) { return std::string(511, static_cast<char>('a' + i % 26)); }

TEST(HiveFile, EmptyHiveIsLaidOutAsWindowsWritesIt) {
  TempFiles temp;
  const std::string path = temp("layout.hiv");
  ASSERT_TRUE(WriteEmptyHive(path, "CMI-CreateHive{2A7FB991}"));
  const std::vector<uint8_t> b = ReadAll(path);
  ASSERT_EQ(b.size(), 0x2000u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "regf");
  EXPECT_EQ(Get32(b, 0x04), Get32(b, 0x08));  // clean
  EXPECT_EQ(Get32(b, 0x1FC), HeaderXor(b));
  EXPECT_EQ(Get32(b, 0x28), 0x1000u);
  EXPECT_EQ(std::string(b.begin() + 0x1000, b.begin() + 0x1004), "hbin");
  // Cells run back to back from the bin header to the bin's end: the
  // allocated ones (negative sizes) first, then a single free one.
  std::vector<int32_t> sizes;
  for (size_t at = 0x1020; at < 0x2000 && sizes.size() < 10;) {
    sizes.push_back(static_cast<int32_t>(Get32(b, at)));
    EXPECT_EQ(sizes.back() % 8, 0);
    at += static_cast<size_t>(sizes.back() < 0 ? -sizes.back() : sizes.back());
    if (sizes.back() == 0) break;
  }
  ASSERT_EQ(sizes.size(), 3u);
  EXPECT_LT(sizes[0], 0);
  EXPECT_LT(sizes[1], 0);
  EXPECT_GT(sizes[2], 0);
  // The root key is marked as the hive's entry and points at a security
  // cell that is on its own ring and used once.
  const size_t nk = 0x1000 + Get32(b, 0x24);
  EXPECT_EQ(std::string(b.begin() + nk + 4, b.begin() + nk + 6), "nk");
  EXPECT_NE(Get16(b, nk + 6) & 0x0004, 0);
  const uint32_t skCell = Get32(b, nk + 0x30);
  const size_t sk = 0x1000 + skCell;
  EXPECT_EQ(std::string(b.begin() + sk + 4, b.begin() + sk + 6), "sk");
  EXPECT_EQ(Get32(b, sk + 0x08), skCell);
  EXPECT_EQ(Get32(b, sk + 0x0C), skCell);
  EXPECT_EQ(Get32(b, sk + 0x10), 1u);
  // A self-relative descriptor whose owner, group and DACL lie inside it.
  const size_t sd = sk + 0x18, sdSize = Get32(b, sk + 0x14);
  EXPECT_LE(0x18 + sdSize, static_cast<size_t>(-sizes[1]));
  EXPECT_EQ(b[sd], 1);
  EXPECT_EQ(Get16(b, sd + 2), 0x8004);  // SE_SELF_RELATIVE | SE_DACL_PRESENT
  for (size_t field : {4, 8, 16}) {
    EXPECT_GE(Get32(b, sd + field), 20u) << field;
    EXPECT_LT(Get32(b, sd + field), sdSize) << field;
  }

  const auto before = std::chrono::system_clock::now();
  Hive h = Open(path, HIVEX_OPEN_WRITE);
  ASSERT_TRUE(h);
  const hive_node_h root = hivex_root(h.get());
  EXPECT_EQ(Take(hivex_node_name(h.get(), root)), "CMI-CreateHive{2A7FB991}");
  EXPECT_EQ(hivex_node_nr_children(h.get(), root), 0u);
  EXPECT_EQ(hivex_node_nr_values(h.get(), root), 0u);
  // Written just now, in 100 ns ticks since 1601.
  const int64_t unixSeconds = hivex_last_modified(h.get()) / 10000000 - 11644473600LL;
  const int64_t nowSeconds =
      std::chrono::duration_cast<std::chrono::seconds>(before.time_since_epoch()).count();
  EXPECT_LE(std::llabs(unixSeconds - nowSeconds), 60);
}

TEST(HiveFile, ReportsFilesItCannotWriteOrMark) {
  TempFiles temp;
  EXPECT_FALSE(WriteEmptyHive(temp("no_such_dir/x.hiv")));
  EXPECT_FALSE(MarkHiveDirty(temp("no_such_file.hiv")));
  const std::string notHive = temp("not_a_hive.txt");
  WriteAll(notHive, std::vector<uint8_t>(0x2000, 'x'));
  EXPECT_FALSE(MarkHiveDirty(notHive));
  EXPECT_EQ(ReadAll(notHive), std::vector<uint8_t>(0x2000, 'x'));
}

TEST(HiveFile, HivexFillsSavesAndReadsBackTheHive) {
  TempFiles temp;
  const std::string path = temp("fill.hiv");
  const std::string saved = temp("fill_saved.hiv");
  const std::string pruned = temp("fill_pruned.hiv");
  ASSERT_TRUE(WriteEmptyHive(path));
  {
    Hive h = Open(path, HIVEX_OPEN_WRITE);
    ASSERT_TRUE(h);
    const hive_node_h cfg = AddPath(h.get(), hivex_root(h.get()), kCfg);
    ASSERT_NE(cfg, 0u);
    std::vector<Value> values = {{"", hive_t_REG_SZ, Utf16("default text")},
                                 {"Server", hive_t_REG_SZ, Utf16("smtp.example.org")},
                                 {"Installed", hive_t_REG_DWORD, Dword(0x01020304)}};
    std::vector<hive_set_value> set;
    for (Value& v : values) set.push_back(v.Set());
    ASSERT_EQ(hivex_node_set_values(h.get(), cfg, set.size(), set.data(), 0), 0);
    Value extra{"Count", hive_t_REG_DWORD, Dword(7)};
    const hive_set_value one = extra.Set();
    ASSERT_EQ(hivex_node_set_value(h.get(), cfg, &one, 0), 0);

    // Far more than one 4 KiB bin holds.
    const hive_node_h bulk = AddPath(h.get(), hivex_root(h.get()), "Bulk");
    for (int i = 0; i < kBulkKeys; ++i) {
      const hive_node_h key = hivex_node_add_child(h.get(), bulk, ("Key" + std::to_string(i)).c_str());
      ASSERT_NE(key, 0u) << i;
      Value v{"Data", hive_t_REG_SZ, Utf16(BulkText(i))};
      const hive_set_value s = v.Set();
      ASSERT_EQ(hivex_node_set_value(h.get(), key, &s, 0), 0) << i;
    }
    ASSERT_EQ(hivex_commit(h.get(), saved.c_str(), 0), 0);
  }

  const std::vector<uint8_t> b = ReadAll(saved);
  EXPECT_GT(b.size(), static_cast<size_t>(kBulkKeys) * 1024);
  EXPECT_EQ(Get32(b, 0x28), b.size() - 0x1000);
  EXPECT_EQ(Get32(b, 0x1FC), HeaderXor(b));
  EXPECT_EQ(ReadAll(path).size(), 0x2000u);  // saved elsewhere, the original is untouched

  {
    Hive h = Open(saved, HIVEX_OPEN_WRITE);
    ASSERT_TRUE(h);
    const hive_node_h cfg = FindPath(h.get(), kCfg);
    ASSERT_NE(cfg, 0u);
    EXPECT_EQ(Take(hivex_node_name(h.get(), cfg)), "cfg");
    EXPECT_EQ(hivex_node_nr_values(h.get(), cfg), 4u);
    hive_type type = hive_t_REG_NONE;
    EXPECT_EQ(RawValue(h.get(), cfg, "", &type), Utf16("default text"));
    EXPECT_EQ(type, hive_t_REG_SZ);
    EXPECT_EQ(Take(hivex_value_string(h.get(), hivex_node_get_value(h.get(), cfg, "Server"))), "smtp.example.org");
    EXPECT_EQ(hivex_value_dword(h.get(), hivex_node_get_value(h.get(), cfg, "Installed")), 0x01020304);
    EXPECT_EQ(RawValue(h.get(), cfg, "Installed", &type), Dword(0x01020304));
    EXPECT_EQ(type, hive_t_REG_DWORD);
    EXPECT_EQ(hivex_value_dword(h.get(), hivex_node_get_value(h.get(), cfg, "Count")), 7);

    const hive_node_h bulk = FindPath(h.get(), "Bulk");
    ASSERT_NE(bulk, 0u);
    EXPECT_EQ(hivex_node_nr_children(h.get(), bulk), static_cast<size_t>(kBulkKeys));
    for (int i = 0; i < kBulkKeys; ++i) {
      const hive_node_h key = hivex_node_get_child(h.get(), bulk, ("Key" + std::to_string(i)).c_str());
      ASSERT_NE(key, 0u) << i;
      EXPECT_EQ(RawValue(h.get(), key, "Data"), Utf16(BulkText(i))) << i;
    }

    // Deleting a key takes its subtree with it and leaves its siblings.
    ASSERT_EQ(hivex_node_delete_child(h.get(), FindPath(h.get(), "Microsoft\\Windows\\CurrentVersion\\explorer")), 0);
    ASSERT_EQ(hivex_node_delete_child(h.get(), hivex_node_get_child(h.get(), bulk, "Key17")), 0);
    ASSERT_EQ(hivex_commit(h.get(), pruned.c_str(), 0), 0);
  }
  Hive h = Open(pruned);
  ASSERT_TRUE(h);
  EXPECT_EQ(FindPath(h.get(), "Microsoft\\Windows\\CurrentVersion\\explorer"), 0u);
  EXPECT_NE(FindPath(h.get(), "Microsoft\\Windows\\CurrentVersion"), 0u);
  const hive_node_h bulk = FindPath(h.get(), "Bulk");
  EXPECT_EQ(hivex_node_nr_children(h.get(), bulk), static_cast<size_t>(kBulkKeys - 1));
  EXPECT_EQ(hivex_node_get_child(h.get(), bulk, "Key17"), 0u);
  EXPECT_EQ(RawValue(h.get(), hivex_node_get_child(h.get(), bulk, "Key18"), "Data"), Utf16(BulkText(18)));
}

TEST(HiveFile, HivexRefusesABrokenChecksumOrACutFile) {
  TempFiles temp;
  const std::string path = temp("damage.hiv");
  ASSERT_TRUE(WriteEmptyHive(path));
  const std::vector<uint8_t> good = ReadAll(path);
  EXPECT_TRUE(Open(path));

  // One byte of the recorded file name changed, the checksum left as it was.
  std::vector<uint8_t> badSum = good;
  badSum[0x30] ^= 0x01;
  const std::string badSumPath = temp("bad_sum.hiv");
  WriteAll(badSumPath, badSum);
  EXPECT_FALSE(Open(badSumPath));

  const std::vector<uint8_t> cut(good.begin(), good.begin() + 6000);
  const std::string cutPath = temp("cut.hiv");
  WriteAll(cutPath, cut);
  EXPECT_FALSE(Open(cutPath));
}

TEST(HiveFile, DirtyHiveKeepsAValidChecksum) {
  TempFiles temp;
  const std::string path = temp("dirty.hiv");
  ASSERT_TRUE(WriteEmptyHive(path));
  const std::vector<uint8_t> clean = ReadAll(path);
  ASSERT_TRUE(MarkHiveDirty(path));
  const std::vector<uint8_t> dirty = ReadAll(path);
  ASSERT_EQ(dirty.size(), clean.size());
  EXPECT_NE(Get32(dirty, 0x04), Get32(dirty, 0x08));
  EXPECT_EQ(Get32(dirty, 0x1FC), HeaderXor(dirty));
  EXPECT_NE(Get32(dirty, 0x1FC), Get32(clean, 0x1FC));
  // Only the first sequence number and the checksum changed.
  std::vector<uint8_t> rest = dirty;
  std::copy(clean.begin() + 0x04, clean.begin() + 0x08, rest.begin() + 0x04);
  std::copy(clean.begin() + 0x1FC, clean.begin() + 0x200, rest.begin() + 0x1FC);
  EXPECT_EQ(rest, clean);
  // hivex only notes unequal sequence numbers, so it opens the file as long
  // as the checksum holds.
  EXPECT_TRUE(Open(path));
}

}  // namespace
