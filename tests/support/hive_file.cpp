#include "tests/support/hive_file.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
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
