#include "rescue/volume/offline_scan.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "cleaning/service_path.h"
#include "engine/files_posix.h"
#include "engine/pe_signature.h"
#include "engine/result_lines.h"
#include "engine/scan_state.h"
#include "posix/unique_fd.h"
#include "rescue/volume/backup.h"
#include "rescue/volume/folder_listing.h"
#include "rescue/volume/tree_reader.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

bool Cancelled() {
  if (interrupted) scanState.scanCancelled = 1;
  return scanState.scanCancelled != 0;
}

// A folder or file the walk could not look into: said, never passed over.
void NotScanned(const std::string& windowsPath, const char* why, OfflineScan& scan) {
  AppendResultLine("%s     could not be scanned: %s", windowsPath.c_str(), why);
  scan.failed = true;
}
void NotScanned(const std::string& windowsPath, int error, OfflineScan& scan) {
  NotScanned(windowsPath, std::strerror(error), scan);
}

// One file the readers examined: counted, and each match recorded with the
// registry repair it calls for.
void RecordFile(const WalkStep& step, OfflineScan& scan) {
  ++scanState.filesScanned;
  const VolumePath& where = *step.folder;
  const FileLook& look = step.look;
  if (look.unreadable != 0) {
    NotScanned(where.windows + "\\" + step.name, look.unreadable, scan);
    return;
  }
  // A match that is no longer a regular file is not the file examined.
  if (!look.examined || look.verdict.count == 0 || !look.stillRegular) return;
  for (size_t i = 0; i < look.verdict.count; ++i) {
    ++scanState.filesInfected;
    FoundFile found;
    found.folder = RelativePath(*scan.volume, where.host);
    found.name = step.name;
    found.windows = where.windows + "\\" + step.name;
    found.device = look.after.st_dev;
    found.inode = look.after.st_ino;
    found.isHive = scan.registry != nullptr && scan.registry->IsHiveFile(found.device, found.inode);
    if (scan.registry != nullptr) found.repair = RepairWormRegistry(*scan.registry);
    scan.found.push_back(found);
  }
}

bool StartsWithIgnoringCase(const std::string& text, const char* prefix) {
  const size_t length = std::char_traits<char>::length(prefix);
  return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

bool IsControlSet(const std::string& name) {
  return name.size() == 13 && StartsWithIgnoringCase(name, "ControlSet") &&
         name.find_first_not_of("0123456789", 10) == std::string::npos;
}

// The found file open for reading, reached again from the volume's root
// without following links; invalid when it is no longer the regular file
// that was examined.
UniqueFd OpenFound(const OfflineScan& scan, const FoundFile& file, UniqueFd& folder) {
  folder = OpenFolderBeneath(scan.root, file.folder);
  if (!folder) return UniqueFd();
  UniqueFd fd(openat(folder.Get(), file.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!fd || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != file.device ||
      st.st_ino != file.inode) {
    return UniqueFd();
  }
  return fd;
}

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// Copies every hive that will be rewritten and every file that will be
// deleted into the backup.
bool CopyIntoBackup(OfflineScan& scan, Backup& backup, const BackupPlace& place, std::string& error) {
  if (!backup.Create(scan.root, place.mountPoint, place.dir, place.stamp, error)) return false;
  for (Hive* hive : scan.registry != nullptr ? scan.registry->ChangedHives() : std::vector<Hive*>{}) {
    const UniqueFd file = hive->OpenFile();
    if (!file) return (error = hive->Path() + " was replaced while Scourix ran"), false;
    if (!backup.Add(BackupItem::Kind::Hive, file.Get(), RelativePath(*scan.volume, hive->Path()), error)) return false;
  }
  for (const FoundFile& found : scan.found) {
    if (found.isHive) continue;
    UniqueFd folder;
    const UniqueFd file = OpenFound(scan, found, folder);
    const std::string relative = Joined(found.folder, found.name);
    if (!file) return (error = "cannot back up " + found.windows + ": it changed since it was scanned"), false;
    if (backup.Find(BackupItem::Kind::File, relative) != nullptr) continue;  // matched twice
    if (!backup.Add(BackupItem::Kind::File, file.Get(), relative, error)) return false;
  }
  return true;
}

// Records, before anything changes, what the run is about to do: each hive
// to be replaced, with the SHA-256 of its staged new file, and each file to
// be deleted. An interrupted run can then be undone as well.
bool RecordPlan(OfflineScan& scan, Backup& backup, const std::vector<Hive*>& changed, std::string& error) {
  for (Hive* hive : changed) {
    BackupItem* item = backup.Find(BackupItem::Kind::Hive, RelativePath(*scan.volume, hive->Path()));
    if (item == nullptr || !HashFile(hive->StagedFile(), item->sha256After)) {
      error = hive->Path() + ": the new hive cannot be read back";
      return false;
    }
    item->outcome = "replaced";
  }
  for (const FoundFile& file : scan.found) {
    BackupItem* item = backup.Find(BackupItem::Kind::File, Joined(file.folder, file.name));
    if (item != nullptr) item->outcome = "deleted";
  }
  return backup.Save(error);
}

// Nothing can be changed: every file stays, and the lines say why.
void ReportUnrepairable(const OfflineScan& scan, const std::vector<std::string>& failures) {
  for (const std::string& failure : failures) AppendResultLine("System Registry     not repaired: %s", failure.c_str());
  if (failures.empty()) ReportRegistryWriteFailed(scanState.virusName);
  for (const FoundFile& file : scan.found) ReportFileKeptForRepair(file.windows.c_str(), scanState.virusName);
  for (const WormService& service : scan.services) ReportServiceDeleteFailed(service.name.c_str(), scanState.virusName);
}

}  // namespace

void WalkOfflineTrees(const std::vector<VolumePath>& targets, OfflineScan& scan) {
  TreeReader reader(scan.root, *scan.volume, targets, scan.limits);
  WalkStep step;
  while (reader.Next(step, Cancelled)) {
    if (step.kind == WalkStep::Kind::NotScanned) {
      NotScanned(step.windows, step.why.c_str(), scan);
      continue;
    }
    scan.console->Progress(scanState.filesScanned, step.folder->windows);
    RecordFile(step, scan);
  }
}

void FindWormServices(OfflineScan& scan) {
  scan.services.clear();
  if (scan.registry == nullptr || scan.found.empty()) return;
  const std::string& windowsDirectory = scan.volume->windowsDirectory.windows;
  for (const std::string& set : scan.registry->SubKeyNames(RegistryRoot::LocalMachine, "System")) {
    if (!IsControlSet(set)) continue;
    const std::string services = "System\\" + set + "\\Services";
    for (const std::string& service : scan.registry->SubKeyNames(RegistryRoot::LocalMachine, services)) {
      const std::string key = services + "\\" + service;
      std::string image;
      if (!scan.registry->ReadString(RegistryRoot::LocalMachine, key, "ImagePath", image)) continue;
      const std::string program = ResolveImagePath(image, windowsDirectory);
      bool runsWorm = false;
      for (const FoundFile& file : scan.found) {
        runsWorm = runsWorm || ServiceBinaryNamesFile(program.c_str(), file.windows.c_str());
      }
      if (!runsWorm) continue;
      WormService* entry = nullptr;
      for (WormService& known : scan.services) {
        if (strcasecmp(known.name.c_str(), service.c_str()) == 0) entry = &known;
      }
      if (entry == nullptr) entry = &scan.services.emplace_back(WormService{service, {}});
      entry->keys.push_back(key);
    }
  }
}

void ReportFindings(const OfflineScan& scan) {
  const char* virus = scanState.virusName;
  for (const FoundFile& file : scan.found) {
    if (file.repair.removed) ReportRegistryFound(virus);
    ReportFileFound(file.windows.c_str(), virus);
  }
  for (const WormService& service : scan.services) {
    ReportServiceFound(service.name.c_str(), virus);
  }
}

namespace {

// 1. The worm's services, deleted from the registry in memory: whether all
// keys of each went.
std::vector<bool> DeleteServicesInMemory(OfflineScan& scan) {
  std::vector<bool> deleted;
  for (const WormService& service : scan.services) {
    bool all = true;
    for (const std::string& key : service.keys) {
      all = scan.registry->DeleteKeyTree(RegistryRoot::LocalMachine, key) != 0 && all;
    }
    deleted.push_back(all);
  }
  return deleted;
}

enum class Preparation { Ready, Unchanged, Failed };

// 2. The backup of everything that will change, the new hives written
// beside the old ones, and the plan in the manifest: nothing of the volume
// has changed yet. Unchanged: a hive could not be written, every file stays
// (and says why); Failed: no backup, so nothing may change (error says why).
Preparation PrepareChanges(OfflineScan& scan, Backup& backup, const BackupPlace& place,
                           const std::vector<Hive*>& changed, std::string& error) {
  if (!CopyIntoBackup(scan, backup, place, error)) {
    backup.Discard();
    return Preparation::Failed;
  }
  // A hive that cannot be written (a full disk, an I/O error) leaves every
  // hive and every file as it was, for a second run.
  std::string stageError;
  if (scan.registry != nullptr && !scan.registry->StageChanged(stageError)) {
    std::fprintf(stderr, "scourix-rescue: %s\n", stageError.c_str());
    backup.Discard();
    ReportUnrepairable(scan, {});
    scan.failed = true;
    return Preparation::Unchanged;
  }
  if (!RecordPlan(scan, backup, changed, error)) {
    if (scan.registry != nullptr) scan.registry->UnstageAll();
    backup.Discard();
    return Preparation::Failed;
  }
  return Preparation::Ready;
}

// 3. The new hives put in place: whether all of them are.
bool CommitRegistry(OfflineScan& scan, Backup& backup, const std::vector<Hive*>& changed) {
  std::string commitError;
  const bool committed = scan.registry == nullptr || scan.registry->InstallStaged(commitError);
  if (!committed) std::fprintf(stderr, "scourix-rescue: %s\n", commitError.c_str());
  for (Hive* hive : changed) {
    BackupItem* item = backup.Find(BackupItem::Kind::Hive, RelativePath(*scan.volume, hive->Path()));
    if (item != nullptr && hive->Changed()) item->outcome = "kept";  // not put in place
  }
  return committed;
}

// 4. Each worm file deleted, once the repair is in place, and said so.
void RemoveFiles(OfflineScan& scan, Backup& backup, bool committed) {
  const char* virus = scanState.virusName;
  std::set<const BackupItem*> handled;
  for (const FoundFile& file : scan.found) {
    if (file.repair.removed) {
      if (committed) {
        ReportRegistryRemoved(virus);
      } else {
        ReportRegistryWriteFailed(virus);
      }
    }
    BackupItem* item = backup.Find(BackupItem::Kind::File, Joined(file.folder, file.name));
    if (file.isHive) {
      ReportFileIsHive(file.windows.c_str(), virus);
      scan.failed = true;
      continue;
    }
    if (!committed) {
      // Deleting it would lose the repair for good: a second run finds the
      // file, and with it the worm's registry entries, again.
      ReportFileKeptForRepair(file.windows.c_str(), virus);
      if (item != nullptr) item->outcome = "kept";
      scan.failed = true;
      continue;
    }
    // A file matched twice gets one line.
    if (item == nullptr || !handled.insert(item).second) continue;
    UniqueFd folder;
    const bool same = static_cast<bool>(OpenFound(scan, file, folder));
    if (same && unlinkat(folder.Get(), file.name.c_str(), 0) == 0) {
      ++scanState.filesDeleted;  // its outcome stays "deleted", as planned
      ReportFileDeleted(file.windows.c_str(), virus);
    } else {
      item->outcome = "kept";
      ReportFileDeleteFailed(file.windows.c_str(), virus);
      scan.failed = true;
    }
  }
}

// 5. Each service: removed only where its hive was put in place.
void ReportServices(OfflineScan& scan, const std::vector<bool>& deleted, bool committed) {
  for (size_t i = 0; i < scan.services.size(); ++i) {
    if (committed && deleted[i]) {
      ReportServiceRemoved(scan.services[i].name.c_str(), scanState.virusName);
    } else {
      ReportServiceDeleteFailed(scan.services[i].name.c_str(), scanState.virusName);
      scan.failed = true;
    }
  }
}

}  // namespace

bool CleanVolume(OfflineScan& scan, const BackupPlace& place, std::string& error) {
  if (scan.found.empty()) return true;
  const std::vector<bool> servicesDeleted = DeleteServicesInMemory(scan);
  // A repair that could not be made in full is not made at all: deleting
  // the files would lose it for good, as a second run would find nothing.
  const std::vector<std::string> failures =
      scan.registry != nullptr ? scan.registry->TakeFailures() : std::vector<std::string>{};
  if (!failures.empty()) {
    ReportUnrepairable(scan, failures);
    scan.failed = true;
    return true;
  }
  const std::vector<Hive*> changed = scan.registry != nullptr ? scan.registry->ChangedHives() : std::vector<Hive*>{};
  Backup backup;
  switch (PrepareChanges(scan, backup, place, changed, error)) {
    case Preparation::Failed:
      return false;
    case Preparation::Unchanged:
      return true;
    case Preparation::Ready:
      break;
  }
  // From here on the volume changes.
  const bool committed = CommitRegistry(scan, backup, changed);
  RemoveFiles(scan, backup, committed);
  ReportServices(scan, servicesDeleted, committed);
  std::string saveError;
  if (!backup.Save(saveError)) {
    std::fprintf(stderr, "scourix-rescue: %s\n", saveError.c_str());
    scan.failed = true;
  }
  AppendResultLine("Backup of what was changed: %s", backup.Path().c_str());
  return true;
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

bool CancelScanOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  return sigemptyset(&action.sa_mask) == 0 && sigaction(SIGINT, &action, nullptr) == 0 &&
         sigaction(SIGTERM, &action, nullptr) == 0;
}
