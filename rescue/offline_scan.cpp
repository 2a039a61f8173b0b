#include "rescue/offline_scan.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "cleaning/registry_repair.h"
#include "cleaning/service_path.h"
#include "engine/pe_signature.h"
#include "engine/scan_state.h"
#include "posix/posix_file_source.h"
#include "posix/unique_fd.h"
#include "rescue/folder_listing.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

bool Cancelled() {
  if (interrupted) scanState.scanCancelled = 1;
  return scanState.scanCancelled != 0;
}

void RepairOfflineRegistry(OfflineScan& scan, const char* virusName) {
  if (scan.registry == nullptr) return;
  const RegistryRepairOutcome outcome = RepairWormRegistry(*scan.registry);
  if (!outcome.found) return;
  if (scan.reportOnly) {
    if (outcome.removed) AppendResultLine("System Registry     %s found (report only: not repaired)", virusName);
    return;
  }
  // Written back before the file goes: a scan that stops in between leaves
  // a file that a second scan finds again, never a repair that is lost.
  std::string error;
  if (!scan.registry->CommitChanged(error)) {
    std::fprintf(stderr, "scourix-rescue: %s\n", error.c_str());
    AppendResultLine("System Registry     %s Repair failed", virusName);
    scan.failed = true;
    return;
  }
  if (outcome.removed) AppendResultLine("System Registry     %s removed", virusName);
}

void HandleMatch(const VirusSignature& record, int folder, const std::string& name, const std::string& path,
                 OfflineScan& scan) {
  ++scanState.filesInfected;
  RepairOfflineRegistry(scan, record.name);
  if (scan.reportOnly) {
    AppendResultLine("%s     %s found (report only: not deleted)", path.c_str(), record.name);
    scan.wormFiles.push_back(path);
  } else if (unlinkat(folder, name.c_str(), 0) == 0) {
    ++scanState.filesDeleted;
    AppendResultLine("%s     %s deleted", path.c_str(), record.name);
    scan.wormFiles.push_back(path);
  } else {
    AppendResultLine("%s     %s Delete failed", path.c_str(), record.name);
    scan.failed = true;
  }
}

void CheckOfflineFile(int folder, const std::string& name, const std::string& path, OfflineScan& scan) {
  ++scanState.filesScanned;
  SignatureVerdict verdict;
  {
    PosixFileSource file(folder, name.c_str());
    if (!file.Ok()) return;
    verdict = ExamineFile(file);
  }  // closed before anything is done to it
  for (size_t i = 0; i < verdict.count; ++i) HandleMatch(*verdict.matches[i], folder, name, path, scan);
}

void WalkOpenFolder(int folder, const VolumePath& where, OfflineScan& scan) {
  const std::vector<FolderEntry> entries = ListFolder(folder);
  for (const FolderEntry& entry : entries) {
    if (Cancelled()) return;
    if (entry.kind != EntryKind::File) continue;
    scan.console->Progress(scanState.filesScanned, where.windows);
    CheckOfflineFile(folder, entry.name, where.windows + "\\" + entry.name, scan);
  }
  for (const FolderEntry& entry : entries) {
    if (Cancelled()) return;
    if (entry.kind != EntryKind::Folder) continue;
    // Opened without following: a folder replaced by a link since the
    // listing is not entered.
    const UniqueFd sub(openat(folder, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (sub) WalkOpenFolder(sub.Get(), Child(where, entry.name), scan);
  }
}

bool StartsWithIgnoringCase(const std::string& text, const char* prefix) {
  const size_t length = std::char_traits<char>::length(prefix);
  return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

bool IsControlSet(const char* name) {
  const std::string text(name);
  return text.size() == 13 && StartsWithIgnoringCase(text, "ControlSet") &&
         text.find_first_not_of("0123456789", 10) == std::string::npos;
}

struct WormService {
  std::string name;
  std::vector<std::string> keys;  // one per control set
};

// Every service key whose program is one of the worm's files, by service.
std::vector<WormService> FindWormServices(HiveRegistry& registry, const OfflineScan& scan,
                                          const std::string& windowsDirectory) {
  std::vector<WormService> found;
  uint32_t sets = 0, values = 0;
  char set[kSubKeyNameCapacity];
  if (!registry.QueryKeyCounts(RegistryRoot::LocalMachine, "System", &sets, &values)) return found;
  for (uint32_t i = 0; i < sets; ++i) {
    if (!registry.EnumSubKeyName(RegistryRoot::LocalMachine, "System", i, set, sizeof set) || !IsControlSet(set)) {
      continue;
    }
    const std::string services = std::string("System\\") + set + "\\Services";
    uint32_t count = 0;
    char service[kSubKeyNameCapacity];
    char image[kPathCapacity * 4];
    if (!registry.QueryKeyCounts(RegistryRoot::LocalMachine, services.c_str(), &count, &values)) continue;
    for (uint32_t s = 0; s < count; ++s) {
      if (!registry.EnumSubKeyName(RegistryRoot::LocalMachine, services.c_str(), s, service, sizeof service)) continue;
      const std::string key = services + "\\" + service;
      if (!registry.ReadRegValue(RegistryRoot::LocalMachine, key.c_str(), "ImagePath", image, sizeof image)) continue;
      const std::string program = ResolveImagePath(image, windowsDirectory);
      bool runsWorm = false;
      for (const std::string& file : scan.wormFiles) runsWorm = runsWorm || ServiceBinaryNamesFile(program.c_str(), file.c_str());
      if (!runsWorm) continue;
      WormService* entry = nullptr;
      for (WormService& known : found) {
        if (strcasecmp(known.name.c_str(), service) == 0) entry = &known;
      }
      if (entry == nullptr) entry = &found.emplace_back(WormService{service, {}});
      entry->keys.push_back(key);
    }
  }
  return found;
}

}  // namespace

void WalkOfflineTree(const VolumePath& folder, OfflineScan& scan) {
  const UniqueFd top(open(folder.host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (top) WalkOpenFolder(top.Get(), folder, scan);  // a folder that cannot be read is skipped, as on Windows
}

std::string ResolveImagePath(const std::string& imagePath, const std::string& windowsDirectory) {
  const bool quoted = !imagePath.empty() && imagePath[0] == '"';
  std::string path = quoted ? imagePath.substr(1) : imagePath;
  if (StartsWithIgnoringCase(path, "\\??\\")) path.erase(0, 4);
  for (const char* root : {"%SystemRoot%", "%windir%", "\\SystemRoot"}) {
    if (StartsWithIgnoringCase(path, root)) {
      path = windowsDirectory + path.substr(std::char_traits<char>::length(root));
      break;
    }
  }
  const bool hasDrive = path.size() >= 2 && path[1] == ':';
  if (!hasDrive && !path.empty() && path[0] != '\\' && path[0] != '%') path = windowsDirectory + "\\" + path;
  return quoted ? "\"" + path : path;
}

void RemoveWormServices(OfflineScan& scan, const std::string& windowsDirectory) {
  if (scan.registry == nullptr || scan.wormFiles.empty()) return;
  const std::vector<WormService> services = FindWormServices(*scan.registry, scan, windowsDirectory);
  std::vector<bool> deleted;
  for (const WormService& service : services) {
    bool all = true;
    for (const std::string& key : service.keys) {
      all = scan.registry->DeleteKeyTree(RegistryRoot::LocalMachine, key.c_str()) != 0 && all;
    }
    deleted.push_back(all);
  }
  std::string error;
  const bool committed = scan.reportOnly || scan.registry->CommitChanged(error);
  if (!committed) std::fprintf(stderr, "scourix-rescue: %s\n", error.c_str());
  for (size_t i = 0; i < services.size(); ++i) {
    const char* name = services[i].name.c_str();
    if (scan.reportOnly) {
      AppendResultLine("Service %s     %s found (report only: not removed)", name, scanState.virusName);
    } else if (deleted[i] && committed) {
      AppendResultLine("Service %s     %s removed", name, scanState.virusName);
    } else {
      AppendResultLine("Service %s     %s Delete failed", name, scanState.virusName);
      scan.failed = true;
    }
  }
}

bool CancelScanOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  return sigemptyset(&action.sa_mask) == 0 && sigaction(SIGINT, &action, nullptr) == 0 &&
         sigaction(SIGTERM, &action, nullptr) == 0;
}
