// Fuzz target: a machine's record as scourix-fleet reads it from a shared
// folder anyone may write to. Whatever is read must write back to a record
// that reads the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "record/record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ScanRecord record;
  std::string error;
  if (!ParseRecordJson(text, record, error)) return 0;
  const std::string written = RecordJson(record);
  ScanRecord again;
  if (!ParseRecordJson(written, again, error) || RecordJson(again) != written) __builtin_trap();
  return 0;
}
