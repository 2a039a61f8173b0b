// The scan of a Windows volume that is not running: the same detection as the
// Windows program over the same folder trees, files of a folder before its
// subfolders, links and junctions never followed. The walk only looks: every
// match is counted and the registry repair made in memory; CleanVolume then
// backs up, writes and deletes, or ReportFindings says what it would do.
// Lines and counters go through the engine's scan state.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "cleaning/registry_repair.h"
#include "engine/console.h"
#include "rescue/volume/hive_registry.h"
#include "rescue/volume/tree_reader.h"
#include "rescue/volume/volume.h"

struct FoundFile {
  std::string folder;   // below the volume's root, '/'-separated
  std::string name;     // as on the volume
  std::string windows;  // as Windows names it (C:\...)
  // The file that was examined: only that file is backed up and deleted.
  dev_t device = 0;
  ino_t inode = 0;
  // One of the volume's own registry hives (which a planted hive can make
  // match): never deleted.
  bool isHive = false;
  // The registry repair made at this match (in memory).
  RegistryRepairOutcome repair;
};

struct WormService {
  std::string name;               // UTF-8
  std::vector<std::string> keys;  // one per control set
};

struct OfflineScan {
  bool reportOnly = false;
  // The volume's hives; null when its registry cannot be repaired offline.
  HiveRegistry* registry = nullptr;
  Console* console = nullptr;
  const WindowsVolume* volume = nullptr;
  int root = -1;  // the volume's root folder, open
  // The readers, and how far they may read ahead of the walk.
  WalkLimits limits;
  // The worm's files, in the order found.
  std::vector<FoundFile> found;
  // Services that run one of them.
  std::vector<WormService> services;
  // Something could not be scanned or removed.
  bool failed = false;
};

// Walks each target and everything under it, in order. Stops early when the
// scan is cancelled (scanState.scanCancelled).
void WalkOfflineTrees(const std::vector<VolumePath>& targets, OfflineScan& scan);

// Every service, in every control set of the SYSTEM hive (the machine's
// "System" key), whose program is one of scan.found.
void FindWormServices(OfflineScan& scan);

// The lines of a report-only run: what was found, nothing changed.
void ReportFindings(const OfflineScan& scan);

// Where the backup of a cleaning run goes.
struct BackupPlace {
  std::string mountPoint;
  std::string dir;    // the user's folder, or empty for Scourix\backup-<stamp>
  std::string stamp;  // YYYYMMDD-hhmmss
};

// Cleans what the scan found. When a change of the registry repair could
// not be made, nothing is changed (every file stays for a second run).
// Otherwise it backs up every hive it will rewrite and every file it will
// delete, stages the new hives, records all of it (with the new hives'
// SHA-256) in the backup's manifest, then puts the hives in place (the
// machine's Software hive, which holds the worm's configuration key, last)
// and deletes the files only once every hive is in place. Services go with
// the hives. False, with the reason, when the backup could not be made:
// nothing was changed then.
bool CleanVolume(OfflineScan& scan, const BackupPlace& place, std::string& error);

// A service's ImagePath as the running system would read it: "\??\" dropped,
// %SystemRoot%, %windir% and \SystemRoot\ expanded, and a path without a
// drive taken as relative to the Windows directory. Quotes and arguments
// stay.
std::string ResolveImagePath(const std::string& imagePath, const std::string& windowsDirectory);

// Cancels the scan at the next file when the user interrupts the program
// (Ctrl-C) or it is asked to end; false when that could not be arranged.
bool CancelScanOnInterrupt();
