// scourix-cli: the scan of Scourix.exe without a window or a question, for
// administrators who run it on many computers (a startup script, PsExec,
// SCCM). Result lines go to standard output, the results log as ever.
#include <windows.h>

#include <cstdio>
#include <string>

#include "cleaning/system_restart.h"
#include "cli/options.h"
#include "engine/console.h"
#include "engine/remedy.h"
#include "engine/scan_driver.h"
#include "engine/scan_state.h"
#include "win32/handle.h"

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
    return kCliUsage;
  }
  if (options.usage) {
    std::fputs(kCliUsageText, stdout);
    return kCliNothingFound;
  }

  // One Scourix at a time, of either program.
  const KernelHandle instance(CreateMutexA(nullptr, TRUE, kInstanceMutex));
  if (!instance || GetLastError() == ERROR_ALREADY_EXISTS || FindWindowA(nullptr, scanState.caption) != nullptr) {
    std::fprintf(stderr, "scourix-cli: another Scourix is running; nothing was changed\n");
    return kCliUsage;
  }
  const HWND guard = MakeGuardWindow();
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);

  Console console(stdout, false, 80);
  QuietReceiver quiet;
  if (options.quiet) {
    AttachProgressReceiver(&quiet);
  } else {
    AttachProgressReceiver(&console);
  }
  const std::string log = options.log.empty() ? std::string() : Expanded(options.log);
  const bool logged = RunScanWithoutQuestions(log.empty() ? nullptr : log.c_str());
  if (!options.quiet) console.Finish();
  if (!logged) std::fprintf(stderr, "scourix-cli: cannot write the log %s\n", log.c_str());
  std::fflush(stdout);

  int status = CliExitStatus(scanState.scanCancelled != 0, scanState.filesInfected, scanState.filesDeleted,
                             FilesQueuedForRestart());
  if (!logged && status != kCliRestartNeeded) status = kCliNotAllRemoved;
  if (guard != nullptr) DestroyWindow(guard);
  if (scanState.restartNeeded != 0 && options.restart) RestartWindows();
  return status;
}
