#include "rescue/disks/appliance.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <guestfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "engine/files_posix.h"
#include "engine/text.h"
#include "generated/version.h"
#include "posix/fd_io.h"
#include "posix/unique_fd.h"
#include "record/exit_status.h"
#include "record/record.h"
#include "rescue/disks/disk_format.h"
#include "rescue/volume/identity.h"

namespace {

constexpr char kRoot[] = "/sysroot";             // where the appliance mounts the volume
constexpr char kHome[] = "/tmp/scourix";         // the program's folder in the appliance
constexpr size_t kChunk = 1 << 20;               // bytes fetched from the appliance at a time
constexpr size_t kMostFetched = size_t{1} << 28;  // a run's output, log or record

// The functions of libguestfs this program calls, found when it is loaded.
struct GuestApi {
  decltype(&guestfs_create) create;
  decltype(&guestfs_close) close;
  decltype(&guestfs_last_error) last_error;
  decltype(&guestfs_set_error_handler) set_error_handler;
  decltype(&guestfs_set_backend_settings) set_backend_settings;
  decltype(&guestfs_set_pgroup) set_pgroup;
  decltype(&guestfs_set_smp) set_smp;
  decltype(&guestfs_add_drive_opts) add_drive_opts;
  decltype(&guestfs_launch) launch;
  decltype(&guestfs_inspect_os) inspect_os;
  decltype(&guestfs_inspect_get_type) inspect_get_type;
  decltype(&guestfs_inspect_get_product_name) inspect_get_product_name;
  decltype(&guestfs_inspect_get_mountpoints) inspect_get_mountpoints;
  decltype(&guestfs_mount) mount;
  decltype(&guestfs_mount_ro) mount_ro;
  decltype(&guestfs_umount_all) umount_all;
  decltype(&guestfs_shutdown) shutdown;
  decltype(&guestfs_debug) debug;
  decltype(&guestfs_debug_upload) debug_upload;
};

const GuestApi* LoadGuestApi(std::string& error) {
  static GuestApi api{};
  static bool loaded = false;
  if (loaded) return &api;
  void* library = dlopen("libguestfs.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    error = std::string("libguestfs is not installed (Debian: libguestfs0): ") + dlerror();
    return nullptr;
  }
  bool found = true;
  const auto load = [&](auto& field, const char* name) {
    field = reinterpret_cast<std::remove_reference_t<decltype(field)>>(dlsym(library, name));
    found = found && field != nullptr;
  };
  load(api.create, "guestfs_create");
  load(api.close, "guestfs_close");
  load(api.last_error, "guestfs_last_error");
  load(api.set_error_handler, "guestfs_set_error_handler");
  load(api.set_backend_settings, "guestfs_set_backend_settings");
  load(api.set_pgroup, "guestfs_set_pgroup");
  load(api.set_smp, "guestfs_set_smp");
  load(api.add_drive_opts, "guestfs_add_drive_opts");
  load(api.launch, "guestfs_launch");
  load(api.inspect_os, "guestfs_inspect_os");
  load(api.inspect_get_type, "guestfs_inspect_get_type");
  load(api.inspect_get_product_name, "guestfs_inspect_get_product_name");
  load(api.inspect_get_mountpoints, "guestfs_inspect_get_mountpoints");
  load(api.mount, "guestfs_mount");
  load(api.mount_ro, "guestfs_mount_ro");
  load(api.umount_all, "guestfs_umount_all");
  load(api.shutdown, "guestfs_shutdown");
  load(api.debug, "guestfs_debug");
  load(api.debug_upload, "guestfs_debug_upload");
  if (!found) {
    error = "this libguestfs lacks functions scourix-rescue needs";
    return nullptr;
  }
  loaded = true;
  return &api;
}

std::vector<std::string> ownLibraries;

// libguestfs hands out lists and texts for the caller to free.
void FreeList(char** list) {
  if (list == nullptr) return;
  for (char** item = list; *item != nullptr; ++item) std::free(*item);
  std::free(list);
}

std::string Take(char* text) {
  std::string taken = text != nullptr ? text : "";
  std::free(text);
  return taken;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Seconds since start, for the messages that say where the time went.
double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// text, base64 with any whitespace around it, decoded in place; false when
// it is not base64.
bool DecodeBase64(std::string& text) {
  std::string bytes;
  uint32_t bits = 0;
  int count = 0;
  size_t padding = 0;
  for (const char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+') value = 62;
    else if (c == '/') value = 63;
    else if (c == '=') { ++padding; continue; }
    else if (c == '\n' || c == '\r' || c == ' ') continue;
    else return false;
    if (padding > 0) return false;
    bits = bits << 6 | static_cast<uint32_t>(value);
    if (++count == 4) {
      bytes += static_cast<char>(bits >> 16 & 0xFF);
      bytes += static_cast<char>(bits >> 8 & 0xFF);
      bytes += static_cast<char>(bits & 0xFF);
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || padding > 2) return false;
  if (count == 2) bytes += static_cast<char>(bits >> 4 & 0xFF);
  if (count == 3) {
    bytes += static_cast<char>(bits >> 10 & 0xFF);
    bytes += static_cast<char>(bits >> 2 & 0xFF);
  }
  text = std::move(bytes);
  return true;
}

// One launched appliance with the disk added; closed (which ends it) on
// every path.
class Appliance {
 public:
  explicit Appliance(const GuestApi& api) : api_(api) {}
  ~Appliance() {
    if (g_ != nullptr) api_.close(g_);
  }
  Appliance(const Appliance&) = delete;
  Appliance& operator=(const Appliance&) = delete;

  // KVM where it starts, else software emulation (TCG); how says which ran.
  bool Launch(const std::string& target, const std::string& format, bool readOnly, std::string& how,
              std::string& error) {
    const char* settings = std::getenv("LIBGUESTFS_BACKEND_SETTINGS");
    const bool tcgAsked = settings != nullptr && std::strstr(settings, "force_tcg") != nullptr;
    if (!tcgAsked && Start(target, format, readOnly, false, error)) {
      how = "KVM";
      return true;
    }
    const std::string kvmError = error;
    if (!Start(target, format, readOnly, true, error)) {
      if (!tcgAsked) error = "with KVM: " + kvmError + "; with software emulation: " + error;
      return false;
    }
    how = tcgAsked ? "software emulation (TCG), as LIBGUESTFS_BACKEND_SETTINGS asks"
                   : "software emulation (TCG): KVM did not start";
    return true;
  }

  guestfs_h* Handle() const { return g_; }
  std::string Error() const {
    const char* text = api_.last_error(g_);
    return text != nullptr ? text : "unknown error";
  }

  // A shell command in the appliance (not in the guest's volume); its output.
  // The command's own status is not the call's: callers echo it.
  bool Shell(const std::string& command, std::string& output) {
    char* argv[] = {const_cast<char*>(command.c_str()), nullptr};
    char* result = api_.debug(g_, "sh", argv);
    if (result == nullptr) return false;
    output = Take(result);
    return true;
  }

  // A file of the appliance's, in pieces (a reply is limited in size).
  bool Fetch(const std::string& path, std::string& contents) {
    contents.clear();
    std::string size;
    if (!Shell("stat -c %s " + Quote(path) + " 2>/dev/null || echo none", size) || size.rfind("none", 0) == 0) {
      return false;
    }
    const unsigned long long total = std::strtoull(size.c_str(), nullptr, 10);
    if (total > kMostFetched) return false;
    for (size_t piece = 0; piece * kChunk < total; ++piece) {
      // In base64: the reply is text that loses trailing newlines and stops
      // at a zero byte.
      std::string part;
      if (!Shell("dd if=" + Quote(path) + " bs=" + std::to_string(kChunk) + " skip=" + std::to_string(piece) +
                     " count=1 status=none | base64 -w 0",
                 part) ||
          !DecodeBase64(part)) {
        return false;
      }
      contents += part;
    }
    return contents.size() == total;
  }

 private:
  bool Start(const std::string& target, const std::string& format, bool readOnly, bool tcg, std::string& error) {
    if (g_ != nullptr) api_.close(g_);
    g_ = api_.create();
    if (g_ == nullptr) {
      error = "libguestfs could not start";
      return false;
    }
    api_.set_error_handler(g_, nullptr, nullptr);
    // Ctrl-C must not kill qemu while it writes the disk: it gets a process
    // group of its own. A second processor runs ntfs-3g beside the scan.
    api_.set_pgroup(g_, 1);
    if (sysconf(_SC_NPROCESSORS_ONLN) > 1) api_.set_smp(g_, 2);
    char forceTcg[] = "force_tcg";
    char* settings[] = {forceTcg, nullptr};
    if ((tcg && api_.set_backend_settings(g_, settings) != 0) ||
        api_.add_drive_opts(g_, target.c_str(), GUESTFS_ADD_DRIVE_OPTS_FORMAT, format.c_str(),
                            GUESTFS_ADD_DRIVE_OPTS_READONLY, readOnly ? 1 : 0, -1) != 0 ||
        api_.launch(g_) != 0) {
      error = Error();
      return false;
    }
    return true;
  }

  const GuestApi& api_;
  guestfs_h* g_ = nullptr;
};

// The disk's format from its bytes; block devices are raw.
bool DiskFormatOf(const std::string& target, std::string& format, std::string& error) {
  const UniqueFd file(open(target.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!file || fstat(file.Get(), &st) != 0) {
    error = target + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISBLK(st.st_mode)) {
    format = "raw";
    return true;
  }
  std::vector<uint8_t> head(4096), tail(512);
  size_t got = 0, gotTail = 0;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (!ReadFullyAt(file.Get(), 0, head.data(), head.size(), got) ||
      !ReadFullyAt(file.Get(), size > tail.size() ? size - tail.size() : 0, tail.data(), tail.size(), gotTail)) {
    error = target + ": " + std::strerror(errno);
    return false;
  }
  head.resize(got);
  tail.resize(gotTail);
  uint64_t descriptorSize = 0;
  const uint64_t descriptorAt = VmdkDescriptorOffset(head, descriptorSize);
  std::vector<uint8_t> descriptor(static_cast<size_t>(std::min<uint64_t>(descriptorSize, 65536)));
  size_t gotDescriptor = 0;
  if (!descriptor.empty() && !ReadFullyAt(file.Get(), descriptorAt, descriptor.data(), descriptor.size(), gotDescriptor)) {
    error = target + ": " + std::strerror(errno);
    return false;
  }
  descriptor.resize(gotDescriptor);
  const DiskFormat detected = DetectDiskFormat(head, tail, descriptor, BaseName(target));
  if (detected.name.empty()) {
    error = target + " is " + detected.problem;
    return false;
  }
  format = detected.name;
  return true;
}

// This program and its libraries, into the appliance's /tmp/scourix.
bool InstallProgram(const GuestApi& api, Appliance& appliance, std::string& loader, std::string& error) {
  std::string output;
  if (!appliance.Shell(std::string("rm -rf ") + kHome + " && mkdir -p " + kHome + "/lib && echo made", output) ||
      output.find("made") == std::string::npos) {
    error = "cannot make a folder in the appliance: " + appliance.Error();
    return false;
  }
  loader.clear();
  std::vector<std::string> files = ownLibraries;
  files.push_back("/proc/self/exe");
  for (size_t i = 0; i < files.size(); ++i) {
    const bool program = i + 1 == files.size();
    const std::string placed = std::string(kHome) + (program ? "/scourix-rescue" : "/lib/" + BaseName(files[i]));
    if (api.debug_upload(appliance.Handle(), files[i].c_str(), placed.c_str(), 0755) != 0) {
      error = "cannot copy " + files[i] + " into the appliance: " + appliance.Error();
      return false;
    }
    if (!program && BaseName(files[i]).rfind("ld-linux", 0) == 0) loader = placed;
  }
  // The files' own names carry full versions ("libasan.so.8.0.0"); the
  // program asks for shorter ones ("libasan.so.8").
  std::string links = std::string("cd ") + kHome + "/lib";
  for (const std::string& library : ownLibraries) {
    std::string name = BaseName(library);
    for (size_t dot = name.rfind('.'); name.size() > 3 && name.compare(name.size() - 3, 3, ".so") != 0 &&
                                        dot != std::string::npos;
         dot = name.rfind('.')) {
      name.resize(dot);
      links += " && ln -sf " + Quote(BaseName(library)) + " " + Quote(name);
    }
  }
  if (!appliance.Shell(links + " && echo linked", output) || output.find("linked") == std::string::npos) {
    error = "cannot name the libraries in the appliance: " + output;
    return false;
  }
  return true;
}

// The volume's paths as the appliance names them, in the lines and messages,
// as the user named the disk.
std::string AsTheUserNamesIt(std::string text, const std::string& target) {
  for (const auto& [from, to] : {std::pair<std::string, std::string>{std::string(kRoot) + "/", target + ":/"},
                                 std::pair<std::string, std::string>{kRoot, target}}) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
  }
  return text;
}

// A record file for each installation when there are several.
std::string RecordPath(const std::string& record, const std::string& device, size_t installations) {
  if (installations < 2) return record;
  const std::string suffix = "-" + BaseName(device);
  const size_t dot = record.rfind(".json");
  return dot != std::string::npos && dot + 5 == record.size() ? record.substr(0, dot) + suffix + ".json"
                                                              : record + suffix;
}

// Ctrl-C while a disk is open: the scan inside the appliance cannot be
// reached, and ending now could leave the disk half written.
void OnInterrupt(int) {
  static const char kMessage[] =
      "\nscourix-rescue: the scan inside the appliance goes on to its end; the disk is then closed cleanly\n";
  const ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
}

// Whether the appliance has the volume mounted read-only (or cannot say).
bool MountedReadOnly(Appliance& appliance) {
  std::string mounts;
  if (!appliance.Shell("cat /proc/mounts", mounts)) return true;
  std::istringstream lines(mounts);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string device, mountPoint, type, options;
    if (fields >> device >> mountPoint >> type >> options && mountPoint == kRoot) {
      return options == "ro" || options.rfind("ro,", 0) == 0;
    }
  }
  return true;
}

// A record for an installation that could not be cleaned at all.
void RecordProblem(const std::string& path, const std::string& target, const std::string& problem) {
  if (path.empty()) return;
  ScanRecord record;
  record.computer = target;
  record.program = "scourix-rescue " SCOURIX_VERSION;
  record.exitStatus = kExitUsage;
  record.lines.push_back(problem);
  std::string error;
  WriteRecordFile(path, record, error);
}

}  // namespace

void NoteOwnLibraries() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    const size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    const std::string path = line.substr(slash);
    if (path.find(".so") == std::string::npos || path.find(" (deleted)") != std::string::npos) continue;
    if (std::find(ownLibraries.begin(), ownLibraries.end(), path) == ownLibraries.end()) ownLibraries.push_back(path);
  }
}

namespace {

// One disk's run: the appliance that has it open, and where everything goes.
struct DiskRun {
  const GuestApi& api;
  Appliance& appliance;
  const std::string& target;
  const RescueOptions& options;
  std::FILE* out;
  std::FILE* err;
  std::string loader;  // the program's own loader inside the appliance, if any
  PosixAppendFile log;
  size_t installations = 0;

  std::string RecordPathOf(const std::string& root) const {
    return options.record.empty() ? std::string() : RecordPath(options.record, root, installations);
  }
};

// 1. The roots inspection calls Windows.
bool FindWindows(const DiskRun& run, std::vector<std::string>& windows) {
  char** roots = run.api.inspect_os(run.appliance.Handle());
  if (roots == nullptr) return false;
  for (char** root = roots; *root != nullptr; ++root) {
    if (Take(run.api.inspect_get_type(run.appliance.Handle(), *root)) == "windows") windows.push_back(*root);
  }
  FreeList(roots);
  return true;
}

// 2. The installation's file systems, the shortest mount point first; false
// (and why, in its record) when it cannot be cleaned as it is mounted.
bool MountInstallation(const DiskRun& run, const std::string& root) {
  const bool readOnly = run.options.reportOnly;
  char** pairs = run.api.inspect_get_mountpoints(run.appliance.Handle(), root.c_str());
  std::vector<std::pair<std::string, std::string>> mounts;
  for (char** item = pairs; item != nullptr && item[0] != nullptr && item[1] != nullptr; item += 2) {
    mounts.emplace_back(item[0], item[1]);
  }
  FreeList(pairs);
  std::sort(mounts.begin(), mounts.end(), [](const auto& a, const auto& b) { return a.first.size() < b.first.size(); });
  bool mounted = !mounts.empty();
  for (const auto& [mountPoint, device] : mounts) {
    const int done = readOnly ? run.api.mount_ro(run.appliance.Handle(), device.c_str(), mountPoint.c_str())
                              : run.api.mount(run.appliance.Handle(), device.c_str(), mountPoint.c_str());
    if (done != 0) {
      std::fprintf(run.err, "scourix-rescue: %s: %s cannot be mounted%s (%s); nothing was changed on it\n",
                   run.target.c_str(), device.c_str(), readOnly ? "" : " for writing", run.appliance.Error().c_str());
      mounted = false;
      break;
    }
  }
  // ntfs-3g mounts a hibernated Windows (or one with fast startup) read-only
  // by itself: cleaning it would fail file by file.
  if (mounted && !readOnly && MountedReadOnly(run.appliance)) {
    const std::string why = run.target + ": the Windows volume on " + root +
                            " could only be mounted read-only: Windows was hibernated or not shut down fully "
                            "(fast startup); start it and shut it down fully, or use --report-only";
    std::fprintf(run.err, "scourix-rescue: %s; nothing was changed on it\n", why.c_str());
    RecordProblem(run.RecordPathOf(root), run.target, why);
    return false;
  }
  if (!mounted) {
    RecordProblem(run.RecordPathOf(root), run.target,
                  run.target + ": the Windows volume on " + root + " could not be mounted; nothing was changed on it");
  }
  return mounted;
}

// 3. This program, run inside the appliance on the mounted volume with the
// same options (the log and record in its folder there): its status.
int RunInside(const DiskRun& run, const std::string& root) {
  const RescueOptions& options = run.options;
  RescueOptions inside;
  if (!options.undo.empty()) {
    inside.undo = kRoot + ("/" + options.undo);
    inside.force = options.force;
  } else {
    inside.reportOnly = options.reportOnly;
    if (!options.log.empty()) inside.log = std::string(kHome) + "/log";
    if (!options.record.empty()) inside.record = std::string(kHome) + "/record.json";
    if (!options.backup.empty()) inside.backup = kRoot + ("/" + options.backup);
  }
  inside.targets = {kRoot};
  std::string arguments;
  for (const std::string& argument : RescueArguments(inside)) arguments += " " + Quote(argument);
  const std::string program = std::string(kHome) + "/scourix-rescue";
  const std::string start =
      run.loader.empty() ? program : Quote(run.loader) + " --library-path " + kHome + "/lib " + program;
  std::string reply;
  const auto started = std::chrono::steady_clock::now();
  const bool ran = run.appliance.Shell(std::string("rm -f ") + kHome + "/log " + kHome + "/record.json; " + start +
                                           " " + arguments + " > " + kHome + "/out 2>&1; echo status=$?",
                                       reply);
  std::fprintf(run.err, "scourix-rescue: %s: %s cleaned in the appliance in %.1f s\n", run.target.c_str(), root.c_str(),
               SecondsSince(started));
  const size_t marker = reply.rfind("status=");
  const int status = ran && marker != std::string::npos ? std::atoi(reply.c_str() + marker + 7) : kExitNotAllRemoved;
  // Anything but the program's own statuses (a crash, a loader error) is a
  // run that did not finish.
  return status < 0 || status > kExitUsage ? kExitNotAllRemoved : status;
}

// 4. The run's lines, log and record brought back; the status made worse
// by what could not be.
int BringBack(DiskRun& run, const std::string& root, int status) {
  std::string output;
  if (!run.appliance.Fetch(std::string(kHome) + "/out", output)) {
    std::fprintf(run.err, "scourix-rescue: %s: the run's lines could not be read from the appliance\n", run.target.c_str());
    status = std::max(status, kExitNotAllRemoved);
  }
  std::fputs(AsTheUserNamesIt(output, run.target).c_str(), run.out);
  std::fflush(run.out);
  if (!run.options.undo.empty()) return status;
  std::string text, error;
  if (!run.options.log.empty()) {
    if (!run.appliance.Fetch(std::string(kHome) + "/log", text) || !run.log.Append(text.data(), text.size())) {
      std::fprintf(run.err, "scourix-rescue: %s: the log could not be written\n", run.target.c_str());
      status = std::max(status, kExitNotAllRemoved);
    }
  }
  if (!run.options.record.empty()) {
    ScanRecord record;
    bool written = run.appliance.Fetch(std::string(kHome) + "/record.json", text) && ParseRecordJson(text, record, error);
    if (written) {
      // Inside, the volume was the appliance's mount point: here it is the disk.
      if (record.computer == kRoot) record.computer = run.target;
      written = WriteRecordFile(run.RecordPathOf(root), record, error);
    }
    if (!written) {
      std::fprintf(run.err, "scourix-rescue: %s: the record could not be written\n", run.target.c_str());
      status = std::max(status, kExitNotAllRemoved);
    }
  }
  return status;
}

// One installation: mounted, cleaned inside, results back, unmounted.
int CleanInstallation(DiskRun& run, const std::string& root) {
  if (run.installations > 1) {
    // The product name comes from the volume's registry: no control bytes of
    // it reach the terminal.
    std::fprintf(run.out, "--- Windows on %s (%s) ---\n", root.c_str(),
                 EscapeForUtf8Terminal(Take(run.api.inspect_get_product_name(run.appliance.Handle(), root.c_str())))
                     .c_str());
  }
  int status = kExitUsage;
  if (MountInstallation(run, root)) status = BringBack(run, root, RunInside(run, root));
  if (run.api.umount_all(run.appliance.Handle()) != 0) {
    std::fprintf(run.err, "scourix-rescue: %s: %s\n", run.target.c_str(), run.appliance.Error().c_str());
    status = std::max(status, kExitNotAllRemoved);
  }
  return status;
}

}  // namespace

int CleanDisk(const std::string& target, const RescueOptions& options, std::FILE* out, std::FILE* err,
              std::string& problem) {
  const auto fail = [&](const std::string& why) {
    problem = why + "; nothing was changed";
    std::fprintf(err, "scourix-rescue: %s\n", problem.c_str());
    return kExitUsage;
  };
  std::string error, format;
  const GuestApi* api = LoadGuestApi(error);
  if (api == nullptr) return fail(error);
  if (!DiskFormatOf(target, format, error)) return fail(error);
  struct sigaction interrupt {};
  interrupt.sa_handler = OnInterrupt;
  interrupt.sa_flags = SA_RESTART;
  sigaction(SIGINT, &interrupt, nullptr);
  Appliance appliance(*api);
  std::string how;
  auto started = std::chrono::steady_clock::now();
  if (!appliance.Launch(target, format, options.reportOnly, how, error)) {
    return fail(target + ": cannot open the disk (" + error + ")");
  }
  std::fprintf(err, "scourix-rescue: %s: the libguestfs appliance runs under %s (started in %.1f s)\n", target.c_str(),
               how.c_str(), SecondsSince(started));
  started = std::chrono::steady_clock::now();

  DiskRun run{*api, appliance, target, options, out, err, {}, {}, 0};
  std::vector<std::string> windows;
  if (!FindWindows(run, windows)) return fail(target + ": the disk cannot be inspected (" + appliance.Error() + ")");
  if (windows.empty() && options.ifWindows) {
    std::fprintf(err, "scourix-rescue: %s: no Windows installation on the disk; passed over\n", target.c_str());
    return kExitNothingFound;
  }
  if (windows.empty()) return fail(target + ": no Windows installation found on the disk");
  run.installations = windows.size();
  if (!InstallProgram(*api, appliance, run.loader, error)) return fail(target + ": " + error);
  std::fprintf(err, "scourix-rescue: %s: inspected, and the program copied in, in %.1f s\n", target.c_str(),
               SecondsSince(started));
  if (!options.log.empty() && !run.log.Open(options.log.c_str())) {
    return fail("cannot write the log " + options.log + ": " + std::strerror(errno));
  }

  int worst = kExitNothingFound;
  for (const std::string& root : windows) worst = std::max(worst, CleanInstallation(run, root));
  // Writes what is still cached back to the disk before the appliance ends.
  if (api->shutdown(appliance.Handle()) != 0) {
    std::fprintf(err, "scourix-rescue: %s: the appliance did not end cleanly (%s)\n", target.c_str(),
                 appliance.Error().c_str());
    worst = std::max(worst, kExitNotAllRemoved);
  }
  return worst;
}
