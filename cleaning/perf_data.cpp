#include "cleaning/perf_data.h"

#include <cctype>
#include <cstring>

#include "engine/little_endian.h"
#include "engine/text.h"

namespace {

// A bounded view of the data block: every read says whether it fitted.
class Block {
 public:
  Block(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Fits(uint64_t offset, uint64_t length) const { return length <= size_ && offset <= size_ - length; }
  bool U32(uint64_t offset, uint32_t* value) const {
    if (!Fits(offset, 4)) return false;
    *value = ReadLe32(data_ + offset);
    return true;
  }
  uint16_t U16At(uint64_t offset) const {
    return ReadLe16(data_ + offset);
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

// Offsets of the published performance-data structures.
constexpr uint64_t kBlockHeaderLength = 24;      // PERF_DATA_BLOCK.HeaderLength
constexpr uint64_t kObjectDefinitionLength = 4;  // PERF_OBJECT_TYPE
constexpr uint64_t kObjectHeaderLength = 8;
constexpr uint64_t kObjectNumCounters = 32;
constexpr uint64_t kObjectNumInstances = 40;
constexpr uint64_t kCounterDefinitionSize = 40;  // PERF_COUNTER_DEFINITION
constexpr uint64_t kCounterNameTitleIndex = 4;
constexpr uint64_t kCounterOffset = 36;
constexpr uint64_t kInstanceNameOffset = 16;     // PERF_INSTANCE_DEFINITION
constexpr uint64_t kInstanceNameLength = 20;
constexpr size_t kConvertedNameCapacity = 260;

bool ParseDecimal(const char* text, uint32_t* value) {
  if (*text == '\0') return false;
  uint64_t result = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    result = result * 10 + static_cast<uint64_t>(*text - '0');
    if (result > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<uint32_t>(result);
  return true;
}

}  // namespace

ProcessCounterIndexes FindProcessCounters(const uint8_t* data, size_t size) {
  ProcessCounterIndexes result;
  bool haveProcess = false, haveId = false;
  const char* previous = nullptr;
  size_t previousLength = 0;
  for (size_t start = 0; start < size;) {
    const void* zero = std::memchr(data + start, '\0', size - start);
    const size_t end = zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
    const char* text = reinterpret_cast<const char*>(data + start);
    const size_t length = end - start;
    if (length > 0 && zero != nullptr && previous != nullptr) {
      if (EqualsIgnoringCase(text, "process") && previousLength < sizeof result.processIndex) {
        std::memcpy(result.processIndex, previous, previousLength);
        result.processIndex[previousLength] = '\0';
        haveProcess = true;
      } else if (EqualsIgnoringCase(text, "id process")) {
        uint32_t index = 0;
        if (ParseDecimal(previous, &index)) {
          result.idProcessIndex = index;
          haveId = true;
        }
      }
    }
    // Only terminated strings can serve as the index before a name.
    previous = zero != nullptr ? text : nullptr;
    previousLength = length;
    start = end + 1;
  }
  result.found = haveProcess && haveId;
  return result;
}

TaskList ParseProcessTasks(const uint8_t* data, size_t size, uint32_t idProcessIndex, NameConverter convert) {
  TaskList tasks;
  const Block block(data, size);
  static const uint8_t kSignature[8] = {'P', 0, 'E', 0, 'R', 0, 'F', 0};
  if (size == 0 || !block.Fits(0, sizeof kSignature) || std::memcmp(data, kSignature, sizeof kSignature) != 0) {
    return tasks;
  }
  uint32_t headerLength = 0, objectHeader = 0, objectDefinition = 0, numCounters = 0, numInstances = 0;
  if (!block.U32(kBlockHeaderLength, &headerLength)) return tasks;
  const uint64_t object = headerLength;
  if (!block.U32(object + kObjectHeaderLength, &objectHeader) ||
      !block.U32(object + kObjectDefinitionLength, &objectDefinition) ||
      !block.U32(object + kObjectNumCounters, &numCounters) ||
      !block.U32(object + kObjectNumInstances, &numInstances)) {
    return tasks;
  }

  // The "id process" counter gives where each instance keeps its pid.
  bool haveOffset = false;
  uint32_t counterOffset = 0;
  for (uint64_t i = 0; i < numCounters && !haveOffset; ++i) {
    const uint64_t definition = object + objectHeader + i * kCounterDefinitionSize;
    uint32_t titleIndex = 0;
    if (!block.U32(definition + kCounterNameTitleIndex, &titleIndex)) break;
    if (titleIndex == idProcessIndex) haveOffset = block.U32(definition + kCounterOffset, &counterOffset);
  }
  if (!haveOffset) return tasks;

  // NumInstances is signed: none (or -1, "no instances") reads as zero here.
  const uint64_t instances = static_cast<int32_t>(numInstances) > 0 ? numInstances : 0;
  uint64_t instance = object + objectDefinition;
  for (uint64_t i = 0; i < instances && tasks.count < kMaxTasks; ++i) {
    uint32_t instanceLength = 0, nameOffset = 0, nameLength = 0, counterBlockLength = 0, pid = 0;
    if (!block.U32(instance, &instanceLength) || !block.U32(instance + kInstanceNameOffset, &nameOffset) ||
        !block.U32(instance + kInstanceNameLength, &nameLength)) {
      break;
    }
    const uint64_t counterBlock = instance + instanceLength;
    if (!block.U32(counterBlock, &counterBlockLength) || !block.U32(counterBlock + counterOffset, &pid)) break;
    // A block that does not move on would loop forever.
    if (instanceLength == 0 || counterBlockLength == 0) break;

    TaskEntry& entry = tasks.entries[tasks.count];
    entry.pid = pid == 0 ? kIdleProcessPid : pid;
    entry.name[0] = '\0';
    uint16_t units[kConvertedNameCapacity] = {};
    size_t unitCount = 0;
    const uint64_t name = instance + nameOffset;
    while (unitCount < kConvertedNameCapacity && unitCount * 2 < nameLength && block.Fits(name + unitCount * 2, 2)) {
      const uint16_t unit = block.U16At(name + unitCount * 2);
      if (unit == 0) break;
      units[unitCount++] = unit;
    }
    char converted[kConvertedNameCapacity + 1] = {};
    if (!convert(units, unitCount, converted, sizeof converted - 1)) std::strcpy(converted, "unknown");
    converted[kConvertedNameCapacity] = '\0';
    if (std::strlen(converted) <= kMaxTaskName) std::strcpy(entry.name, converted);
    ++tasks.count;
    instance = counterBlock + counterBlockLength;
  }
  return tasks;
}

bool TaskNameMatches(const char* taskName, const char* baseName) {
  const size_t length = std::strlen(baseName);
  if (length == 0 || std::strlen(taskName) < length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(taskName[i])) != std::tolower(static_cast<unsigned char>(baseName[i]))) {
      return false;
    }
  }
  const char* rest = taskName + length;
  if (*rest == '\0') return true;
  if (*rest != '#' || rest[1] == '\0') return false;
  for (++rest; *rest != '\0'; ++rest) {
    if (*rest < '0' || *rest > '9') return false;
  }
  return true;
}

bool ConvertNameAscii(const uint16_t* units, size_t count, char* dst, size_t capacity) {
  if (count >= capacity) return false;
  for (size_t i = 0; i < count; ++i) dst[i] = units[i] < 0x80 ? static_cast<char>(units[i]) : '?';
  dst[count] = '\0';
  return true;
}

bool ProcessRunsFile(const char* entryProgram, const char* path) {
  if (*entryProgram == '\0' || *path == '\0') return false;
  if (std::strchr(entryProgram, '\\') != nullptr) return EqualsIgnoringCase(entryProgram, path);
  const char* slash = std::strrchr(path, '\\');
  return EqualsIgnoringCase(entryProgram, slash != nullptr ? slash + 1 : path);
}
