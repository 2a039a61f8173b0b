// The verdict of detection over synthetic PE images.
#include "engine/pe_signature.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "tests/samples/memory_source.h"
#include "tests/samples/pe_sample.h"

namespace {

using samples::Bytes;
using samples::BuildSample;
using samples::SampleOptions;

bool Matches(const Bytes& bytes) {
  MemorySource source(bytes);
  return ExamineFile(source).count > 0;
}

TEST(Verdict, StandardVariantsGetTheirExpectedVerdict) {
  for (const samples::NamedSample& sample : samples::StandardVariants()) {
    EXPECT_EQ(Matches(sample.bytes), sample.matches) << sample.name;
  }
}

TEST(Verdict, NamesTheMatchedRecord) {
  const Bytes bytes = BuildSample();
  MemorySource source(bytes);
  const SignatureVerdict verdict = ExamineFile(source);
  ASSERT_EQ(verdict.count, 1u);
  EXPECT_STREQ(verdict.matches[0]->name, "W32/Gibe.F.Worm");
}

TEST(Verdict, EveryByteOfEitherPatternCounts) {
  for (int i = 0; i < static_cast<int>(kPatternLength); ++i) {
    SampleOptions first;
    first.flipFirst = i;
    SampleOptions second;
    second.flipSecond = i;
    EXPECT_FALSE(Matches(BuildSample(first))) << "first pattern, byte " << i;
    EXPECT_FALSE(Matches(BuildSample(second))) << "second pattern, byte " << i;
  }
}

TEST(Verdict, AnyTruncationOfTheHeadersIsSilentlyClean) {
  const Bytes whole = BuildSample();
  for (size_t length = 0; length < samples::kSizeOfHeaders; ++length) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_FALSE(Matches(cut)) << "length " << length;
  }
}

TEST(Verdict, PatternCutByTheEndOfTheFileIsNoMatch) {
  // The first pattern is the last thing in a file that ends inside it.
  SampleOptions options;
  options.atRawRva = true;
  Bytes bytes = BuildSample(options);
  const uint32_t first = samples::PatternFileOffsets(options).first;
  ASSERT_EQ(bytes.size(), first + kPatternLength);
  EXPECT_TRUE(Matches(bytes));
  bytes.resize(bytes.size() - 1);
  EXPECT_FALSE(Matches(bytes));
}

TEST(Verdict, OnlyTheLowWordOfELfanewIsRead) {
  Bytes bytes = BuildSample();
  bytes[0x3E] = 0x01;  // e_lfanew 0x00010080: the header is still found at 0x80
  EXPECT_TRUE(Matches(bytes));
}

TEST(Verdict, SectionTableIsReadAtFixedOffsetWhateverTheOptionalHeaderSize) {
  Bytes bytes = BuildSample();
  // SizeOfOptionalHeader is not consulted.
  bytes[samples::kELfanew + 4 + 16] = 0xF0;
  EXPECT_TRUE(Matches(bytes));
}

TEST(Verdict, SizeOfHeadersStandsForOffsetZero) {
  // Entry point and pattern distance chosen so that the first pattern maps to
  // file offset 0: it is then read at SizeOfHeaders instead.
  SampleOptions options;
  options.firstPattern = false;
  Bytes bytes = BuildSample(options);
  PeHeaders headers;
  MemorySource probe(bytes);
  ASSERT_TRUE(ReadPeHeaders(probe, headers));
  ASSERT_TRUE(ReadSectionTable(probe, headers));
  const uint32_t rvaOfFileStart = headers.VirtualAddress(0) - headers.PointerToRawData(0);
  EXPECT_EQ(MapRvaToFileOffset(rvaOfFileStart, headers, bytes.size()), samples::kSizeOfHeaders);
}

// Headers with the given sections, each {VirtualAddress, VirtualSize, PointerToRawData}.
PeHeaders HeadersWith(std::initializer_list<std::array<uint32_t, 3>> sections, uint32_t sizeOfHeaders = 0x400) {
  PeHeaders h;
  h.fileHeader[2] = static_cast<uint8_t>(sections.size());
  std::memcpy(h.optionalHeader + 60, &sizeOfHeaders, 4);
  size_t i = 0;
  for (const auto& s : sections) {
    std::memcpy(h.sections + i * 40 + 12, &s[0], 4);
    std::memcpy(h.sections + i * 40 + 8, &s[1], 4);
    std::memcpy(h.sections + i * 40 + 20, &s[2], 4);
    ++i;
  }
  return h;
}

TEST(MapRva, FirstSectionEndingAfterTheRvaGivesTheDelta) {
  const PeHeaders h = HeadersWith({{0x1000, 0x1000, 0x400}, {0x2000, 0x1000, 0x1400}});
  EXPECT_EQ(MapRvaToFileOffset(0x1010, h, 0x10000), 0x410u);
  EXPECT_EQ(MapRvaToFileOffset(0x2010, h, 0x10000), 0x1410u);
  // Below the first section: still the first section whose end lies above.
  EXPECT_EQ(MapRvaToFileOffset(0x0F00, h, 0x10000), 0x300u);
}

TEST(MapRva, PastEverySectionUsesTheLastSectionsDelta) {
  const PeHeaders h = HeadersWith({{0x1000, 0x1000, 0x400}, {0x2000, 0x1000, 0x1000}});
  EXPECT_EQ(MapRvaToFileOffset(0x5000, h, 0x10000), 0x4000u);
}

TEST(MapRva, EmptyTableMapsTheRvaToItself) {
  const PeHeaders h = HeadersWith({});
  EXPECT_EQ(MapRvaToFileOffset(0x1234, h, 0x10000), 0x1234u);
  EXPECT_EQ(MapRvaToFileOffset(0, h, 0x10000), 0x400u);
}

TEST(MapRva, OffsetAtOrPastTheEndFallsBackToTheRawRva) {
  const PeHeaders h = HeadersWith({{0x1000, 0x1000, 0x8000}});
  EXPECT_EQ(MapRvaToFileOffset(0x1000, h, 0x8001), 0x8000u);
  EXPECT_EQ(MapRvaToFileOffset(0x1000, h, 0x8000), 0x1000u);
}

TEST(MapRva, ArithmeticWrapsAt32Bits) {
  // An entry point near zero plus a negative distance wraps to a huge RVA.
  const PeHeaders h = HeadersWith({{0x1000, 0x1000, 0x400}});
  const uint32_t rva = 0x100u + static_cast<uint32_t>(-37572);
  EXPECT_EQ(MapRvaToFileOffset(rva, h, 0x10000), rva);
}

TEST(SizeRule, RulesOneToThreeAndUnknownRules) {
  VirusSignature record = kSignatureTable[0];
  record.sizeValue = 106496;
  record.sizeRule = 1;
  EXPECT_TRUE(SizeRuleAccepts(record, 106496));
  EXPECT_FALSE(SizeRuleAccepts(record, 106497));
  record.sizeRule = 2;
  EXPECT_TRUE(SizeRuleAccepts(record, 106496));
  EXPECT_TRUE(SizeRuleAccepts(record, 106496 + 4095));
  EXPECT_TRUE(SizeRuleAccepts(record, 106496 - 4095));
  EXPECT_FALSE(SizeRuleAccepts(record, 106496 + 4096));
  EXPECT_FALSE(SizeRuleAccepts(record, 106496 - 4096));
  record.sizeRule = 3;
  EXPECT_TRUE(SizeRuleAccepts(record, 0));
  EXPECT_TRUE(SizeRuleAccepts(record, uint64_t{5} << 30));
  for (int rule : {0, 4, -1}) {
    record.sizeRule = rule;
    EXPECT_FALSE(SizeRuleAccepts(record, 106496)) << "rule " << rule;
  }
}

TEST(SignatureTable, HoldsOneRecordAndTheTerminator) {
  EXPECT_STREQ(kSignatureTable[0].name, "W32/Gibe.F.Worm");
  EXPECT_EQ(kSignatureTable[0].offset1, -2179);
  EXPECT_EQ(kSignatureTable[0].offset2, -37572);
  EXPECT_EQ(kSignatureTable[0].sizeRule, 3);
  EXPECT_EQ(kSignatureTable[0].code1[20], 0);
  EXPECT_EQ(kSignatureTable[1].code1[0], 0);
}

TEST(AddSignatureSection, MarksACleanProgramAndJumpsToItsEntryPoint) {
  SampleOptions options;
  options.firstPattern = false;
  options.secondPattern = false;
  Bytes program = BuildSample(options);
  ASSERT_FALSE(Matches(program));
  MemorySource before(program);
  PeHeaders original;
  ASSERT_TRUE(ReadPeHeaders(before, original));
  ASSERT_TRUE(ReadSectionTable(before, original));

  ASSERT_TRUE(samples::AddSignatureSection(program));
  EXPECT_TRUE(Matches(program));

  MemorySource after(program);
  PeHeaders marked;
  ASSERT_TRUE(ReadPeHeaders(after, marked));
  ASSERT_TRUE(ReadSectionTable(after, marked));
  ASSERT_EQ(marked.NumberOfSections(), original.NumberOfSections() + 1);
  const uint32_t stub = MapRvaToFileOffset(marked.AddressOfEntryPoint(), marked, program.size());
  ASSERT_EQ(program[stub], 0xE9);
  int32_t rel = 0;
  std::memcpy(&rel, &program[stub + 1], 4);
  EXPECT_EQ(marked.AddressOfEntryPoint() + 5 + static_cast<uint32_t>(rel), original.AddressOfEntryPoint());
}

TEST(AddSignatureSection, RefusesWhatIsNotAProgram) {
  Bytes junk(4096, 0x5A);
  const Bytes copy = junk;
  EXPECT_FALSE(samples::AddSignatureSection(junk));
  EXPECT_EQ(junk, copy);
}

}  // namespace

namespace {

// Counts the reads that reach the file; can also hand out fewer bytes than
// asked for its first read, as a file that shrinks while it is read does.
class CountingSource final : public ByteSource {
 public:
  explicit CountingSource(const Bytes& bytes, size_t firstReadLimit = SIZE_MAX)
      : memory_(bytes), firstReadLimit_(firstReadLimit) {}
  uint64_t Length() const override { return memory_.Length(); }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (reads++ == 0 && size > firstReadLimit_) size = firstReadLimit_;
    return memory_.ReadAt(offset, buffer, size);
  }
  int reads = 0;

 private:
  MemorySource memory_;
  size_t firstReadLimit_;
};

TEST(Reads, HeadersCostOneReadAndEachPatternOutsideTheHeadOneMore) {
  const Bytes text(3000, 'a');
  CountingSource plain(text);
  EXPECT_EQ(ExamineFile(plain).count, 0u);
  EXPECT_EQ(plain.reads, 1);

  SampleOptions padded;
  padded.minimumSize = 64 << 10;
  const Bytes worm = BuildSample(padded);
  CountingSource program(worm);
  EXPECT_EQ(ExamineFile(program).count, 1u);
  EXPECT_LE(program.reads, 3);
}

TEST(Reads, ShortHeadReadFallsBackToTheFileAndKeepsTheVerdict) {
  for (const samples::NamedSample& sample : samples::StandardVariants()) {
    for (size_t limit : {size_t{0}, size_t{2}, size_t{0x40}, size_t{300}}) {
      CountingSource source(sample.bytes, limit);
      EXPECT_EQ(ExamineFile(source).count > 0, sample.matches) << sample.name << " head of " << limit;
    }
  }
}

}  // namespace
