#include "tests/samples/perf_block.h"

namespace samples {
namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void AppendText(std::vector<uint8_t>& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}

}  // namespace

std::vector<uint8_t> PerfCounters() {
  std::vector<uint8_t> b;
  for (const auto& pair : std::vector<std::pair<std::string, std::string>>{
           {"1", "1847"}, {"2", "System"}, {"6", "% Processor Time"}, {"230", "Process"},
           {"232", "Thread"}, {"784", "ID Process"}, {"786", "Job Object"}}) {
    AppendText(b, pair.first);
    AppendText(b, pair.second);
  }
  b.push_back(0);
  return b;
}

std::vector<uint8_t> PerfProcessBlock(const std::vector<PerfTask>& tasks) {
  constexpr uint32_t kBlockHeader = 88;       // PERF_DATA_BLOCK
  constexpr uint32_t kObjectHeader = 64;      // PERF_OBJECT_TYPE
  constexpr uint32_t kCounterDefinition = 40; // PERF_COUNTER_DEFINITION
  constexpr uint32_t kInstanceHeader = 24;    // PERF_INSTANCE_DEFINITION
  constexpr uint32_t kCounterBlock = 16;      // ByteLength, % processor time (8), id process

  std::vector<uint8_t> b(kBlockHeader, 0);
  const char16_t signature[4] = {u'P', u'E', u'R', u'F'};
  for (int i = 0; i < 4; ++i) {
    b[i * 2] = static_cast<uint8_t>(signature[i]);
    b[i * 2 + 1] = 0;
  }
  Put32(b, 8, 1);               // LittleEndian
  Put32(b, 12, 1);              // Version
  Put32(b, 24, kBlockHeader);   // HeaderLength
  Put32(b, 28, 1);              // NumObjectTypes

  const uint32_t object = kBlockHeader;
  const uint32_t definitionLength = kObjectHeader + 2 * kCounterDefinition;
  Put32(b, object + 4, definitionLength);        // DefinitionLength
  Put32(b, object + 8, kObjectHeader);           // HeaderLength
  Put32(b, object + 12, kProcessIndex);          // ObjectNameTitleIndex
  Put32(b, object + 32, 2);                      // NumCounters
  Put32(b, object + 40, static_cast<uint32_t>(tasks.size()));  // NumInstances
  const uint32_t counters = object + kObjectHeader;
  Put32(b, counters + 0, kCounterDefinition);
  Put32(b, counters + 4, 6);                     // % processor time
  Put32(b, counters + 32, 8);                    // CounterSize
  Put32(b, counters + 36, 4);                    // CounterOffset
  Put32(b, counters + 40 + 0, kCounterDefinition);
  Put32(b, counters + 40 + 4, kIdProcessIndex);  // id process
  Put32(b, counters + 40 + 32, 4);
  Put32(b, counters + 40 + 36, 12);

  uint32_t at = object + definitionLength;
  for (const PerfTask& task : tasks) {
    const uint32_t nameBytes = static_cast<uint32_t>((task.name.size() + 1) * 2);
    const uint32_t instanceLength = (kInstanceHeader + nameBytes + 7) / 8 * 8;
    Put32(b, at + 0, instanceLength);
    Put32(b, at + 16, kInstanceHeader);  // NameOffset
    Put32(b, at + 20, nameBytes);        // NameLength
    b.resize(at + instanceLength, 0);
    for (size_t i = 0; i < task.name.size(); ++i) {
      b[at + kInstanceHeader + i * 2] = static_cast<uint8_t>(task.name[i]);
      b[at + kInstanceHeader + i * 2 + 1] = static_cast<uint8_t>(task.name[i] >> 8);
    }
    const uint32_t block = at + instanceLength;
    Put32(b, block + 0, kCounterBlock);
    Put32(b, block + 12, task.pid);
    at = block + kCounterBlock;
  }
  b.resize(at, 0);
  Put32(b, 20, at);              // TotalByteLength
  Put32(b, object + 0, at - object);  // object TotalByteLength
  return b;
}

}  // namespace samples
