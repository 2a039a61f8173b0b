// The performance data of the NT family, as far as the owner search needs
// it: the index of the "process" object and of its "id process" counter
// from the "Counters" text, and the task list (name and process id of each
// process instance) from the raw data block. Portable and bounded: every
// offset is checked against the block, and a block that does not hold
// together yields what was read before the fault.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kMaxTasks = 254;
constexpr size_t kMaxTaskName = 16;
constexpr uint32_t kIdleProcessPid = 0xFFFFFFFE;  // pid 0 as stored

struct TaskEntry {
  uint32_t pid;
  char name[kMaxTaskName + 1];  // empty when the instance's name was longer
};

struct TaskList {
  TaskEntry entries[kMaxTasks];
  size_t count = 0;
};

struct ProcessCounterIndexes {
  char processIndex[16] = {};  // text, as the performance-data query wants it
  uint32_t idProcessIndex = 0;
  bool found = false;          // both names were present
};

// Walks the "Counters" multi-string (pairs: index in decimal, then name).
// Later pairs replace earlier ones.
ProcessCounterIndexes FindProcessCounters(const uint8_t* data, size_t size);

// Converts a UTF-16LE name (units, count) into dst (capacity bytes, ANSI).
// Returns false when it cannot.
using NameConverter = bool (*)(const uint16_t* units, size_t count, char* dst, size_t capacity);

// Builds the task list from a PERF_DATA_BLOCK holding the process object.
TaskList ParseProcessTasks(const uint8_t* data, size_t size, uint32_t idProcessIndex, NameConverter convert);

// Whether a task of this name may be the process of a file with this base
// name (the file name without its extension): equal without regard to case,
// optionally followed by '#' and digits (a second instance). An empty base
// name matches nothing.
bool TaskNameMatches(const char* taskName, const char* baseName);

// Whether a process list entry's program (a full path on Windows 9x, only
// a file name elsewhere) may be the file at path: full paths must be equal,
// file names must be equal; both without regard to case.
bool ProcessRunsFile(const char* entryProgram, const char* path);

// A converter for the native tools and tests: ASCII kept, other units '?'.
bool ConvertNameAscii(const uint16_t* units, size_t count, char* dst, size_t capacity);
