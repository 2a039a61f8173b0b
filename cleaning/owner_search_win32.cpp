#include "cleaning/owner_search.h"

#include <windows.h>

#include <cctype>
#include <cstring>

#include "cleaning/system_restart.h"
#include "engine/scan_state.h"
#include "engine/text.h"
#include "win32/handle.h"
#include "win32/process.h"
#include "win32/registry.h"

namespace {

constexpr DWORD kToolhelpPauseMs = 100;
constexpr DWORD kBeforeTerminateMs = 50;
constexpr DWORD kAfterTerminateMs = 500;
constexpr DWORD kCloseWaitMs = 2000;
constexpr DWORD kPerfInitialBytes = 51200;
constexpr DWORD kPerfGrowBytes = 25600;
constexpr DWORD kPerfMaxBytes = 16 * 1024 * 1024;
constexpr size_t kCountersMaxBytes = 4 * 1024 * 1024;

const char* FileNamePart(const char* path) {
  const char* slash = std::strrchr(path, '\\');
  return slash != nullptr ? slash + 1 : path;
}

bool WindowsNameToAnsi(const uint16_t* units, size_t count, char* dst, size_t capacity) {
  if (count == 0) {
    if (capacity > 0) dst[0] = '\0';
    return capacity > 0;
  }
  static_assert(sizeof(wchar_t) == sizeof(uint16_t), "UTF-16 names");
  const int written = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(units), static_cast<int>(count),
                                          dst, static_cast<int>(capacity) - 1, nullptr, nullptr);
  if (written <= 0) return false;
  dst[written] = '\0';
  return true;
}

class SystemPerfDataSource final : public PerfDataSource {
 public:
  bool ReadCounters(std::vector<uint8_t>& data) override {
    // The English counter names, under the language id 009.
    return ReadMachineValueBytes("software\\microsoft\\windows nt\\currentversion\\perflib\\009", "Counters",
                                 kCountersMaxBytes, data);
  }

  bool ReadObject(const char* objectIndex, std::vector<uint8_t>& data) override {
    return ReadPerformanceData(objectIndex, kPerfInitialBytes, kPerfGrowBytes, kPerfMaxBytes, data);
  }
};

// Ends one process that runs the file at path: closes its windows, waits,
// and terminates it when it does not end by itself. A process whose program
// is another file (a name shared with a system program, a reused id), or
// whose program cannot be told, is left alone. True when it ended.
bool EndOwner(DWORD pid, const char* path) {
  if (pid == GetCurrentProcessId()) return false;
  const KernelHandle process =
      OpenProcessHandle(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, pid);
  if (!process) return false;
  char image[kPathCapacity] = {};
  if (!ProcessImagePath(process.Get(), image, sizeof image) || lstrcmpiA(image, path) != 0) return false;
  PostCloseToWindowsOf(pid);
  const DWORD waited = WaitForSingleObject(process.Get(), kCloseWaitMs);
  if (waited == WAIT_TIMEOUT) return TerminateProcess(process.Get(), 0) != FALSE;
  return true;
}

}  // namespace

int TerminateFileOwner(const char* path) {
  switch (GetOsClass()) {
    case kOsWindows9x: return TerminateOwnerToolhelp(path);
    case kOsWindowsNt: return TerminateOwnerPerfData(path, SystemPerfData());
    default: return 1;
  }
}

PerfDataSource& SystemPerfData() {
  static SystemPerfDataSource source;
  return source;
}

int TerminateOwnerToolhelp(const char* path) {
  ToolhelpSnapshot snapshot(kToolhelpPauseMs);
  PROCESSENTRY32 entry;
  bool first = true;
  for (;;) {
    if (!first) Sleep(kToolhelpPauseMs);
    const bool got = snapshot.Next(entry);
    if (!first) Sleep(kToolhelpPauseMs);
    first = false;
    if (!got) return 0;
    if (!ProcessRunsFile(entry.szExeFile, path) || entry.th32ProcessID == GetCurrentProcessId()) continue;
    Sleep(kBeforeTerminateMs);
    const KernelHandle process = OpenProcessHandle(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, entry.th32ProcessID);
    const int result = process && TerminateProcess(process.Get(), 0) ? 1 : 0;
    Sleep(kAfterTerminateMs);
    return result;
  }
}

int TerminateOwnerPerfData(const char* path, PerfDataSource& source) {
  // The base name: the upper-cased path without its last four characters
  // (a dot and the extension), after its last backslash.
  char upper[kPathCapacity] = {};
  if (!CopyText(upper, sizeof upper, path)) return 0;
  const size_t length = std::strlen(upper);
  if (length <= 4) return 0;
  for (size_t i = 0; i < length; ++i) upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
  upper[length - 4] = '\0';
  const char* baseName = FileNamePart(upper);

  std::vector<uint8_t> data;
  if (!source.ReadCounters(data)) return 0;
  const ProcessCounterIndexes indexes = FindProcessCounters(data.data(), data.size());
  if (!indexes.found || !source.ReadObject(indexes.processIndex, data)) return 0;
  const TaskList tasks = ParseProcessTasks(data.data(), data.size(), indexes.idProcessIndex, WindowsNameToAnsi);

  int result = 0;
  for (size_t i = 0; i < tasks.count; ++i) {
    if (!TaskNameMatches(tasks.entries[i].name, baseName)) continue;
    if (EndOwner(tasks.entries[i].pid, path)) result = 1;
    Sleep(kAfterTerminateMs);
  }
  return result;
}
