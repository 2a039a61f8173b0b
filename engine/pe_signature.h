// Signature detection over a PE file: two 20-byte code patterns at fixed
// distances from the program entry point. Portable and side-effect free: it
// reads through a ByteSource and only gives a verdict; CheckFile acts on it.
#pragma once

#include <cstddef>
#include <cstdint>

struct VirusSignature {
  char name[50];
  uint8_t code1[21];  // 20 pattern bytes and a zero
  uint8_t code2[21];
  int32_t offset1;    // signed distance from the entry point, in RVA bytes
  int32_t offset2;
  int32_t sizeRule;   // 1 exact size, 2 within tolerance, 3 any size
  int32_t sizeValue;
};
static_assert(sizeof(VirusSignature) == 108, "signature records are 108 bytes");

constexpr size_t kPatternLength = 20;
constexpr int32_t kSizeTolerance = 4096;
constexpr size_t kMaxSignatures = 1;

// The built-in table, ended by a record whose first code1 byte is 0.
extern const VirusSignature kSignatureTable[kMaxSignatures + 1];

// A file opened for reading.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Total length in bytes.
  virtual uint64_t Length() const = 0;
  // Reads up to size bytes at offset; returns how many arrived (0 when the
  // offset cannot be reached).
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

// Byte copies of the headers of the file being examined.
struct PeHeaders {
  static constexpr size_t kFileHeaderSize = 20;
  static constexpr size_t kOptionalHeaderSize = 96;  // only this much is read
  static constexpr size_t kMaxSections = 20;
  static constexpr size_t kSectionSize = 40;
  // The section table is always read here, behind a 224-byte optional header.
  static constexpr uint32_t kSectionTableOffset = 248;

  uint16_t eLfanew = 0;
  uint8_t fileHeader[kFileHeaderSize] = {};
  uint8_t optionalHeader[kOptionalHeaderSize] = {};
  uint8_t sections[kMaxSections * kSectionSize] = {};

  uint16_t NumberOfSections() const;
  uint32_t AddressOfEntryPoint() const;
  uint32_t SizeOfHeaders() const;
  uint32_t VirtualSize(size_t section) const;
  uint32_t VirtualAddress(size_t section) const;
  uint32_t PointerToRawData(size_t section) const;
};

bool ReadPeHeaders(ByteSource& file, PeHeaders& headers);
bool ReadSectionTable(ByteSource& file, PeHeaders& headers);
uint32_t MapRvaToFileOffset(uint32_t rva, const PeHeaders& headers, uint64_t fileLength);
bool SizeRuleAccepts(const VirusSignature& signature, uint64_t fileLength);

// The records of the built-in table that a file carries, in table order.
struct SignatureVerdict {
  const VirusSignature* matches[kMaxSignatures] = {};
  size_t count = 0;
};
SignatureVerdict ExamineFile(ByteSource& file);
