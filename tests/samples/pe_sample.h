// Harmless synthetic PE files for the tests: they carry the signature's two
// code patterns (or near misses) where detection looks for them, and nothing
// else. AddSignatureSection marks a real program the same way while keeping it
// runnable, for tests that need a running "worm".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace samples {

using Bytes = std::vector<uint8_t>;

// Layout of a synthetic image. The patterns sit in the section numbered
// codeSection, at entry point + the signature's offsets; the sections before
// it are small fillers with their own RVA-to-file deltas.
struct SampleOptions {
  bool firstPattern = true;
  bool secondPattern = true;
  int flipFirst = -1;   // index of a byte of the first pattern to alter
  int flipSecond = -1;
  bool mzMark = true;
  uint16_t sectionCount = 1;   // written into the file header and the table
  uint16_t codeSection = 0;    // section holding entry point and patterns
  // The code section's raw pointer lies beyond the end of the file, and the
  // patterns sit at the file offsets equal to their RVAs.
  bool atRawRva = false;
  uint32_t minimumSize = 0;    // zero-pad the file to at least this length
};

// Byte offsets used by SampleOptions images.
constexpr uint16_t kELfanew = 0x80;
constexpr uint32_t kSizeOfHeaders = 0x400;

Bytes BuildSample(const SampleOptions& options = {});

// Where the patterns of a BuildSample image are in the file.
struct PatternPlaces {
  uint32_t first;
  uint32_t second;
};
PatternPlaces PatternFileOffsets(const SampleOptions& options = {});

// A named sample variant, for the tools that write sample sets.
struct NamedSample {
  std::string name;
  Bytes bytes;
  bool matches;  // what detection must say
};
std::vector<NamedSample> StandardVariants();

// Adds a section holding both patterns and an entry stub that jumps to the
// program's real entry point. A PE32+ image gets its optional header cut to
// 224 bytes (14 data directories), which detection requires. Returns false
// and leaves image unchanged when the program has no room for it.
bool AddSignatureSection(Bytes& image);

}  // namespace samples
