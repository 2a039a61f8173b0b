// Fuzz target: the performance-data "Counters" text and process block, and
// the owner matching of what they yield.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cleaning/perf_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first four bytes choose the "id process" index; the rest is the block.
  uint32_t index = 784;
  if (size >= 4) {
    std::memcpy(&index, data, 4);
    data += 4;
    size -= 4;
  }
  const ProcessCounterIndexes counters = FindProcessCounters(data, size);
  if (counters.found && std::strlen(counters.processIndex) >= sizeof counters.processIndex) __builtin_trap();

  const TaskList tasks = ParseProcessTasks(data, size, index, ConvertNameAscii);
  if (tasks.count > kMaxTasks) __builtin_trap();
  for (size_t i = 0; i < tasks.count; ++i) {
    if (std::strlen(tasks.entries[i].name) > kMaxTaskName) __builtin_trap();
    (void)TaskNameMatches(tasks.entries[i].name, "tcp32");
  }
  return 0;
}
