#include "engine/pe_signature.h"

#include <cstring>

#include "engine/little_endian.h"
#include "engine/result_lines.h"

namespace {

// The record's name is a fixed array, which takes a literal: this one must be
// the worm's one name.
constexpr bool SameText(const char* a, const char* b) { return *a == *b && (*a == '\0' || SameText(a + 1, b + 1)); }

constexpr VirusSignature kGibe = {
    "W32/Gibe.F.Worm",
    {0x33, 0xC0, 0xF2, 0xAE, 0xF7, 0xD9, 0x03, 0xCB, 0x8B, 0xFE,
     0x8B, 0x75, 0x0C, 0xF3, 0xA6, 0x8A, 0x46, 0xFF, 0x33, 0xC9, 0x00},
    {0xFF, 0x46, 0x08, 0x6A, 0x01, 0x58, 0xEB, 0xBC, 0x6A, 0x01,
     0x58, 0xC3, 0x8B, 0x65, 0xE8, 0x83, 0x4D, 0xFC, 0xFF, 0x33, 0x00},
    -2179, -37572, 3, 106496};
static_assert(SameText(kGibe.name, kVirusName), "the signature carries the worm's name");

}  // namespace

const VirusSignature kSignatureTable[kMaxSignatures + 1] = {
    kGibe,
    {},  // terminator: code1[0] == 0
};

namespace {

// Fields the detection reads, by their offsets in the headers they lie in.
constexpr size_t kNumberOfSections = 2;      // file header
constexpr size_t kAddressOfEntryPoint = 16;  // optional header
constexpr size_t kSizeOfHeaders = 60;
constexpr size_t kVirtualSize = 8;  // section table entry
constexpr size_t kVirtualAddress = 12;
constexpr size_t kPointerToRawData = 20;
constexpr uint64_t kELfanewOffset = 0x3C;  // DOS header

bool ReadExactly(ByteSource& file, uint64_t offset, void* buffer, size_t size) {
  return file.ReadAt(offset, buffer, size) == size;
}

uint32_t SectionField(const PeHeaders& h, size_t section, size_t field) {
  if (section >= PeHeaders::kMaxSections) return 0;
  return ReadLe32(h.sections + section * PeHeaders::kSectionSize + field);
}

// Whether the 20 bytes at entry point + distance are the pattern.
bool PatternAt(ByteSource& file, const PeHeaders& headers, uint64_t length, int32_t distance,
               const uint8_t* pattern) {
  const uint32_t rva = headers.AddressOfEntryPoint() + static_cast<uint32_t>(distance);
  uint8_t bytes[kPatternLength];
  return ReadExactly(file, MapRvaToFileOffset(rva, headers, length), bytes, sizeof bytes) &&
         std::memcmp(bytes, pattern, kPatternLength) == 0;
}

// The first bytes of a file, read once: the headers and the section table
// lie there in nearly every file, so a file costs one read for them instead
// of up to five, and a file that is no program costs one read in all.
class HeadCache final : public ByteSource {
 public:
  explicit HeadCache(ByteSource& file) : file_(file) {
    const uint64_t length = file.Length();
    const size_t wanted = length < sizeof head_ ? static_cast<size_t>(length) : sizeof head_;
    cached_ = wanted > 0 ? file.ReadAt(0, head_, wanted) : 0;
  }
  uint64_t Length() const override { return file_.Length(); }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    const bool wholeFile = cached_ == file_.Length();
    if (offset <= cached_ && (size <= cached_ - offset || wholeFile)) {
      const size_t available = size < cached_ - offset ? size : cached_ - static_cast<size_t>(offset);
      std::memcpy(buffer, head_ + offset, available);
      return available;
    }
    if (wholeFile) return 0;  // past the end
    return file_.ReadAt(offset, buffer, size);
  }

 private:
  ByteSource& file_;
  uint8_t head_[4096];
  size_t cached_ = 0;
};

}  // namespace

uint16_t PeHeaders::NumberOfSections() const { return ReadLe16(fileHeader + kNumberOfSections); }
uint32_t PeHeaders::AddressOfEntryPoint() const { return ReadLe32(optionalHeader + kAddressOfEntryPoint); }
uint32_t PeHeaders::SizeOfHeaders() const { return ReadLe32(optionalHeader + kSizeOfHeaders); }
uint32_t PeHeaders::VirtualSize(size_t section) const { return SectionField(*this, section, kVirtualSize); }
uint32_t PeHeaders::VirtualAddress(size_t section) const { return SectionField(*this, section, kVirtualAddress); }
uint32_t PeHeaders::PointerToRawData(size_t section) const {
  return SectionField(*this, section, kPointerToRawData);
}

bool ReadPeHeaders(ByteSource& file, PeHeaders& headers) {
  headers = PeHeaders{};
  uint8_t word[2];
  if (!ReadExactly(file, kELfanewOffset, word, sizeof word)) return false;
  headers.eLfanew = ReadLe16(word);  // only 16 bits: a header beyond 65535 is not found
  static const uint8_t kPeMark[4] = {'P', 'E', 0, 0};
  uint8_t mark[4];
  if (!ReadExactly(file, headers.eLfanew, mark, sizeof mark) ||
      std::memcmp(mark, kPeMark, sizeof mark) != 0) {
    return false;
  }
  return ReadExactly(file, headers.eLfanew + 4u, headers.fileHeader, sizeof headers.fileHeader);
}

bool ReadSectionTable(ByteSource& file, PeHeaders& headers) {
  if (!ReadExactly(file, headers.eLfanew + 24u, headers.optionalHeader,
                   sizeof headers.optionalHeader)) {
    return false;
  }
  const size_t count = headers.NumberOfSections();
  if (count > PeHeaders::kMaxSections) return false;
  std::memset(headers.sections, 0, sizeof headers.sections);
  if (count == 0) return true;
  return ReadExactly(file, headers.eLfanew + uint64_t{PeHeaders::kSectionTableOffset},
                     headers.sections, count * PeHeaders::kSectionSize);
}

uint32_t MapRvaToFileOffset(uint32_t rva, const PeHeaders& headers, uint64_t fileLength) {
  // Section numbers beyond the table's 20 entries were refused when it was read.
  const size_t count = headers.NumberOfSections();
  size_t section = 0;
  if (count > 0) {
    section = count - 1;  // past every section: the last one's difference
    for (size_t i = 0; i < count; ++i) {
      if (rva < headers.VirtualAddress(i) + headers.VirtualSize(i)) {
        section = i;
        break;
      }
    }
  }
  uint32_t offset = rva + headers.PointerToRawData(section) - headers.VirtualAddress(section);
  if (offset >= fileLength) offset = rva;
  return offset == 0 ? headers.SizeOfHeaders() : offset;
}

bool SizeRuleAccepts(const VirusSignature& signature, uint64_t fileLength) {
  const int64_t length = fileLength > INT64_MAX ? INT64_MAX : static_cast<int64_t>(fileLength);
  const int64_t difference = int64_t{signature.sizeValue} - length;
  switch (signature.sizeRule) {
    case 1: return difference == 0;
    case 2: return difference > -kSizeTolerance && difference < kSizeTolerance;
    case 3: return true;
    default: return false;
  }
}

SignatureVerdict ExamineFile(ByteSource& source) {
  SignatureVerdict verdict;
  HeadCache file(source);
  PeHeaders headers;
  if (!ReadPeHeaders(file, headers) || !ReadSectionTable(file, headers)) return verdict;
  const uint64_t length = file.Length();
  for (const VirusSignature* record = kSignatureTable; record->code1[0] != 0; ++record) {
    if (SizeRuleAccepts(*record, length) &&
        PatternAt(file, headers, length, record->offset1, record->code1) &&
        PatternAt(file, headers, length, record->offset2, record->code2) &&
        verdict.count < kMaxSignatures) {
      verdict.matches[verdict.count++] = record;
    }
  }
  return verdict;
}
