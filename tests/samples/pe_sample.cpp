#include "tests/samples/pe_sample.h"

#include <algorithm>
#include <cstring>

#include "engine/pe_signature.h"

namespace samples {
namespace {

const VirusSignature& Worm() { return kSignatureTable[0]; }

void Put16(Bytes& b, size_t at, uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t Get32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void PutBytes(Bytes& b, size_t at, const uint8_t* bytes, size_t n) {
  if (b.size() < at + n) b.resize(at + n);
  std::memcpy(b.data() + at, bytes, n);
}
uint32_t AlignUp(uint32_t v, uint32_t a) { return a == 0 ? v : (v + a - 1) / a * a; }

// Synthetic layout: filler sections of one page each from RVA 0x1000, each
// with 0x200 raw bytes; the code section after them.
constexpr uint32_t kFillerVirtualSize = 0x1000;
constexpr uint32_t kFillerRawSize = 0x200;
constexpr uint32_t kCodeVirtualSize = 0xA000;  // holds both pattern distances
constexpr uint32_t kEntryInCode = 0x9800;
constexpr uint32_t kFarRawPointer = 0x00F00000;

uint32_t CodeVirtualAddress(const SampleOptions& o) { return 0x1000 + o.codeSection * kFillerVirtualSize; }
uint32_t CodeRawPointer(const SampleOptions& o) {
  return o.atRawRva ? kFarRawPointer : kSizeOfHeaders + o.codeSection * kFillerRawSize;
}
uint32_t EntryPoint(const SampleOptions& o) { return CodeVirtualAddress(o) + kEntryInCode; }
uint32_t RvaToFile(const SampleOptions& o, uint32_t rva) {
  return o.atRawRva ? rva : rva - CodeVirtualAddress(o) + CodeRawPointer(o);
}

void PutPattern(Bytes& b, uint32_t at, const uint8_t* pattern, int flip) {
  uint8_t bytes[kPatternLength];
  std::memcpy(bytes, pattern, sizeof bytes);
  if (flip >= 0 && flip < static_cast<int>(kPatternLength)) bytes[flip] ^= 0x01;
  PutBytes(b, at, bytes, sizeof bytes);
}

// PE32 headers: machine i386, a 224-byte optional header, no sections yet.
void PutHeaders(Bytes& b, bool mzMark, uint16_t sections, uint32_t entry, uint32_t imageSize) {
  if (mzMark) {
    b[0] = 'M';
    b[1] = 'Z';
  }
  Put32(b, 0x3C, kELfanew);
  const uint8_t pe[4] = {'P', 'E', 0, 0};
  PutBytes(b, kELfanew, pe, 4);
  const size_t fh = kELfanew + 4;
  Put16(b, fh + 0, 0x014C);        // Machine
  Put16(b, fh + 2, sections);      // NumberOfSections
  Put16(b, fh + 16, 224);          // SizeOfOptionalHeader
  Put16(b, fh + 18, 0x0102);       // executable, 32-bit
  const size_t oh = fh + 20;
  Put16(b, oh + 0, 0x010B);        // PE32
  Put32(b, oh + 16, entry);        // AddressOfEntryPoint
  Put32(b, oh + 28, 0x00400000);   // ImageBase
  Put32(b, oh + 32, 0x1000);       // SectionAlignment
  Put32(b, oh + 36, 0x200);        // FileAlignment
  Put16(b, oh + 40, 4);            // OS version 4.0
  Put16(b, oh + 48, 4);            // subsystem version 4.0
  Put32(b, oh + 56, imageSize);    // SizeOfImage
  Put32(b, oh + 60, kSizeOfHeaders);
  Put16(b, oh + 68, 2);            // GUI subsystem
  Put32(b, oh + 92, 16);           // NumberOfRvaAndSizes
}

// One 40-byte section header at file offset at.
void PutSectionHeader(Bytes& b, size_t at, const char* name, uint32_t va, uint32_t vsize,
                      uint32_t raw, uint32_t rawSize, uint32_t characteristics) {
  uint8_t nameBytes[8] = {};
  std::memcpy(nameBytes, name, std::min<size_t>(std::strlen(name), 8));
  PutBytes(b, at, nameBytes, 8);
  Put32(b, at + 8, vsize);
  Put32(b, at + 12, va);
  Put32(b, at + 16, rawSize);
  Put32(b, at + 20, raw);
  Put32(b, at + 36, characteristics);
}

void PutSection(Bytes& b, uint16_t index, const char* name, uint32_t va, uint32_t vsize,
                uint32_t raw, uint32_t rawSize, uint32_t characteristics) {
  PutSectionHeader(b, kELfanew + PeHeaders::kSectionTableOffset + size_t{index} * PeHeaders::kSectionSize,
                   name, va, vsize, raw, rawSize, characteristics);
}

}  // namespace

PatternPlaces PatternFileOffsets(const SampleOptions& o) {
  const uint32_t entry = EntryPoint(o);
  return {RvaToFile(o, entry + static_cast<uint32_t>(Worm().offset1)),
          RvaToFile(o, entry + static_cast<uint32_t>(Worm().offset2))};
}

Bytes BuildSample(const SampleOptions& o) {
  Bytes b(kSizeOfHeaders, 0);
  const uint32_t codeVa = CodeVirtualAddress(o);
  PutHeaders(b, o.mzMark, o.sectionCount, EntryPoint(o), codeVa + kCodeVirtualSize);
  for (uint16_t i = 0; i < o.sectionCount; ++i) {
    if (i < o.codeSection) {
      PutSection(b, i, ".data", 0x1000 + i * kFillerVirtualSize, kFillerVirtualSize,
                 kSizeOfHeaders + i * kFillerRawSize, kFillerRawSize, 0xC0000040);
    } else if (i == o.codeSection) {
      PutSection(b, i, ".text", codeVa, kCodeVirtualSize, CodeRawPointer(o), kCodeVirtualSize,
                 0x60000020);
    } else {  // trailing sections, mapped after the code and never reached
      PutSection(b, i, ".rsrc", codeVa + kCodeVirtualSize + (i - o.codeSection - 1) * kFillerVirtualSize,
                 kFillerVirtualSize, 0, 0, 0x40000040);
    }
  }
  if (!o.atRawRva) b.resize(CodeRawPointer(o) + kCodeVirtualSize, 0);
  const PatternPlaces places = PatternFileOffsets(o);
  if (o.firstPattern) PutPattern(b, places.first, Worm().code1, o.flipFirst);
  if (o.secondPattern) PutPattern(b, places.second, Worm().code2, o.flipSecond);
  if (b.size() < o.minimumSize) b.resize(o.minimumSize, 0);
  return b;
}

std::vector<NamedSample> StandardVariants() {
  std::vector<NamedSample> v;
  auto add = [&v](const char* name, const SampleOptions& o, bool matches) {
    v.push_back({name, BuildSample(o), matches});
  };
  SampleOptions o;
  add("match.exe", o, true);
  o = {}; o.firstPattern = false; add("second-only.exe", o, false);
  o = {}; o.secondPattern = false; add("first-only.exe", o, false);
  o = {}; o.flipFirst = 19; add("first-one-byte-off.exe", o, false);
  o = {}; o.flipSecond = 0; add("second-one-byte-off.exe", o, false);
  o = {}; o.mzMark = false; add("no-mz.exe", o, true);
  o = {}; o.sectionCount = 4; o.codeSection = 2; add("other-section.exe", o, true);
  o = {}; o.sectionCount = 20; o.codeSection = 19; add("twenty-sections.exe", o, true);
  o = {}; o.sectionCount = 21; o.codeSection = 20; add("twenty-one-sections.exe", o, false);
  o = {}; o.atRawRva = true; add("raw-rva-fallback.exe", o, true);
  o = {}; o.minimumSize = 106496 + 50000; add("other-size.exe", o, true);
  Bytes truncated = BuildSample();
  truncated.resize(kELfanew + 4 + 10);
  v.push_back({"truncated-headers.exe", truncated, false});
  Bytes notPe = BuildSample();
  notPe[kELfanew + 1] = 'X';
  v.push_back({"no-pe-mark.exe", notPe, false});
  return v;
}

bool AddSignatureSection(Bytes& image) {
  if (image.size() < 0x40) return false;
  const uint32_t peAt = Get32(image, 0x3C);
  if (peAt > 0xFFFF || image.size() < size_t{peAt} + 24 + 224) return false;
  if (std::memcmp(image.data() + peAt, "PE\0\0", 4) != 0) return false;
  Bytes out = image;
  const size_t fh = peAt + 4;
  const size_t oh = fh + 20;
  const uint16_t magic = Get16(out, oh);
  const uint16_t sections = Get16(out, fh + 2);
  const uint16_t optionalSize = Get16(out, fh + 16);
  size_t table = oh + optionalSize;
  if (magic == 0x020B) {
    // PE32+: drop the two last data directories (CLR and reserved, both
    // empty in a native program) so that the section table sits at +248.
    const size_t dirs = oh + 112;
    if (optionalSize != 240 || Get32(out, oh + 108) != 16) return false;
    for (size_t d = 14; d < 16; ++d) {
      if (Get32(out, dirs + d * 8) != 0 || Get32(out, dirs + d * 8 + 4) != 0) return false;
    }
    Put32(out, oh + 108, 14);
    Put16(out, fh + 16, 224);
    const size_t newTable = oh + 224;
    std::memmove(out.data() + newTable, out.data() + table, size_t{sections} * 40);
    std::memset(out.data() + newTable + size_t{sections} * 40, 0, 16);
    table = newTable;
  } else if (magic != 0x010B || optionalSize != 224) {
    return false;
  }
  if (sections == 0 || sections >= PeHeaders::kMaxSections) return false;
  const uint32_t sizeOfHeaders = Get32(out, oh + 60);
  const size_t newHeader = table + size_t{sections} * 40;
  uint32_t firstRaw = sizeOfHeaders;
  for (uint16_t i = 0; i < sections; ++i) {
    const uint32_t raw = Get32(out, table + i * 40 + 20);
    if (raw != 0) firstRaw = std::min(firstRaw, raw);
  }
  if (newHeader + 40 > std::min(sizeOfHeaders, firstRaw)) return false;

  const uint32_t sectionAlign = Get32(out, oh + 32);
  const uint32_t fileAlign = Get32(out, oh + 36);
  uint32_t end = 0;
  for (uint16_t i = 0; i < sections; ++i) {
    const size_t s = table + i * 40;
    end = std::max(end, Get32(out, s + 12) + std::max(Get32(out, s + 8), Get32(out, s + 16)));
  }
  // Inside the new section: the second pattern, the first, then the stub.
  const uint32_t secondAt = 0x100;
  const uint32_t stubAt = secondAt + static_cast<uint32_t>(-Worm().offset2);
  const uint32_t firstAt = stubAt + static_cast<uint32_t>(Worm().offset1);
  const uint32_t rawSize = AlignUp(stubAt + 16, fileAlign);
  const uint32_t va = AlignUp(end, sectionAlign);
  const uint32_t raw = AlignUp(static_cast<uint32_t>(out.size()), fileAlign);
  const uint32_t originalEntry = Get32(out, oh + 16);
  const uint32_t stubRva = va + stubAt;

  out.resize(raw + rawSize, 0);
  PutBytes(out, raw + secondAt, Worm().code2, kPatternLength);
  PutBytes(out, raw + firstAt, Worm().code1, kPatternLength);
  const uint8_t jmp = 0xE9;  // jmp rel32 to the real entry point (x86 and x64 alike)
  PutBytes(out, raw + stubAt, &jmp, 1);
  Put32(out, raw + stubAt + 1, originalEntry - (stubRva + 5));

  std::memset(out.data() + newHeader, 0, 40);
  PutSectionHeader(out, newHeader, ".sample", va, rawSize, raw, rawSize, 0x60000020);
  Put16(out, fh + 2, static_cast<uint16_t>(sections + 1));
  Put32(out, oh + 16, stubRva);
  Put32(out, oh + 56, AlignUp(va + rawSize, sectionAlign));
  image.swap(out);
  return true;
}

}  // namespace samples
