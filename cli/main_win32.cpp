// scourix-cli: the scan of Scourix.exe without a window or a question, for
// administrators who run it on many computers (a startup script, PsExec,
// SCCM). Result lines go to standard output, the results log as ever.
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cleaning/profile_hives.h"
#include "cleaning/services.h"
#include "cleaning/system_restart.h"
#include "cli/options.h"
#include "engine/console.h"
#include "engine/remedy.h"
#include "engine/result_lines.h"
#include "engine/scan_driver.h"
#include "engine/scan_outcome.h"
#include "engine/scan_state.h"
#include "generated/version.h"
#include "record/record.h"
#include "win32/file.h"
#include "win32/handle.h"
#include "win32/registry.h"
#include "win32/unicode.h"

namespace {

constexpr char kInstanceMutex[] = "Scourix.Unattended.Instance";
constexpr char kGuardClass[] = "ScourixUnattendedGuard";

// Prints nothing: with /quiet the engine still needs a receiver, or the
// lines it sends only with a progress window would be missing from the log.
class QuietReceiver final : public ProgressReceiver {
 public:
  void ShowObject(const char*) override {}
  void AppendLine(const char*) override {}
};

std::string LocalTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  return text;
}

// Where both Windows families keep the computer's name, in UTF-8; empty
// when it is not there.
std::string ComputerName() {
  std::string name;
  ReadMachineText("System\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName", 1024, name);
  return name;
}

std::string WindowsVersion() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return std::string();
  char text[200];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu %s", version.dwMajorVersion, version.dwMinorVersion,
                version.dwBuildNumber & 0xFFFF, version.szCSDVersion);
  std::string result = text;
  while (!result.empty() && result.back() == ' ') result.pop_back();
  return result;
}

// DIR\<name>.json (the computer's name, or what RecordFileStem makes of
// one it cannot use), written beside and then put in place: a reader
// never sees half a record, and each computer writes its own file.
bool WriteRecord(const std::string& folder, const std::string& name, ScanRecord record,
                 const std::vector<std::string>& lines) {
  for (const std::string& line : lines) record.lines.push_back(Utf8FromAnsi(line));
  const std::string stem = folder + (folder.back() == '\\' ? "" : "\\") + name;
  return ReplaceFileContents((stem + ".json").c_str(), stem, RecordJson(record));
}

// Ctrl+C or Ctrl+Break ends the scan at the next file, as Cancel does.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  scanState.scanCancelled = 1;
  return TRUE;
}

// A hidden window titled like Scourix.exe's: its own guard then refuses to
// start while this program runs, as this one refuses while it runs.
HWND MakeGuardWindow() {
  WNDCLASSA type{};
  type.lpfnWndProc = DefWindowProcA;
  type.hInstance = GetModuleHandleA(nullptr);
  type.lpszClassName = kGuardClass;
  if (RegisterClassA(&type) == 0) return nullptr;
  return CreateWindowExA(0, kGuardClass, scanState.caption, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                         type.hInstance, nullptr);
}

// %COMPUTERNAME% and the like, for a log path given in a deployment tool's
// parameters, where no shell expands them.
std::string Expanded(const std::string& path) {
  char expanded[MAX_PATH * 4];
  const DWORD length = ExpandEnvironmentStringsA(path.c_str(), expanded, sizeof expanded);
  return length > 0 && length <= sizeof expanded ? std::string(expanded) : path;
}

}  // namespace

int main(int argc, char** argv) {
  CliOptions options;
  std::string problem;
  if (!ParseCliOptions(argc, argv, options, problem)) {
    std::fprintf(stderr, "scourix-cli: %s\n%s", problem.c_str(), kCliUsageText);
    return kExitUsage;
  }
  if (options.usage) {
    std::fputs(kCliUsageText, stdout);
    return kExitNothingFound;
  }

  // Variables are expanded here, where no shell does it: what they hold must
  // not lead out of the folder the option names.
  const std::string log = options.log.empty() ? std::string() : Expanded(options.log);
  const std::string records = options.record.empty() ? std::string() : Expanded(options.record);
  for (const auto& path : {std::make_pair(&options.log, &log), std::make_pair(&options.record, &records)}) {
    if (AddsParentSteps(*path.first, *path.second)) {
      std::fprintf(stderr, "scourix-cli: %s expands to %s, which climbs out of its folder with \"..\"; nothing was changed\n",
                   path.first->c_str(), path.second->c_str());
      return kExitUsage;
    }
  }

  // One Scourix at a time, of either program.
  const KernelHandle instance(CreateMutexA(nullptr, TRUE, kInstanceMutex));
  if (!instance || GetLastError() == ERROR_ALREADY_EXISTS || FindWindowA(nullptr, scanState.caption) != nullptr) {
    std::fprintf(stderr, "scourix-cli: another Scourix is running; nothing was changed\n");
    return kExitUsage;
  }
  const HWND guard = MakeGuardWindow();
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  // Started in a process group of its own (as some deployment tools start
  // programs), Ctrl+C would be ignored: take it again, into the handler.
  SetConsoleCtrlHandler(nullptr, FALSE);

  Console console(stdout, false, 80, ConsoleText::CodePage);
  QuietReceiver quiet;
  LineKeeper keeper(options.quiet ? static_cast<ProgressReceiver&>(quiet) : console);
  AttachProgressReceiver(&keeper);
  ScanRecord record;
  // A machine without a name still gets a record of its own.
  const std::string computer = ComputerName();
  record.computer = computer.empty() ? "unknown" : computer;
  record.windows = WindowsVersion();
  record.program = "Scourix " SCOURIX_VERSION;
  record.started = LocalTime();
  record.reportOnly = options.report;
  scanState.reportOnly = options.report ? 1 : 0;
  // Windows 95/98/Me keeps no hive per profile for it to load.
  scanState.repairProfileHives = GetOsClass() == kOsWindowsNt ? 1 : 0;
  const bool logged = RunScanWithoutQuestions(log.empty() ? nullptr : log.c_str());
  if (!options.quiet) console.Finish();
  if (!logged) std::fprintf(stderr, "scourix-cli: cannot write the log %s\n", log.c_str());

  int status = CliExitStatus(options.report, scanState.scanCancelled != 0, scanState.filesInfected,
                             scanState.filesDeleted, scanOutcome.Count(FileFate::Queued));
  if ((!logged || scanOutcome.profileHivesFailed > 0) && status != kExitRestartNeeded) status = kExitNotAllRemoved;
  if (!options.record.empty()) {
    // Written before any restart, which may end this program at once: a
    // machine restarted by /restart shows 3010 (restart pending) here, true
    // until the restart has removed the queued files.
    record.ended = LocalTime();
    record.exitStatus = status;
    TakeScanResults(record, scanOutcome, scanState.filesScanned, scanState.filesInfected, scanState.filesDeleted);
    keeper.lines.push_back(scanState.currentObject);  // the final status
    if (!WriteRecord(records, RecordFileStem(computer), record, keeper.lines)) {
      std::fprintf(stderr, "scourix-cli: cannot write the record in %s\n", options.record.c_str());
      if (status != kExitRestartNeeded) status = kExitNotAllRemoved;
    }
  }
  std::fflush(stdout);
  if (guard != nullptr) DestroyWindow(guard);
  if (status == kExitRestartNeeded && options.restart && RestartWindows()) status = kExitRemoved;
  return status;
}
