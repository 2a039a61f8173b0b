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
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_hive.h"

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

// ---- Values longer than one cell holds, read as Windows reads them ----

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Bytes that differ from one offset to the next and from one seed to another,
// so that a segment read from the wrong place or in the wrong order shows.
std::string Pattern(size_t size, unsigned seed) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 131 + i / 251 + seed * 57) & 0xFF);
  return out;
}

// Compares data without printing tens of kilobytes when it differs.
::testing::AssertionResult Holds(const std::optional<std::string>& got, const std::string& want) {
  if (!got) return ::testing::AssertionFailure() << "no data";
  if (got->size() != want.size())
    return ::testing::AssertionFailure() << got->size() << " bytes, not " << want.size();
  const auto diff = std::mismatch(got->begin(), got->end(), want.begin());
  if (diff.first != got->end())
    return ::testing::AssertionFailure() << "first difference at byte " << (diff.first - got->begin());
  return ::testing::AssertionSuccess();
}

struct CellAt {
  size_t at;     // file offset of the size field
  int32_t size;  // negative when allocated
};
// Every cell of every bin, walked from the first bin to the end recorded in
// the base block; empty when a bin or cell does not end where the next begins.
std::vector<CellAt> AllCells(const std::vector<uint8_t>& b) {
  std::vector<CellAt> cells;
  const size_t end = 0x1000 + size_t{Get32(b, 0x28)};
  if (end > b.size()) return {};
  for (size_t bin = 0x1000; bin < end;) {
    const size_t binSize = Get32(b, bin + 8);
    if (std::string(b.begin() + bin, b.begin() + bin + 4) != "hbin" || Get32(b, bin + 4) != bin - 0x1000 ||
        binSize == 0 || binSize % 0x1000 != 0 || binSize > end - bin)
      return {};
    size_t at = bin + 0x20;
    while (at < bin + binSize) {
      const auto size = static_cast<int32_t>(Get32(b, at));
      const size_t magnitude = size < 0 ? size_t{0} - static_cast<size_t>(static_cast<int64_t>(size)) : size_t(size);
      if (magnitude < 8 || magnitude % 8 != 0 || magnitude > bin + binSize - at) return {};
      cells.push_back({at, size});
      at += magnitude;
    }
    bin += binSize;
  }
  return cells;
}
// The allocated cells whose data begins with `prefix`.
std::vector<CellAt> CellsStartingWith(const std::vector<uint8_t>& b, const std::string& prefix) {
  std::vector<CellAt> found;
  for (const CellAt& cell : AllCells(b))
    if (cell.size < 0 && static_cast<size_t>(-cell.size) >= 4 + prefix.size() &&
        std::string(b.begin() + cell.at + 4, b.begin() + cell.at + 4 + prefix.size()) == prefix)
      found.push_back(cell);
  return found;
}

const std::string kBigKey = "Software\\Vendor\\Blobs";
constexpr uint32_t kRegBinary = 3;
// Longer than one cell holds: just over, one full segment and some of a
// second, and two full segments and some of a third.
constexpr size_t kBigSizes[] = {16345, 20000, 40000};

// A hive with one big REG_BINARY value, "Blob", among small ones, all as
// hivex writes them (the big one in a single plain cell).
void WriteBigValueHive(const std::string& path, const std::string& big) {
  TestHive hive = TestHive::Create(path);
  ASSERT_TRUE(hive.Ok());
  hive.SetString(kBigKey, "Before", "small text");
  hive.SetRaw(kBigKey, "Blob", kRegBinary, big);
  hive.SetDword(kBigKey, "After", 0x01020304);
  hive.SetString("Other", "Blob", "elsewhere");
  hive.Save();
}

TEST(HiveFile, BigValuesMoveIntoSegmentsThatWindowsAndHivexBothRead) {
  for (const size_t size : kBigSizes) {
    SCOPED_TRACE(size);
    TempFiles temp;
    const std::string path = temp("big_" + std::to_string(size) + ".hiv");
    const std::string big = Pattern(size, static_cast<unsigned>(size));
    WriteBigValueHive(path, big);

    const std::vector<uint8_t> before = ReadAll(path);
    {
      // hivex's value handle is where the vk cell starts in the file.
      Hive h = Open(path);
      ASSERT_TRUE(h);
      const hive_value_h vk = hivex_node_get_value(h.get(), FindPath(h.get(), kBigKey), "Blob");
      ASSERT_GT(vk, 0x1000u);
      ASSERT_LT(vk + 6, before.size());
      EXPECT_EQ(std::string(before.begin() + vk + 4, before.begin() + vk + 6), "vk");
    }
    // As hivex wrote it, a 1.5 hive's long value is not what Windows reads.
    EXPECT_FALSE(Holds(ReadValueAsWindows(path, kBigKey, "Blob"), big));
    const std::vector<CellAt> plain = CellsStartingWith(before, big.substr(0, 32));
    ASSERT_EQ(plain.size(), 1u);
    ASSERT_GE(static_cast<size_t>(-plain[0].size), size + 4);

    ASSERT_TRUE(ConvertToBigData(path, "software\\VENDOR\\blobs", "BLOB"));
    const std::vector<uint8_t> after = ReadAll(path);
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(Get32(after, 0x28), after.size() - 0x1000);
    EXPECT_EQ(Get32(after, 0x1FC), HeaderXor(after));
    // The bins still tile the file, the old data cell is free, and one db
    // record lists a segment per 16,344 bytes.
    const std::vector<CellAt> cells = AllCells(after);
    ASSERT_FALSE(cells.empty());
    const auto old = std::find_if(cells.begin(), cells.end(), [&](const CellAt& c) { return c.at == plain[0].at; });
    ASSERT_NE(old, cells.end());
    EXPECT_EQ(old->size, -plain[0].size);
    std::vector<CellAt> db;
    std::copy_if(cells.begin(), cells.end(), std::back_inserter(db),
                 [&](const CellAt& c) { return c.size < 0 && after[c.at + 4] == 'd' && after[c.at + 5] == 'b'; });
    ASSERT_EQ(db.size(), 1u);
    EXPECT_EQ(Get16(after, db[0].at + 6), (size + 16343) / 16344);

    EXPECT_TRUE(Holds(ReadValueAsWindows(path, kBigKey, "Blob"), big));
    EXPECT_EQ(ReadValueAsWindows(path, kBigKey, "Before"), Utf16("small text"));
    EXPECT_EQ(ReadValueAsWindows(path, kBigKey, "After"), Dword(0x01020304));
    EXPECT_EQ(ReadValueAsWindows(path, "Other", "Blob"), Utf16("elsewhere"));

    const TestHive reopened(path);
    ASSERT_TRUE(reopened.Ok());
    EXPECT_TRUE(Holds(reopened.GetRaw(kBigKey, "Blob"), big));
    EXPECT_EQ(reopened.GetRawType(kBigKey, "Blob"), kRegBinary);
    EXPECT_EQ(reopened.GetString(kBigKey, "Before"), "small text");
    EXPECT_EQ(reopened.GetRaw(kBigKey, "After"), Dword(0x01020304));
  }
}

TEST(HiveFile, ConvertToBigDataRefusesWhatWindowsWouldNotKeepInSegments) {
  TempFiles temp;
  const std::string path = temp("refuse.hiv");
  WriteBigValueHive(path, Pattern(20000, 1));
  const std::vector<uint8_t> original = ReadAll(path);
  EXPECT_FALSE(ConvertToBigData(path, kBigKey, "Before"));  // fits one cell
  EXPECT_FALSE(ConvertToBigData(path, kBigKey, "After"));   // inline
  EXPECT_FALSE(ConvertToBigData(path, kBigKey, "Missing"));
  EXPECT_FALSE(ConvertToBigData(path, "Software\\Nowhere", "Blob"));
  EXPECT_FALSE(ConvertToBigData(temp("no_such_file.hiv"), kBigKey, "Blob"));
  EXPECT_EQ(ReadAll(path), original);

  // Before version 1.4 Windows reads even long data from one cell.
  std::vector<uint8_t> old = original;
  Put32(old, 0x18, 3);
  Put32(old, 0x1FC, HeaderXor(old));
  const std::string oldPath = temp("refuse_1_3.hiv");
  WriteAll(oldPath, old);
  EXPECT_FALSE(ConvertToBigData(oldPath, kBigKey, "Blob"));
  EXPECT_TRUE(Holds(ReadValueAsWindows(oldPath, kBigKey, "Blob"), Pattern(20000, 1)));

  // Once converted, the data is no longer a plain cell to convert.
  ASSERT_TRUE(ConvertToBigData(path, kBigKey, "Blob"));
  const std::vector<uint8_t> converted = ReadAll(path);
  EXPECT_FALSE(ConvertToBigData(path, kBigKey, "Blob"));
  EXPECT_EQ(ReadAll(path), converted);
}

TEST(HiveFile, HivexRewritingTheKeyLeavesItsBigValueUnreadableToWindows) {
  for (const size_t size : kBigSizes) {
    SCOPED_TRACE(size);
    TempFiles temp;
    const std::string path = temp("rewrite_" + std::to_string(size) + ".hiv");
    const std::string big = Pattern(size, 3);
    WriteBigValueHive(path, big);
    ASSERT_TRUE(ConvertToBigData(path, kBigKey, "Blob"));
    ASSERT_TRUE(Holds(ReadValueAsWindows(path, kBigKey, "Blob"), big));
    {
      TestHive hive(path);
      ASSERT_TRUE(hive.Ok());
      hive.SetString(kBigKey, "Added", "new");
      hive.Save();
    }
    // hivex reads back its own plain cell; Windows would look for a db record.
    EXPECT_TRUE(Holds(TestHive(path).GetRaw(kBigKey, "Blob"), big));
    EXPECT_FALSE(Holds(ReadValueAsWindows(path, kBigKey, "Blob"), big));
    EXPECT_EQ(ReadValueAsWindows(path, kBigKey, "Added"), Utf16("new"));
    EXPECT_EQ(ReadValueAsWindows(path, kBigKey, "Before"), Utf16("small text"));
  }
}

TEST(HiveFile, WindowsReaderMatchesNamesInBothEncodingsAndEveryListForm) {
  TempFiles temp;
  const std::string path = temp("names.hiv");
  // Latin-1 names are stored one byte a character, others in UTF-16.
  const struct {
    std::string key, value, lookupKey, lookupValue;
  } names[] = {{"Plain", "Value", "PLAIN", "vALUE"},
               {"K\xC3\xA4se", "Gr\xC3\xB6\xC3\x9F" "e", "k\xC3\xA4SE", "gR\xC3\xB6\xC3\x9F" "E"},
               {"\xCE\xA9mega", "\xCE\xA3igma", "\xCE\xA9MEGA", "\xCE\xA3IGMA"},
               {"Four", "", "four", ""},
               {"Five", "Data", "FIVE", "data"}};
  {
    TestHive hive = TestHive::Create(path);
    ASSERT_TRUE(hive.Ok());
    for (const auto& n : names) hive.SetString(n.key, n.value, "in " + n.key);
    hive.Save();
  }
  std::vector<uint8_t> b = ReadAll(path);
  const std::string text(b.begin(), b.end());
  const auto contains = [&](const std::string& bytes) { return text.find(bytes) != std::string::npos; };
  EXPECT_TRUE(contains("K\xE4se"));
  EXPECT_TRUE(contains("Gr\xF6\xDF" "e"));
  EXPECT_TRUE(contains(std::string("\xA9\x03m\0e\0g\0a\0", 10)));
  EXPECT_TRUE(contains(std::string("\xA3\x03i\0g\0m\0a\0", 10)));
  const auto readAll = [&](const char* form) {
    for (const auto& n : names) {
      EXPECT_EQ(ReadValueAsWindows(path, n.lookupKey, n.lookupValue), Utf16("in " + n.key)) << form << " " << n.key;
      EXPECT_EQ(ReadValueAsWindows(path, n.lookupKey, n.lookupValue + "x"), std::nullopt) << form;
      EXPECT_EQ(ReadValueAsWindows(path, n.lookupKey + "x", n.lookupValue), std::nullopt) << form;
    }
  };
  readAll("as hivex wrote it");

  // Rewrite the root's hashed list in place as an "li" list of bare offsets
  // followed by an "ri" index pointing at it, and point the root at the index.
  const size_t nk = 0x1000 + Get32(b, 0x24);
  const size_t list = 0x1000 + Get32(b, nk + 0x20);
  const std::string signature(b.begin() + list + 4, b.begin() + list + 6);
  ASSERT_TRUE(signature == "lh" || signature == "lf") << signature;
  const size_t count = Get16(b, list + 6);
  ASSERT_EQ(count, std::size(names));
  const size_t cellSize = size_t{0} - static_cast<size_t>(static_cast<int64_t>(static_cast<int32_t>(Get32(b, list))));
  const size_t liSize = (8 + 4 * count + 7) / 8 * 8;
  ASSERT_GE(cellSize, liSize + 16);
  std::vector<uint32_t> keys;
  for (size_t i = 0; i < count; ++i) keys.push_back(Get32(b, list + 8 + 8 * i));
  Put32(b, list, static_cast<uint32_t>(-static_cast<int32_t>(liSize)));
  b[list + 4] = 'l';
  b[list + 5] = 'i';
  for (size_t i = 0; i < count; ++i) Put32(b, list + 8 + 4 * i, keys[i]);
  const size_t ri = list + liSize;
  Put32(b, ri, static_cast<uint32_t>(-static_cast<int32_t>(cellSize - liSize)));
  b[ri + 4] = 'r';
  b[ri + 5] = 'i';
  Put16(b, ri + 6, 1);
  Put32(b, ri + 8, static_cast<uint32_t>(list - 0x1000));
  Put32(b, nk + 0x20, static_cast<uint32_t>(ri - 0x1000));
  WriteAll(path, b);
  ASSERT_FALSE(AllCells(b).empty());
  readAll("through ri and li");
  EXPECT_EQ(TestHive(path).GetString("Five", "Data"), "in Five");  // hivex agrees
}

TEST(HiveFile, WindowsReaderRejectsDamagedHives) {
  TempFiles temp;
  const std::string path = temp("damaged_source.hiv");
  const std::string big = Pattern(40000, 5);
  WriteBigValueHive(path, big);
  ASSERT_TRUE(ConvertToBigData(path, kBigKey, "Blob"));
  const std::vector<uint8_t> good = ReadAll(path);
  ASSERT_TRUE(Holds(ReadValueAsWindows(path, kBigKey, "Blob"), big));
  EXPECT_EQ(ReadValueAsWindows(path, kBigKey, "Missing"), std::nullopt);
  EXPECT_EQ(ReadValueAsWindows(path, "Software\\Nowhere", "Blob"), std::nullopt);
  EXPECT_EQ(ReadValueAsWindows(temp("no_such_file.hiv"), kBigKey, "Blob"), std::nullopt);

  const std::vector<CellAt> cells = AllCells(good);
  const auto dbCell = std::find_if(cells.begin(), cells.end(), [&](const CellAt& c) {
    return c.size < 0 && good[c.at + 4] == 'd' && good[c.at + 5] == 'b';
  });
  ASSERT_NE(dbCell, cells.end());
  // Where the db record, its segment list and its last segment start.
  struct Where {
    size_t db, list, last;
  };
  Where where{dbCell->at, 0x1000 + size_t{Get32(good, dbCell->at + 8)}, 0};
  where.last = 0x1000 + size_t{Get32(good, where.list + 4 + 4 * 2)};
  using Damage = void (*)(std::vector<uint8_t>&, const Where&);
  const struct {
    const char* what;
    Damage damage;
  } cases[] = {
      {"too few segments", [](std::vector<uint8_t>& b, const Where& w) { Put16(b, w.db + 6, 2); }},
      {"too many segments", [](std::vector<uint8_t>& b, const Where& w) { Put16(b, w.db + 6, 0xFFFF); }},
      {"list past the end", [](std::vector<uint8_t>& b, const Where& w) { Put32(b, w.db + 8, 0x7FFFFFF8); }},
      {"list freed", [](std::vector<uint8_t>& b, const Where& w) { Put32(b, w.list, 0x10); }},
      {"segment outside its bin",
       [](std::vector<uint8_t>& b, const Where& w) { Put32(b, w.list + 8, Get32(b, 0x28) - 4); }},
      {"segment shorter than its data",
       [](std::vector<uint8_t>& b, const Where& w) { Put32(b, w.last, static_cast<uint32_t>(-16)); }},
      {"not a db record", [](std::vector<uint8_t>& b, const Where& w) { b[w.db + 4] = 'x'; }},
      {"cell size beyond the bin", [](std::vector<uint8_t>& b, const Where& w) { Put32(b, w.db, 0x80000000); }},
      {"root past the end", [](std::vector<uint8_t>& b, const Where&) { Put32(b, 0x24, 0xFFFFFF00); }},
      {"bins larger than the file",
       [](std::vector<uint8_t>& b, const Where&) { Put32(b, 0x28, Get32(b, 0x28) + 0x1000); }},
      {"cut file", [](std::vector<uint8_t>& b, const Where&) { b.resize(b.size() - 0x800); }},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bad = good;
    c.damage(bad, where);
    const std::string badPath = temp("damaged.hiv");
    WriteAll(badPath, bad);
    EXPECT_EQ(ReadValueAsWindows(badPath, kBigKey, "Blob"), std::nullopt) << c.what;
  }
}

TEST(HiveFile, RawTypesRoundTripWhetherOrNotHivexNamesThem) {
  TempFiles temp;
  const struct {
    uint32_t type;
    std::string data;
  } cases[] = {{0xFFFF0011, std::string("\x01\x00\x00\x00\xFF\x7F\x00\x80", 8)}, {1, Utf16("a string")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    const std::string path = temp("raw_type_" + std::to_string(c.type) + ".hiv");
    {
      TestHive hive = TestHive::Create(path);
      ASSERT_TRUE(hive.Ok());
      hive.SetRaw("Enum\\Device\\Properties", "Property", c.type, c.data);
      EXPECT_EQ(hive.GetRawType("Enum\\Device\\Properties", "Property"), c.type);
      hive.Save();
    }
    const TestHive reopened(path);
    ASSERT_TRUE(reopened.Ok());
    EXPECT_EQ(reopened.GetRawType("enum\\device\\properties", "property"), c.type);
    EXPECT_EQ(reopened.GetRaw("Enum\\Device\\Properties", "Property"), c.data);
    EXPECT_EQ(reopened.GetRawType("Enum\\Device\\Properties", "Missing"), std::nullopt);
    EXPECT_EQ(ReadValueAsWindows(path, "Enum\\Device\\Properties", "Property"), c.data);
  }
}

}  // namespace
