#include "cleaning/memory_scan.h"

#include <windows.h>

#include <string>
#include <vector>

#include "cleaning/perf_data.h"
#include "cleaning/service_path.h"
#include "cleaning/services.h"
#include "cleaning/system_restart.h"
#include "engine/remedy.h"
#include "engine/result_lines.h"
#include "engine/scan_state.h"
#include "engine/walker.h"
#include "win32/file.h"
#include "win32/process.h"

namespace {

constexpr DWORD kTerminateAccess = PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION;
constexpr DWORD kExitWaitMs = 5000;

struct ProcessNode {
  DWORD pid;
  std::string path;
};

// Hands the process's program file to the walker; true when it is the worm
// (the walker's check left the match pending), with the remedy decided.
bool IsWormProcess(const ProcessNode& process) {
  if (!ReadOnlyFile(process.path.c_str()).Ok()) return false;  // cannot be read: not checked
  WalkDirectory(process.path.c_str());
  if (!scanState.memoryMatchPending) return false;
  DecideRemedy(kVirusName, process.path.c_str());
  return true;
}

// The walker again, now carrying out the decided action on the file.
void RemoveFile(const ProcessNode& process) {
  scanState.memoryRemedyAction = scanState.currentAction;
  WalkDirectory(process.path.c_str());
  scanState.memoryRemedyAction = kRemedyNone;
}

// Opens the listed process for ending it. Ids are reused: where psapi can
// tell (NT family), an id that now runs another program is not opened.
KernelHandle OpenListedProcess(const ProcessNode& node) {
  KernelHandle process = OpenProcessHandle(kTerminateAccess | PROCESS_VM_READ | SYNCHRONIZE, node.pid);
  if (!process) process = OpenProcessHandle(kTerminateAccess, node.pid);  // Windows 9x knows fewer rights
  char image[kPathCapacity] = {};
  if (process && ProcessImagePath(process.Get(), image, sizeof image) && !ProcessRunsFile(node.path.c_str(), image)) {
    return KernelHandle();
  }
  return process;
}

// Ends the process; true only when it was still running and ended now.
// Waits (bounded) for the end, so that its file is free for the removal.
bool TerminateListed(const ProcessNode& node, bool* opened) {
  const KernelHandle process = OpenListedProcess(node);
  if (opened != nullptr) *opened = process.Valid();
  if (!process) return false;
  // Windows refuses to terminate a process that has already ended (Wine
  // pretends to succeed): such a process was not ended by this call.
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.Get(), &exitCode) && exitCode != STILL_ACTIVE) return false;
  if (!TerminateProcess(process.Get(), 0)) return false;
  WaitForSingleObject(process.Get(), kExitWaitMs);
  return true;
}

// Report only: the running copy and its file are named; nothing is ended.
bool ReportOnly(const ProcessNode& process) {
  if (!scanState.reportOnly) return false;
  ReportMemoryFound(kVirusName);
  ReportFoundOnly(scanState.currentVirusName, process.path.c_str());
  return true;
}

}  // namespace

int GetNtVersionClass() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return 0;
  if (version.dwMajorVersion <= 4) return kNtVersionUpTo4;
  return version.dwMajorVersion == 5 ? kNtVersion5 : 0;
}

void ScanMemory() {
  scanState.osClass = GetOsClass();
  scanState.memoryScanActive = 1;
  if (scanState.osClass == kOsWindows9x) {
    ScanMemoryToolhelp();
  } else if (scanState.osClass == kOsWindowsNt) {
    ScanMemoryPsapi();
  }
  scanState.memoryScanActive = 0;
  // The scan always goes on to the folders: a worm process that survived
  // here keeps its file, which the file scan meets and queues for removal
  // at the next start.
}

void ScanMemoryToolhelp() {
  std::vector<ProcessNode> processes;
  {
    ToolhelpSnapshot snapshot;
    PROCESSENTRY32 entry;
    while (snapshot.Next(entry)) processes.push_back({entry.th32ProcessID, entry.szExeFile});
  }
  for (const ProcessNode& process : processes) {
    if (!IsWormProcess(process) || ReportOnly(process)) continue;
    TerminateListed(process, nullptr);
    RemoveFile(process);  // whether or not it ended
  }
}

void ScanMemoryPsapi() {
  std::vector<ProcessNode> processes;
  for (const ProcessEntry& entry : ListProcessesPsapi()) processes.push_back({entry.pid, entry.path});
  for (const ProcessNode& process : processes) {
    if (!IsWormProcess(process) || ReportOnly(process)) continue;
    const bool endedFirst = TerminateListed(process, nullptr);
    bool openedSecond = false;
    if (TerminateListed(process, &openedSecond)) {
      RemoveFile(process);
      continue;
    }
    const int ntClass = GetNtVersionClass();
    if (ntClass == kNtVersionUpTo4 || ntClass == kNtVersion5) {
      // The worm may run as a service that restarts it: stop and delete that.
      char serviceName[kPathCapacity] = {};
      ServiceNameOfFile(process.path.c_str(), serviceName, sizeof serviceName);
      if (StopServicesByImagePath(process.path.c_str()) > 0) {
        DeleteServiceByName(serviceName, false, process.path.c_str());
        RemoveFile(process);
        continue;
      }
      DeleteServiceByName(serviceName, !openedSecond, process.path.c_str());
      scanState.memoryRestartNeeded = 1;
    }
    if (endedFirst) RemoveFile(process);  // otherwise the file scan meets it
  }
}
