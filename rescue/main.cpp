// scourix-rescue [--report-only] [--log FILE] MOUNTPOINT
//
// Cleans a Windows system volume mounted on Linux: the Windows program's
// scan of the same folder trees, and its registry repair on the volume's
// hive files. Exit status: 0 nothing found, 1 the worm was found and all of
// it removed (with --report-only: found), 2 something could not be removed
// or the scan was interrupted, 3 usage or volume errors (nothing changed).
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "engine/report.h"
#include "engine/result_log.h"
#include "engine/scan_state.h"
#include "posix/append_file.h"
#include "rescue/console.h"
#include "rescue/hive_registry.h"
#include "rescue/offline_scan.h"
#include "rescue/volume.h"

namespace {

constexpr int kNothingFound = 0;
constexpr int kRemoved = 1;
constexpr int kNotAllRemoved = 2;
constexpr int kUsageOrVolume = 3;

struct Options {
  bool reportOnly = false;
  const char* log = nullptr;
  std::string mountPoint;
};

int Usage(const char* problem) {
  std::fprintf(stderr, "scourix-rescue: %s\nusage: scourix-rescue [--report-only] [--log FILE] MOUNTPOINT\n", problem);
  return kUsageOrVolume;
}

int VolumeError(const std::string& problem) {
  std::fprintf(stderr, "scourix-rescue: %s; nothing was changed\n", problem.c_str());
  return kUsageOrVolume;
}

bool ParseArguments(int argc, char** argv, Options& options, const char*& problem) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--report-only") {
      options.reportOnly = true;
    } else if (arg == "--log") {
      if (++i == argc) return (problem = "--log needs a file name"), false;
      options.log = argv[i];
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      return (problem = "unknown option"), false;
    } else {
      if (arg == "--" && ++i == argc) break;
      if (!options.mountPoint.empty() || i + 1 < argc) return (problem = "one mount point, please"), false;
      options.mountPoint = argv[i];
    }
  }
  if (options.mountPoint.empty()) return (problem = "no mount point given"), false;
  while (options.mountPoint.size() > 1 && options.mountPoint.back() == '/') options.mountPoint.pop_back();
  return true;
}

// Changes need a volume mounted read-write that this user may write.
bool CheckWritable(const std::string& mountPoint, std::string& problem) {
  struct statvfs fs {};
  if (statvfs(mountPoint.c_str(), &fs) != 0) {
    problem = mountPoint + ": " + std::strerror(errno);
    return false;
  }
  if ((fs.f_flag & ST_RDONLY) != 0 || access(mountPoint.c_str(), W_OK) != 0) {
    problem = mountPoint + " is not writable (mount it read-write, or use --report-only)";
    return false;
  }
  return true;
}

// Every hive is opened before anything is changed: one that cannot be read
// stops the run while the volume is still untouched.
bool OpenHives(const WindowsVolume& volume, std::vector<std::unique_ptr<Hive>>& hives, HiveRegistry& registry,
               std::string& problem) {
  const auto mount = [&](RegistryRoot root, const std::string& name, const std::string& path) {
    if (path.empty()) return true;
    std::string reason;
    std::unique_ptr<Hive> hive = Hive::Open(path, reason);
    if (!hive) {
      problem = "the registry hive " + path + " " + reason;
      return false;
    }
    registry.Mount(root, name, hive.get());
    hives.push_back(std::move(hive));
    return true;
  };
  if (!mount(RegistryRoot::LocalMachine, "Software", volume.softwareHive) ||
      !mount(RegistryRoot::LocalMachine, "System", volume.systemHive) ||
      !mount(RegistryRoot::Users, ".DEFAULT", volume.defaultHive)) {
    return false;
  }
  for (const ProfileHive& profile : volume.profiles) {
    if (!mount(RegistryRoot::Users, profile.name, profile.host)) return false;
  }
  return true;
}

LogTime Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

Console* resultConsole = nullptr;

int TerminalWidth() {
  winsize size {};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

}  // namespace

// The console stands in for the progress window: result lines and the final
// status are printed as lines.
void NotifyProgressWindow(unsigned message) {
  if (resultConsole == nullptr) return;
  resultConsole->Line(message == AppendLineMessage ? scanState.lineBuffer : scanState.currentObject);
}

int main(int argc, char** argv) {
  Options options;
  const char* problem = nullptr;
  if (!ParseArguments(argc, argv, options, problem)) return Usage(problem);

  struct stat st {};
  if (stat(options.mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return VolumeError(options.mountPoint + " is not a folder");
  }
  std::string error;
  if (!options.reportOnly && !CheckWritable(options.mountPoint, error)) return VolumeError(error);
  WindowsVolume volume;
  if (!DiscoverVolume(options.mountPoint, volume, error)) return VolumeError(options.mountPoint + ": " + error);
  std::vector<std::unique_ptr<Hive>> hives;
  HiveRegistry registry;
  if (volume.registry == RegistryKind::Nt && !OpenHives(volume, hives, registry, error)) return VolumeError(error);
  PosixAppendFile logFile;
  if (options.log != nullptr && !logFile.Open(options.log)) {
    return VolumeError(std::string("cannot write the log ") + options.log + ": " + std::strerror(errno));
  }
  if (!CancelScanOnInterrupt()) return VolumeError("cannot arrange for Ctrl-C to end the scan");

  Console console(stdout, isatty(STDOUT_FILENO) != 0, TerminalWidth());
  resultConsole = &console;
  // Nothing runs offline: there is no memory scan.
  scanState.progressWindow = reinterpret_cast<WindowHandle>(&console);
  scanState.memoryScanActive = 0;
  resultLog.Open(options.log != nullptr ? &logFile : nullptr, scanState.productTitle, Now());

  OfflineScan scan;
  scan.reportOnly = options.reportOnly;
  scan.console = &console;
  if (volume.registry == RegistryKind::Nt) {
    scan.registry = &registry;
  } else if (volume.registry == RegistryKind::Windows9x) {
    AppendResultLine("System Registry     not repaired: a Windows 95/98/Me registry cannot be repaired offline");
  } else {
    AppendResultLine("System Registry     not repaired: no registry hives in %s\\System32\\config",
                     volume.windowsDirectory.windows.c_str());
  }

  for (const VolumePath& target : volume.scanTargets) WalkOfflineTree(target, scan);
  RemoveWormServices(scan, volume.windowsDirectory.windows);
  // Changes whose writing failed during the scan get one more try.
  if (!options.reportOnly && registry.AnyChanged() && !registry.CommitChanged(error)) {
    std::fprintf(stderr, "scourix-rescue: %s\n", error.c_str());
    scan.failed = true;
  }

  console.ClearProgress();
  ReportStatistics();
  ReportFinalStatus();
  resultLog.Close();
  if (scan.failed || scanState.scanCancelled) return kNotAllRemoved;
  return scanState.filesInfected > 0 ? kRemoved : kNothingFound;
}
