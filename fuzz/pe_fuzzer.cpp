// Fuzz target: the PE reading and signature verdict over arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "engine/pe_signature.h"
#include "tests/samples/memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource file(data, size);
  const SignatureVerdict verdict = ExamineFile(file);
  if (verdict.count > kMaxSignatures) __builtin_trap();

  // Every RVA the input can name maps without reading outside the headers.
  PeHeaders headers;
  if (ReadPeHeaders(file, headers) && ReadSectionTable(file, headers)) {
    for (size_t i = 0; i + 4 <= size && i < 64; i += 4) {
      const uint32_t rva = static_cast<uint32_t>(data[i] | data[i + 1] << 8 | data[i + 2] << 16) |
                           static_cast<uint32_t>(data[i + 3]) << 24;
      (void)MapRvaToFileOffset(rva, headers, size);
    }
  }
  return 0;
}
