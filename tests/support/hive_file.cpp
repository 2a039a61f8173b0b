#include "tests/support/hive_file.h"

#include <hivex.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace {

constexpr size_t kBlock = 0x1000;        // base block and bin size
constexpr uint32_t kNoCell = 0xFFFFFFFF;  // a cell offset pointing nowhere
constexpr uint32_t kRootCell = 0x20;      // first cell, after the bin header
constexpr uint32_t kSumOffset = 0x1FC;

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  for (int i = 0; i < 2; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | b[at + i];
  return v;
}

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

size_t Align8(size_t n) { return (n + 7) & ~size_t{7}; }

// Windows keeps 0 and all-ones out of the checksum so that a zeroed or
// erased block never passes.
void SetChecksum(std::vector<uint8_t>& base) {
  uint32_t sum = 0;
  for (size_t at = 0; at < kSumOffset; at += 4) sum ^= Get32(base, at);
  if (sum == 0) sum = 1;
  if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
  Put32(base, kSumOffset, sum);
}

// Windows FILETIME: 100 ns ticks since 1601-01-01.
uint64_t FileTimeNow() {
  const auto since1970 = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return (static_cast<uint64_t>(since1970.count()) + 11644473600ULL) * 10000000ULL;
}

// A self-relative security descriptor: owner and group Administrators
// (S-1-5-32-544), and a DACL giving Everyone (S-1-1-0) full access to the key
// and, by inheritance, to the keys added under it.
std::vector<uint8_t> SecurityDescriptor() {
  const std::vector<uint8_t> admins = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  const std::vector<uint8_t> everyone = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  const size_t aceSize = 8 + everyone.size();
  const size_t aclSize = 8 + aceSize;
  const size_t dacl = 20, owner = dacl + aclSize, group = owner + admins.size();
  std::vector<uint8_t> sd(group + admins.size());
  sd[0] = 1;                     // revision
  Put16(sd, 2, 0x8000 | 0x0004);  // SE_SELF_RELATIVE | SE_DACL_PRESENT
  Put32(sd, 4, static_cast<uint32_t>(owner));
  Put32(sd, 8, static_cast<uint32_t>(group));
  Put32(sd, 12, 0);  // no SACL
  Put32(sd, 16, static_cast<uint32_t>(dacl));
  sd[dacl] = 2;  // ACL_REVISION
  Put16(sd, dacl + 2, static_cast<uint16_t>(aclSize));
  Put16(sd, dacl + 4, 1);  // one ACE
  const size_t ace = dacl + 8;
  sd[ace] = 0;                       // ACCESS_ALLOWED_ACE_TYPE
  sd[ace + 1] = 0x02;                // CONTAINER_INHERIT_ACE
  Put16(sd, ace + 2, static_cast<uint16_t>(aceSize));
  Put32(sd, ace + 4, 0x000F003F);  // KEY_ALL_ACCESS
  std::memcpy(&sd[ace + 8], everyone.data(), everyone.size());
  std::memcpy(&sd[owner], admins.data(), admins.size());
  std::memcpy(&sd[group], admins.data(), admins.size());
  return sd;
}

}  // namespace

bool WriteEmptyHive(const std::string& path, const std::string& rootName) {
  if (rootName.size() > 255) return false;  // longest key name Windows allows
  const uint64_t now = FileTimeNow();
  std::vector<uint8_t> base(kBlock), cells(kBlock);  // the base block, then the bin

  // Base block. Equal sequence numbers mean every change reached this file.
  std::memcpy(&base[0], "regf", 4);
  Put32(base, 0x04, 1);
  Put32(base, 0x08, 1);
  Put64(base, 0x0C, now);
  // Version 1.5: the first to allow the "lh" subkey lists that hivex writes.
  Put32(base, 0x14, 1);
  Put32(base, 0x18, 5);
  Put32(base, 0x1C, 0);  // primary file
  Put32(base, 0x20, 1);  // direct memory load
  Put32(base, 0x24, kRootCell);
  Put32(base, 0x28, kBlock);  // one bin
  Put32(base, 0x2C, 1);
  // Windows records the tail of the file's path, for diagnostics only; this
  // keeps the name's last 31 bytes, widened, leaving a terminating zero.
  const std::string name = path.substr(path.find_last_of("/\\") + 1);
  const size_t keep = name.size() < 31 ? name.size() : 31;
  for (size_t i = 0; i < keep; ++i) base[0x30 + 2 * i] = static_cast<uint8_t>(name[name.size() - keep + i]);
  SetChecksum(base);

  // The bin; cell offsets below are relative to its start.
  std::memcpy(&cells[0], "hbin", 4);
  Put32(cells, 0x04, 0);  // offset of this bin
  Put32(cells, 0x08, kBlock);
  Put64(cells, 0x14, now);

  // Root key: an "nk" cell with nothing under it, named in one byte per
  // character. Allocated cells carry their size negated.
  const size_t nkSize = Align8(4 + 0x4C + rootName.size());
  const std::vector<uint8_t> sd = SecurityDescriptor();
  const size_t skSize = Align8(4 + 0x14 + sd.size());
  const uint32_t skCell = kRootCell + static_cast<uint32_t>(nkSize);
  const size_t nk = kRootCell;
  Put32(cells, nk, static_cast<uint32_t>(-static_cast<int32_t>(nkSize)));
  std::memcpy(&cells[nk + 0x04], "nk", 2);
  Put16(cells, nk + 0x06, 0x0004 | 0x0008 | 0x0020);  // hive entry, no delete, ASCII name
  Put64(cells, nk + 0x08, now);
  Put32(cells, nk + 0x14, kNoCell);  // no parent, as Windows makes a root key
  Put32(cells, nk + 0x18, 0);        // subkeys
  Put32(cells, nk + 0x1C, 0);        // volatile subkeys
  Put32(cells, nk + 0x20, kNoCell);
  Put32(cells, nk + 0x24, kNoCell);
  Put32(cells, nk + 0x28, 0);  // values
  Put32(cells, nk + 0x2C, kNoCell);
  Put32(cells, nk + 0x30, skCell);
  Put32(cells, nk + 0x34, kNoCell);  // no class
  Put16(cells, nk + 0x4C, static_cast<uint16_t>(rootName.size()));
  std::memcpy(&cells[nk + 0x50], rootName.data(), rootName.size());

  // Its security: an "sk" cell on a ring of one, used by one key.
  const size_t sk = skCell;
  Put32(cells, sk, static_cast<uint32_t>(-static_cast<int32_t>(skSize)));
  std::memcpy(&cells[sk + 0x04], "sk", 2);
  Put32(cells, sk + 0x08, skCell);  // flink
  Put32(cells, sk + 0x0C, skCell);  // blink
  Put32(cells, sk + 0x10, 1);
  Put32(cells, sk + 0x14, static_cast<uint32_t>(sd.size()));
  std::memcpy(&cells[sk + 0x18], sd.data(), sd.size());

  // Readers walk cell by cell to the bin's end, so the rest is one free cell.
  const size_t freeCell = sk + skSize;
  Put32(cells, freeCell, static_cast<uint32_t>(kBlock - freeCell));

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(base.data()), static_cast<std::streamsize>(kBlock));
  out.write(reinterpret_cast<const char*>(cells.data()), static_cast<std::streamsize>(kBlock));
  out.close();
  return !out.fail();
}

bool MarkHiveDirty(const std::string& path) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  std::vector<uint8_t> base(kBlock);
  if (!f.read(reinterpret_cast<char*>(base.data()), static_cast<std::streamsize>(kBlock))) return false;
  if (std::memcmp(base.data(), "regf", 4) != 0) return false;
  // Windows raises the first number before writing and the second after.
  Put32(base, 0x04, Get32(base, 0x08) + 1);
  SetChecksum(base);
  f.seekp(0);
  f.write(reinterpret_cast<const char*>(base.data()), static_cast<std::streamsize>(kBlock));
  f.close();
  return !f.fail();
}

namespace {

constexpr uint32_t kBigSegment = 16344;     // most data one cell holds, and a segment's share
constexpr uint32_t kInline = 0x80000000;     // data length flag: the data is in the offset field
constexpr uint32_t kFirstBigDataMinor = 4;  // hives of version 1.4 on keep big data in segments
constexpr size_t kBinHeader = 0x20;
constexpr size_t kDbCell = 16;  // size, "db", segment count, list offset, spare

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

// Where a cell or bin lies in the file: its first byte and its size (for a
// cell, its size field included).
struct Span {
  size_t at;
  size_t size;
};

// The raw hive: its base block and bins, checked as far as the code below
// relies on them, so that every cell it looks at lies inside one bin.
class HiveBytes {
 public:
  explicit HiveBytes(const std::vector<uint8_t>& bytes) : b_(bytes) {}

  bool Load() {
    if (b_.size() < kBlock || std::memcmp(b_.data(), "regf", 4) != 0 || Get32(b_, 0x14) != 1) return false;
    minor_ = Get32(b_, 0x18);
    const uint64_t end = uint64_t{kBlock} + Get32(b_, 0x28);
    if (end > b_.size()) return false;
    for (size_t at = kBlock; at < end;) {
      if (end - at < kBlock || std::memcmp(&b_[at], "hbin", 4) != 0 || Get32(b_, at + 4) != at - kBlock) return false;
      const size_t size = Get32(b_, at + 8);
      if (size == 0 || size % kBlock != 0 || size > end - at) return false;
      bins_.push_back({at, size});
      at += size;
    }
    end_ = static_cast<size_t>(end);
    return !bins_.empty();
  }

  uint32_t Minor() const { return minor_; }
  // Where the bins end, and so where a new one goes.
  size_t End() const { return end_; }

  // The allocated cell at a bin-relative offset, when it lies wholly inside a
  // bin, after the bin's header, and is at least minSize bytes long.
  std::optional<Span> Cell(uint32_t offset, size_t minSize = 8) const {
    if (offset == kNoCell) return std::nullopt;
    const size_t at = kBlock + size_t{offset};
    auto bin = std::upper_bound(bins_.begin(), bins_.end(), at,
                                [](size_t where, const Span& b) { return where < b.at; });
    if (bin == bins_.begin()) return std::nullopt;
    --bin;
    const size_t binEnd = bin->at + bin->size;
    if (at < bin->at + kBinHeader || at >= binEnd || binEnd - at < 4) return std::nullopt;
    const uint32_t raw = Get32(b_, at);
    if ((raw & 0x80000000) == 0) return std::nullopt;  // a free cell
    const size_t size = uint32_t{0} - raw;             // allocated cells carry their size negated
    if (size < 8 || size < minSize || size > binEnd - at) return std::nullopt;
    return Span{at, size};
  }

  // An allocated cell carrying a two-letter signature after its size.
  std::optional<Span> Record(uint32_t offset, const char* signature, size_t minSize) const {
    const std::optional<Span> cell = Cell(offset, minSize);
    if (!cell || std::memcmp(&b_[cell->at + 4], signature, 2) != 0) return std::nullopt;
    return cell;
  }

 private:
  const std::vector<uint8_t>& b_;
  std::vector<Span> bins_;
  uint32_t minor_ = 0;
  size_t end_ = 0;
};

// A UTF-8 name as UTF-16 code units, or nothing when it is not UTF-8.
std::optional<std::u16string> Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<uint8_t>(text[i]);
    const size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : 4;
    if (extra == 4 || text.size() - i <= extra) return std::nullopt;
    uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return std::nullopt;
    if (code >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += extra + 1;
  }
  return out;
}

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c; }

// Whether the stored name at `at` (`length` bytes; one byte per character
// when `narrow`, else UTF-16LE) is `want`, ASCII letters in either case.
bool NameIs(const std::vector<uint8_t>& b, size_t at, size_t length, bool narrow, const std::u16string& want) {
  if (!narrow && length % 2 != 0) return false;
  const size_t units = narrow ? length : length / 2;
  if (units != want.size()) return false;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = narrow ? char16_t{b[at + i]} : static_cast<char16_t>(Get16(b, at + 2 * i));
    if (FoldAscii(c) != FoldAscii(want[i])) return false;
  }
  return true;
}

// nk: size, "nk", flags at 0x06, subkey count at 0x18, subkey list at 0x20,
// value count at 0x28, value list at 0x2C, name length at 0x4C, name at 0x50.
constexpr size_t kNkName = 0x50;
// vk: size, "vk", name length at 0x06, data length at 0x08, data offset at
// 0x0C, type at 0x10, flags at 0x14, name at 0x18.
constexpr size_t kVkName = 0x18;

std::optional<Span> KeyNamed(const std::vector<uint8_t>& b, const HiveBytes& hive, uint32_t offset,
                             const std::u16string& name) {
  const std::optional<Span> nk = hive.Record(offset, "nk", kNkName);
  if (!nk) return std::nullopt;
  const size_t length = Get16(b, nk->at + 0x4C);
  if (length > nk->size - kNkName) return std::nullopt;
  if (!NameIs(b, nk->at + kNkName, length, (Get16(b, nk->at + 0x06) & 0x0020) != 0, name)) return std::nullopt;
  return nk;
}

// Searches a subkey list: "lf" and "lh" hold (key, hash) pairs, "li" bare
// keys, and "ri" (only at the top) further lists.
std::optional<Span> SearchSubkeys(const std::vector<uint8_t>& b, const HiveBytes& hive, uint32_t offset,
                                  const std::u16string& name, bool top) {
  const std::optional<Span> list = hive.Cell(offset);
  if (!list) return std::nullopt;
  const std::string signature(reinterpret_cast<const char*>(&b[list->at + 4]), 2);
  const size_t count = Get16(b, list->at + 6);
  const size_t stride = signature == "lf" || signature == "lh" ? 8 : 4;
  if (signature != "lf" && signature != "lh" && signature != "li" && (signature != "ri" || !top)) return std::nullopt;
  if (count > (list->size - 8) / stride) return std::nullopt;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t entry = Get32(b, list->at + 8 + i * stride);
    const std::optional<Span> found =
        signature == "ri" ? SearchSubkeys(b, hive, entry, name, false) : KeyNamed(b, hive, entry, name);
    if (found) return found;
  }
  return std::nullopt;
}

std::optional<Span> FindKey(const std::vector<uint8_t>& b, const HiveBytes& hive, const std::string& keyPath) {
  std::optional<Span> nk = hive.Record(Get32(b, 0x24), "nk", kNkName);
  size_t start = 0;
  while (nk && start < keyPath.size()) {
    size_t end = keyPath.find('\\', start);
    if (end == std::string::npos) end = keyPath.size();
    const std::optional<std::u16string> name = Utf8ToUtf16(keyPath.substr(start, end - start));
    if (!name || Get32(b, nk->at + 0x18) == 0) return std::nullopt;
    nk = SearchSubkeys(b, hive, Get32(b, nk->at + 0x20), *name, true);
    start = end + 1;
  }
  return nk;
}

std::optional<Span> FindValue(const std::vector<uint8_t>& b, const HiveBytes& hive, const std::string& keyPath,
                              const std::string& valueName) {
  const std::optional<Span> nk = FindKey(b, hive, keyPath);
  const std::optional<std::u16string> name = Utf8ToUtf16(valueName);
  if (!nk || !name) return std::nullopt;
  const size_t count = Get32(b, nk->at + 0x28);
  if (count == 0) return std::nullopt;
  const std::optional<Span> list = hive.Cell(Get32(b, nk->at + 0x2C));
  if (!list || count > (list->size - 4) / 4) return std::nullopt;
  for (size_t i = 0; i < count; ++i) {
    const std::optional<Span> vk = hive.Record(Get32(b, list->at + 4 + 4 * i), "vk", kVkName);
    if (!vk) continue;
    const size_t length = Get16(b, vk->at + 0x06);
    if (length <= vk->size - kVkName &&
        NameIs(b, vk->at + kVkName, length, (Get16(b, vk->at + 0x14) & 0x0001) != 0, *name)) {
      return vk;
    }
  }
  return std::nullopt;
}

// Segment counts are 16-bit, and every segment but the last is full.
size_t SegmentCount(size_t length) { return (length + kBigSegment - 1) / kBigSegment; }

}  // namespace

std::optional<std::string> ReadValueAsWindows(const std::string& path, const std::string& keyPath,
                                              const std::string& valueName) {
  std::vector<uint8_t> b;
  if (!ReadFile(path, b)) return std::nullopt;
  HiveBytes hive(b);
  if (!hive.Load()) return std::nullopt;
  const std::optional<Span> vk = FindValue(b, hive, keyPath, valueName);
  if (!vk) return std::nullopt;
  const uint32_t declared = Get32(b, vk->at + 0x08);
  const size_t length = declared & ~kInline;
  const uint32_t dataOffset = Get32(b, vk->at + 0x0C);

  if ((declared & kInline) != 0) {
    if (length > 4) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(&b[vk->at + 0x0C]), length);
  }
  if (length == 0) return std::string();  // no data cell to look at
  if (hive.Minor() < kFirstBigDataMinor || length <= kBigSegment) {
    const std::optional<Span> data = hive.Cell(dataOffset, 4 + length);
    if (!data) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(&b[data->at + 4]), length);
  }

  const std::optional<Span> db = hive.Record(dataOffset, "db", 12);
  if (!db) return std::nullopt;
  const size_t count = Get16(b, db->at + 6);
  if (count != SegmentCount(length)) return std::nullopt;
  const std::optional<Span> list = hive.Cell(Get32(b, db->at + 8), 4 + 4 * count);
  if (!list) return std::nullopt;
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < count; ++i) {
    const size_t share = std::min<size_t>(kBigSegment, length - out.size());
    const std::optional<Span> segment = hive.Cell(Get32(b, list->at + 4 + 4 * i), 4 + share);
    if (!segment) return std::nullopt;
    out.append(reinterpret_cast<const char*>(&b[segment->at + 4]), share);
  }
  return out;
}

bool ConvertToBigData(const std::string& path, const std::string& keyPath, const std::string& valueName) {
  // hivex finds the value; its value handle is the vk cell's offset in the
  // file (a bin-relative offset plus 0x1000), which is checked below.
  size_t vkAt = 0;
  if (hive_h* h = hivex_open(path.c_str(), 0)) {
    hive_node_h node = hivex_root(h);
    size_t start = 0;
    while (node != 0 && start < keyPath.size()) {
      size_t end = keyPath.find('\\', start);
      if (end == std::string::npos) end = keyPath.size();
      node = hivex_node_get_child(h, node, keyPath.substr(start, end - start).c_str());
      start = end + 1;
    }
    if (node != 0) vkAt = hivex_node_get_value(h, node, valueName.c_str());
    hivex_close(h);
  }
  if (vkAt < kBlock || vkAt - kBlock >= kNoCell) return false;

  std::vector<uint8_t> b;
  if (!ReadFile(path, b)) return false;
  HiveBytes hive(b);
  if (!hive.Load() || hive.Minor() < kFirstBigDataMinor) return false;
  const std::optional<Span> vk = hive.Record(static_cast<uint32_t>(vkAt - kBlock), "vk", kVkName);
  if (!vk) return false;
  const uint32_t length = Get32(b, vk->at + 0x08);
  if ((length & kInline) != 0 || length <= kBigSegment) return false;
  const std::optional<Span> data = hive.Cell(Get32(b, vk->at + 0x0C), size_t{4} + length);
  const size_t count = SegmentCount(length);
  if (!data || count > 0xFFFF) return false;

  // The new bin: the db cell, the segment list, then the segments. Each
  // segment cell keeps at least four spare bytes after its data, as a full
  // one does (4 + 16,344 rounds up to 16,352): libhivex takes a segment's
  // data to be its cell size less eight, so a tighter last cell would read
  // short there, while Windows reads just the bytes the length calls for.
  const size_t listSize = Align8(4 + 4 * count);
  std::vector<size_t> segmentSizes;
  size_t used = kBinHeader + kDbCell + listSize;
  for (size_t i = 0; i < count; ++i) {
    const size_t share = std::min<size_t>(kBigSegment, length - i * kBigSegment);
    segmentSizes.push_back(Align8(4 + share + 4));
    used += segmentSizes.back();
  }
  const size_t binSize = (used + kBlock - 1) / kBlock * kBlock;
  const size_t binAt = hive.End();
  if (uint64_t{binAt} - kBlock + binSize >= kNoCell) return false;
  const auto cellOffset = [&](size_t inBin) { return static_cast<uint32_t>(binAt - kBlock + inBin); };

  std::vector<uint8_t> bin(binSize);
  std::memcpy(&bin[0], "hbin", 4);
  Put32(bin, 0x04, cellOffset(0));
  Put32(bin, 0x08, static_cast<uint32_t>(binSize));
  Put64(bin, 0x14, FileTimeNow());
  const size_t db = kBinHeader, list = db + kDbCell;
  Put32(bin, db, static_cast<uint32_t>(-static_cast<int32_t>(kDbCell)));
  std::memcpy(&bin[db + 4], "db", 2);
  Put16(bin, db + 6, static_cast<uint16_t>(count));
  Put32(bin, db + 8, cellOffset(list));
  Put32(bin, list, static_cast<uint32_t>(-static_cast<int32_t>(listSize)));
  size_t segment = list + listSize;
  for (size_t i = 0; i < count; ++i) {
    const size_t share = std::min<size_t>(kBigSegment, length - i * kBigSegment);
    Put32(bin, list + 4 + 4 * i, cellOffset(segment));
    Put32(bin, segment, static_cast<uint32_t>(-static_cast<int32_t>(segmentSizes[i])));
    std::memcpy(&bin[segment + 4], &b[data->at + 4 + i * kBigSegment], share);
    segment += segmentSizes[i];
  }
  if (segment < binSize) Put32(bin, segment, static_cast<uint32_t>(binSize - segment));  // the rest, free

  Put32(b, vk->at + 0x0C, cellOffset(db));
  Put32(b, data->at, static_cast<uint32_t>(data->size));  // the old cell, now free
  Put32(b, 0x28, static_cast<uint32_t>(binAt - kBlock + binSize));
  SetChecksum(b);
  // Anything after the old bins is not in the hive; the new bin takes its place.
  b.resize(binAt);
  b.insert(b.end(), bin.begin(), bin.end());

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  out.close();
  return !out.fail();
}
