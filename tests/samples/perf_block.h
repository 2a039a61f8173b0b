// Performance-data blocks built to the published layout (winperf.h), for the
// tests of the owner search: a "Counters" multi-string and a process object
// with one instance per task.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace samples {

struct PerfTask {
  std::u16string name;
  uint32_t pid;
};

// "Counters": index/name pairs, "process" = 230, "id process" = 784, among
// others, ended by an empty string.
std::vector<uint8_t> PerfCounters();
constexpr uint32_t kProcessIndex = 230;
constexpr uint32_t kIdProcessIndex = 784;

// A PERF_DATA_BLOCK with the process object: counters "% processor time"
// (index 6) then "id process", and an instance per task.
std::vector<uint8_t> PerfProcessBlock(const std::vector<PerfTask>& tasks);

}  // namespace samples
