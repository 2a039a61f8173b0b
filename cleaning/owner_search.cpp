#include "cleaning/owner_search.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "cleaning/system_restart.h"
#include "engine/scan_state.h"
#include "engine/text.h"
#include "win32/handle.h"
#include "win32/process.h"

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
    char keyName[128];
    std::snprintf(keyName, sizeof keyName, "%s\\%03x", "software\\microsoft\\windows nt\\currentversion\\perflib", 9);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    bool ok = RegQueryValueExA(key, "Counters", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
              size > 0 && size <= kCountersMaxBytes;
    if (ok) {
      data.assign(size, 0);
      ok = RegQueryValueExA(key, "Counters", nullptr, nullptr, data.data(), &size) == ERROR_SUCCESS;
      data.resize(ok ? size : 0);
    }
    RegCloseKey(key);
    return ok;
  }

  bool ReadObject(const char* objectIndex, std::vector<uint8_t>& data) override {
    DWORD capacity = kPerfInitialBytes;
    LONG status = ERROR_MORE_DATA;
    while (status == ERROR_MORE_DATA && capacity <= kPerfMaxBytes) {
      data.assign(capacity, 0);
      DWORD size = capacity;
      status = RegQueryValueExA(HKEY_PERFORMANCE_DATA, objectIndex, nullptr, nullptr, data.data(), &size);
      if (status == ERROR_SUCCESS) data.resize(size);
      capacity += kPerfGrowBytes;
    }
    RegCloseKey(HKEY_PERFORMANCE_DATA);
    return status == ERROR_SUCCESS;
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
