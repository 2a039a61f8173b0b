// scourix-rescue [--report-only] [--log FILE] [--backup DIR] [--record FILE]
//                [--jobs N] [--readers N] [--if-windows] [--all] TARGET...
// scourix-rescue --undo BACKUPDIR [--force] TARGET
//
// Cleans a Windows system volume mounted on Linux: the Windows program's
// scan of the same folder trees, and its registry repair on the volume's
// hive files, with a backup of everything it changes. Several targets are
// cleaned by runs of their own, in parallel. Exit status: 0
// nothing found, 1 the worm was found and all of it removed (with
// --report-only: found), 2 something could not be removed, the scan was
// interrupted or failed, 3 usage or volume errors (nothing changed).
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "engine/console.h"
#include "engine/files_posix.h"
#include "engine/report.h"
#include "engine/result_log.h"
#include "engine/scan_outcome.h"
#include "engine/scan_state.h"
#include "engine/scan_targets.h"
#include "generated/version.h"
#include "posix/unique_fd.h"
#include "record/exit_status.h"
#include "rescue/disks/appliance.h"
#include "rescue/disks/machine_disks.h"
#include "rescue/options.h"
#include "rescue/parallel_runs.h"
#include "rescue/volume/folder_listing.h"
#include "rescue/volume/hive_registry.h"
#include "rescue/volume/identity.h"
#include "rescue/volume/offline_scan.h"
#include "rescue/volume/undo.h"
#include "rescue/volume/volume.h"

namespace {


// The command line, and the one target this run cleans.
struct Options : RescueOptions {
  std::string mountPoint;
};

// What the record of the run (--record) is made of, gathered as it goes.
struct RunRecord {
  ScanRecord fields;
  std::vector<std::string> problems;  // why the run stopped early
};
RunRecord runRecord;

int Usage(const char* problem) {
  std::fprintf(stderr,
               "scourix-rescue: %s\n"
               "usage: scourix-rescue [--report-only] [--log FILE] [--backup DIR] [--record FILE|DIR] [--jobs N]\n"
               "                      [--readers N] [--if-windows] TARGET...\n"
               "       scourix-rescue [options] --all [TARGET...]\n"
               "       scourix-rescue --undo BACKUPDIR [--force] TARGET\n"
               "       scourix-rescue --list-volumes\n",
               problem);
  return kExitUsage;
}

int VolumeError(const std::string& problem) {
  std::fprintf(stderr, "scourix-rescue: %s; nothing was changed\n", problem.c_str());
  runRecord.problems.push_back(problem + "; nothing was changed");
  return kExitUsage;
}

bool ParseArguments(int argc, char** argv, Options& options, std::string& problem) {
  if (!ParseRescueOptions(argc, argv, options, problem)) return false;
  if (!options.targets.empty()) options.mountPoint = options.targets.front();
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
// stops the run while the volume is still untouched. Each is reached from
// the volume's root without following a link.
std::unique_ptr<Hive> OpenHive(const WindowsVolume& volume, int root, const std::string& path, std::string& problem) {
  const std::string relative = RelativePath(volume, path);
  const size_t slash = relative.rfind('/');
  std::string reason;
  std::unique_ptr<Hive> hive =
      Hive::Open(OpenFolderBeneath(root, relative.substr(0, slash)), relative.substr(slash + 1), path, reason);
  if (!hive) problem = "the registry hive " + path + " " + reason;
  return hive;
}

// The profiles folder and Program Files where the volume's registry puts
// them (checked as the Windows program checks them), in UTF-8.
SystemFolderNames ReadVolumeFolders(Hive& software, const WindowsVolume& volume) {
  HiveRegistry registry;
  registry.Mount(RegistryRoot::LocalMachine, "Software", &software);
  SystemFolderValues values;
  ReadSystemFolders(registry, volume.windowsDirectory.windows.c_str(), values);
  SystemFolderNames names;
  if (values.folders.profiles != nullptr) names.profiles = Latin1ToUtf8(values.folders.profiles);
  if (values.folders.programFiles != nullptr) names.programFiles = Latin1ToUtf8(values.folders.programFiles);
  return names;
}

// The machine's Software hive is already open (it says where the profiles
// are); the others are opened here.
bool OpenHives(const WindowsVolume& volume, int root, std::unique_ptr<Hive> software,
               std::vector<std::unique_ptr<Hive>>& hives, HiveRegistry& registry, std::string& problem) {
  registry.Mount(RegistryRoot::LocalMachine, "Software", software.get());
  hives.push_back(std::move(software));
  const auto mount = [&](RegistryRoot key, const std::string& name, const std::string& path) {
    if (path.empty()) return true;
    std::unique_ptr<Hive> hive = OpenHive(volume, root, path, problem);
    if (!hive) return false;
    registry.Mount(key, name, hive.get());
    hives.push_back(std::move(hive));
    return true;
  };
  if (!mount(RegistryRoot::LocalMachine, "System", volume.systemHive) ||
      !mount(RegistryRoot::Users, ".DEFAULT", volume.defaultHive)) {
    return false;
  }
  for (const ProfileHive& profile : volume.profiles) {
    if (!mount(RegistryRoot::Users, profile.name, profile.host)) return false;
  }
  return true;
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  localtime_r(&now, &local);
  return local;
}

LogTime ToLogTime(const std::tm& t) {
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

std::string IsoTime(const std::tm& t) {
  char text[80];  // room for any int the fields may hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string Stamp(const std::tm& t) {
  char stamp[80];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return stamp;
}

// The descriptors the limit leaves free once the hives and the log are open,
// a few kept in reserve.
int FreeDescriptors() {
  rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
  const int highest = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
  int open = 0;
  for (int fd = 0; fd < highest; ++fd) open += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return std::max(2, highest - open - 16);
}

// The readers asked for, or as many as suit the volume's disk.
int Readers(const Options& options, int root) {
  if (options.readers > 0) return options.readers;
  struct stat st {};
  return fstat(root, &st) == 0 ? ReadersForDevice(st.st_dev, MachinePaths{}) : kReadersFast;
}

int TerminalWidth() {
  winsize size {};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// This program's own file, to run it once per target.
std::string SelfPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// Several targets: a run of this program for each, at most --jobs at once.
// Each gets its own record in the --record folder, its own folder in the
// --backup folder, and its own log, appended to --log in the targets'
// order once all have ended (runs side by side would mix their lines).
int RunMany(Options& options) {
  struct stat st {};
  if (!options.record.empty() && (stat(options.record.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
    options.record.clear();
    return VolumeError("with several targets, --record names a folder that exists");
  }
  // The log and the backup folder are checked before anything is cleaned.
  PosixAppendFile log;
  if (!options.log.empty() && !log.Open(options.log.c_str())) {
    return VolumeError("cannot write the log " + options.log + ": " + std::strerror(errno));
  }
  if (!options.backup.empty() && mkdir(options.backup.c_str(), 0700) != 0 && errno != EEXIST) {
    return VolumeError("cannot make the backup folder " + options.backup + ": " + std::strerror(errno));
  }
  char logFolder[] = "/tmp/scourix-rescue-logs-XXXXXX";
  if (!options.log.empty() && mkdtemp(logFolder) == nullptr) return VolumeError("cannot make a folder for the logs");
  std::vector<TargetRun> runs;
  std::vector<std::string> names;
  for (const std::string& target : options.targets) {
    // Two paths can give one name ("a_b/c", "a/b_c"): each keeps its own.
    const std::string base = TargetFileName(CanonicalPath(target));
    std::string name = base;
    for (int n = 2; std::find(names.begin(), names.end(), name) != names.end(); ++n) name = base + "-" + std::to_string(n);
    names.push_back(name);
    // The run of one target: these options, with its own log, backup and
    // record beside the others'.
    RescueOptions one = options;
    one.all = false;
    one.jobs = 0;
    one.targets = {target};
    if (!one.log.empty()) one.log = std::string(logFolder) + "/" + name;
    if (!one.backup.empty()) one.backup += "/" + name;
    if (!one.record.empty()) one.record += "/" + name + ".json";
    runs.push_back({target, RescueArguments(one)});
  }
  options.record.clear();  // each run wrote its own
  const long processors = sysconf(_SC_NPROCESSORS_ONLN);
  int status = RunTargetsInParallel(SelfPath(), runs, options.jobs > 0 ? options.jobs : static_cast<int>(std::max(1L, processors)),
                                    stdout);
  if (!options.log.empty()) {
    for (size_t i = 0; i < runs.size(); ++i) {
      const std::string part = std::string(logFolder) + "/" + names[i];
      UniqueFd file(open(part.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
      char buffer[65536];
      for (ssize_t got; file && (got = read(file.Get(), buffer, sizeof buffer)) > 0;) {
        if (!log.Append(buffer, static_cast<size_t>(got))) status = std::max(status, kExitNotAllRemoved);
      }
      unlink(part.c_str());
    }
    rmdir(logFolder);
  }
  return status;
}

// A disk image or block device: through libguestfs, which runs this
// program on each Windows volume it finds, and writes its record.
int RunDisk(Options& options) {
  const RescueOptions disk = options;
  options.record.clear();
  std::string problem;
  const int status = CleanDisk(options.mountPoint, disk, stdout, stderr, problem);
  if (problem.empty() || disk.record.empty()) return status;
  // Stopped before any volume was reached: the record says why.
  ScanRecord& record = runRecord.fields;
  record.computer = options.mountPoint;
  record.started = IsoTime(LocalNow());
  record.lines.push_back(problem);
  options.record = disk.record;
  return status;
}

}  // namespace

namespace {

// --list-volumes: for the system on a rescue stick, which mounts and cleans
// each volume itself.
int ListVolumes() {
  for (const MachineVolume& volume : UnusedWindowsVolumes(MachinePaths{})) {
    std::printf("%s\t%s\n", volume.device.c_str(), VolumeKindName(volume.kind));
  }
  return std::fflush(stdout) == 0 ? kExitNothingFound : kExitNotAllRemoved;
}

// --all: every disk of this machine that nothing uses and that has a file
// system Windows starts from, after the targets given. False when there is
// none at all.
bool AddMachineDisks(Options& options) {
  for (const std::string& disk : UnusedWindowsDisks(MachinePaths{})) {
    if (std::find(options.targets.begin(), options.targets.end(), disk) == options.targets.end()) {
      options.targets.push_back(disk);
    }
  }
  if (options.targets.empty()) return false;
  options.mountPoint = options.targets.front();
  return true;
}

// A volume mounted as a folder, opened for its scan: the folder, where its
// parts are, and its registry with every hive open.
struct OpenedVolume {
  UniqueFd root;
  WindowsVolume volume;
  std::vector<std::unique_ptr<Hive>> hives;
  HiveRegistry registry;
};

// 1. The folder, its layout (as its registry names its folders) and its
// hives, each opened before anything changes; the record learns the
// machine's name and version. A status other than -1 ends the run.
int OpenVolume(const Options& options, OpenedVolume& opened) {
  struct stat st {};
  if (stat(options.mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return VolumeError(options.mountPoint + " is not a folder");
  }
  std::string error;
  if (!options.reportOnly && !CheckWritable(options.mountPoint, error)) return VolumeError(error);
  opened.root.Reset(open(options.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.root) return VolumeError(options.mountPoint + ": " + std::strerror(errno));
  if (!options.undo.empty()) return UndoCleaning(options.undo, opened.root.Get(), options.force);

  WindowsVolume& volume = opened.volume;
  if (!DiscoverVolume(options.mountPoint, volume, error)) return VolumeError(options.mountPoint + ": " + error);
  if (volume.registry != RegistryKind::Nt) return -1;
  std::unique_ptr<Hive> software = OpenHive(volume, opened.root.Get(), volume.softwareHive, error);
  if (!software) return VolumeError(error);
  // A localized Windows keeps its profiles and programs under other names.
  const SystemFolderNames system = ReadVolumeFolders(*software, volume);
  if ((!system.profiles.empty() || !system.programFiles.empty()) &&
      !DiscoverVolume(options.mountPoint, volume, error, system)) {
    return VolumeError(options.mountPoint + ": " + error);
  }
  if (!OpenHives(volume, opened.root.Get(), std::move(software), opened.hives, opened.registry, error)) {
    return VolumeError(error);
  }
  std::string computer;
  ReadVolumeIdentity(opened.registry, computer, runRecord.fields.windows);
  if (!computer.empty()) runRecord.fields.computer = computer;
  return -1;
}

// 2. The walk (which only reads), then the cleaning (or, report only, what
// it would do), the report and the record's facts.
int ScanVolume(const Options& options, OpenedVolume& opened, PosixAppendFile& logFile) {
  Console console(stdout, isatty(STDOUT_FILENO) != 0, TerminalWidth(), ConsoleText::Utf8);
  // The console stands in for the progress window; nothing runs offline, so
  // there is no memory scan.
  LineKeeper keeper(console);
  AttachProgressReceiver(&keeper);
  scanState.memoryScanActive = 0;
  const std::tm started = LocalNow();
  resultLog.Open(!options.log.empty() ? &logFile : nullptr, scanState.productTitle, ToLogTime(started));

  const WindowsVolume& volume = opened.volume;
  OfflineScan scan;
  scan.reportOnly = options.reportOnly;
  scan.console = &console;
  scan.volume = &volume;
  scan.root = opened.root.Get();
  scan.limits = PlanWalk(Readers(options, scan.root), FreeDescriptors());
  if (volume.registry == RegistryKind::Nt) {
    scan.registry = &opened.registry;
  } else if (volume.registry == RegistryKind::Windows9x) {
    AppendResultLine("System Registry     not repaired: a Windows 95/98/Me registry cannot be repaired offline");
  } else {
    AppendResultLine("System Registry     not repaired: no registry hives in %s\\System32\\config",
                     volume.windowsDirectory.windows.c_str());
  }

  WalkOfflineTrees(volume.scanTargets, scan);
  FindWormServices(scan);
  console.ClearProgress();
  std::string error;
  if (options.reportOnly) {
    ReportFindings(scan);
  } else if (!CleanVolume(scan, {options.mountPoint, options.backup, Stamp(started)}, error)) {
    resultLog.Close();
    AttachProgressReceiver(nullptr);
    return VolumeError("the backup could not be made (" + error + ")");
  }
  // The worm's registry entries stay where no hive could be repaired: not
  // everything of it was removed.
  if (!options.reportOnly && scan.registry == nullptr && !scan.found.empty()) scan.failed = true;

  ReportStatistics();
  ReportFinalStatus();
  console.Finish();
  resultLog.Close();
  ScanRecord& record = runRecord.fields;
  record.reportOnly = options.reportOnly;
  TakeScanResults(record, scanOutcome, scanState.filesScanned, scanState.filesInfected, scanState.filesDeleted);
  record.lines = keeper.lines;
  record.lines.push_back(scanState.currentObject);  // the final status
  AttachProgressReceiver(nullptr);
  if (scan.failed || scanState.scanCancelled) return kExitNotAllRemoved;
  return scanState.filesInfected > 0 ? kExitRemoved : kExitNothingFound;
}

// A volume mounted as a folder: opened, then scanned and cleaned.
int RunFolder(const Options& options) {
  runRecord.fields.computer = options.mountPoint;  // until the volume names itself
  runRecord.fields.started = IsoTime(LocalNow());
  OpenedVolume opened;
  const int stopped = OpenVolume(options, opened);
  if (stopped >= 0) return stopped;
  PosixAppendFile logFile;
  if (!options.log.empty() && !logFile.Open(options.log.c_str())) {
    return VolumeError("cannot write the log " + options.log + ": " + std::strerror(errno));
  }
  if (!CancelScanOnInterrupt()) return VolumeError("cannot arrange for Ctrl-C to end the scan");
  return ScanVolume(options, opened, logFile);
}

int Run(int argc, char** argv, Options& options) {
  std::string problem;
  if (!ParseArguments(argc, argv, options, problem)) {
    options.record.clear();  // a command line not understood writes nothing
    return Usage(problem.c_str());
  }
  if (options.listVolumes) return ListVolumes();
  if (options.all && !AddMachineDisks(options)) {
    std::printf("No disk of this machine that is not in use holds an NTFS or FAT32 file system.\n");
    options.record.clear();  // no target, no record
    return kExitNothingFound;
  }
  if (options.targets.size() > 1) return RunMany(options);
  // A record folder, as with several targets: the target's file in it.
  struct stat recordKind {};
  if (!options.record.empty() && stat(options.record.c_str(), &recordKind) == 0 && S_ISDIR(recordKind.st_mode)) {
    options.record += "/" + TargetFileName(options.mountPoint) + ".json";
  }
  struct stat kind {};
  if (stat(options.mountPoint.c_str(), &kind) == 0 && (S_ISREG(kind.st_mode) || S_ISBLK(kind.st_mode))) {
    return RunDisk(options);
  }
  return RunFolder(options);
}

// The record of the run, whatever its end: a run stopped before the scan
// leaves its reason there.
int WriteRecord(const Options& options, int status) {
  if (options.record.empty()) return status;
  ScanRecord& record = runRecord.fields;
  record.program = "scourix-rescue " SCOURIX_VERSION;
  record.exitStatus = status;
  record.ended = IsoTime(LocalNow());
  for (const std::string& problem : runRecord.problems) record.lines.push_back(problem);
  std::string error;
  if (WriteRecordFile(options.record, record, error)) return status;
  std::fprintf(stderr, "scourix-rescue: %s\n", error.c_str());
  return status == kExitUsage ? status : kExitNotAllRemoved;
}

}  // namespace

// A sanitizer's report (the test builds have them) also ends the program
// with the status of a failed scan, never with one that says all was removed.
extern "C" const char* __asan_default_options() { return "exitcode=2"; }
extern "C" const char* __ubsan_default_options() { return "exitcode=2"; }

int main(int argc, char** argv) {
  // No abnormal end may look like success: whatever is thrown ends the run
  // with the status of a scan that failed.
  NoteOwnLibraries();
  Options options;
  try {
    const int status = Run(argc, argv, options);
    return WriteRecord(options, status);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scourix-rescue: stopped: %s\n", e.what());
    runRecord.problems.push_back(std::string("stopped: ") + e.what());
  } catch (...) {
    std::fprintf(stderr, "scourix-rescue: stopped\n");
    runRecord.problems.push_back("stopped");
  }
  try {
    return WriteRecord(options, kExitNotAllRemoved);
  } catch (...) {
    return kExitNotAllRemoved;
  }
}
