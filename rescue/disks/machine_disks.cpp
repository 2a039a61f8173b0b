#include "rescue/disks/machine_disks.h"

#include <fcntl.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "posix/fd_io.h"
#include "posix/unique_fd.h"
#include "rescue/volume/folder_listing.h"

namespace {

// The names in a folder, sorted (sysfs lists its disks as links).
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const FolderEntry& entry : ListFolder(folder)) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// One line of the mount table: the file system's "major:minor", and the
// device name of its source when that is a device ("sdb1"; else empty).
struct Mount {
  std::string number;
  std::string device;
};

std::vector<Mount> ReadMounts(const std::string& mountInfo) {
  std::vector<Mount> mounts;
  std::ifstream in(mountInfo);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string id, parent;
    Mount mount;
    if (!(fields >> id >> parent >> mount.number)) continue;
    const size_t separator = line.find(" - ");
    std::istringstream after(separator == std::string::npos ? "" : line.substr(separator + 3));
    std::string type, source;
    if (after >> type >> source && source.rfind("/dev/", 0) == 0) mount.device = source.substr(source.rfind('/') + 1);
    mounts.push_back(mount);
  }
  return mounts;
}

// "major:minor" of every mounted file system and the device names of their
// sources: btrfs, for one, shows a number of its own, not its device's.
void MountedDevices(const std::string& mountInfo, std::set<std::string>& numbers, std::set<std::string>& names) {
  for (const Mount& mount : ReadMounts(mountInfo)) {
    numbers.insert(mount.number);
    if (!mount.device.empty()) names.insert(mount.device);
  }
}

std::set<std::string> SwapNames(const std::string& swaps) {
  std::set<std::string> names;
  std::ifstream in(swaps);
  for (std::string line; std::getline(in, line);) {
    const std::string device = line.substr(0, line.find_first_of(" \t"));
    if (device.rfind("/dev/", 0) == 0) names.insert(device.substr(5));
  }
  return names;
}

// What the boot sector at the start of the device says it holds.
VolumeKind KindOf(const std::string& device) {
  const UniqueFd file(open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  unsigned char sector[512];
  size_t got = 0;
  if (!file || !ReadFullyAt(file.Get(), 0, sector, sizeof sector, got) || got < 90) return VolumeKind::None;
  if (std::memcmp(sector + 3, "NTFS    ", 8) == 0) return VolumeKind::Ntfs;
  if (std::memcmp(sector + 82, "FAT32   ", 8) == 0) return VolumeKind::Fat32;
  if (std::memcmp(sector + 3, "-FVE-FS-", 8) == 0) return VolumeKind::BitLocker;
  return VolumeKind::None;
}

bool IsWholeDiskName(const std::string& name) {
  for (const char* skipped : {"loop", "ram", "zram", "sr", "dm-", "md", "fd"}) {
    if (name.rfind(skipped, 0) == 0) return false;
  }
  return true;
}

}  // namespace

namespace {

// Each disk nothing uses, with its partitions (the disk alone when it has
// none) and what each holds.
struct UnusedDisk {
  std::string name;
  std::vector<std::string> partitions;
};

std::vector<UnusedDisk> UnusedDisks(const MachinePaths& paths) {
  std::set<std::string> mounted, mountedNames;
  MountedDevices(paths.mountInfo, mounted, mountedNames);
  const std::set<std::string> swaps = SwapNames(paths.swaps);
  std::vector<UnusedDisk> disks;
  for (const std::string& disk : Entries(paths.sysBlock)) {
    if (!IsWholeDiskName(disk)) continue;
    const std::string folder = paths.sysBlock + "/" + disk;
    // The disk and its partitions (the subfolders that have a "partition" file).
    std::vector<std::string> parts = {disk};
    for (const std::string& entry : Entries(folder)) {
      if (!FirstLine(folder + "/" + entry + "/partition").empty()) parts.push_back(entry);
    }
    bool used = false;
    for (const std::string& part : parts) {
      const std::string partFolder = part == disk ? folder : folder + "/" + part;
      used = used || mounted.count(FirstLine(partFolder + "/dev")) > 0 || mountedNames.count(part) > 0 ||
             swaps.count(part) > 0 || !Entries(partFolder + "/holders").empty();
    }
    if (used) continue;
    if (parts.size() > 1) parts.erase(parts.begin());
    disks.push_back({disk, parts});
  }
  return disks;
}

}  // namespace

std::vector<std::string> UnusedWindowsDisks(const MachinePaths& paths) {
  std::vector<std::string> disks;
  for (const UnusedDisk& disk : UnusedDisks(paths)) {
    // The disk's own boot sector too: a partition table may leave it a file system.
    const VolumeKind own = KindOf(paths.dev + "/" + disk.name);
    bool windows = own == VolumeKind::Ntfs || own == VolumeKind::Fat32;
    for (const std::string& part : disk.partitions) {
      const VolumeKind kind = KindOf(paths.dev + "/" + part);
      windows = windows || kind == VolumeKind::Ntfs || kind == VolumeKind::Fat32;
    }
    if (windows) disks.push_back(paths.dev + "/" + disk.name);
  }
  return disks;
}

std::vector<MachineVolume> UnusedWindowsVolumes(const MachinePaths& paths) {
  std::vector<MachineVolume> volumes;
  for (const UnusedDisk& disk : UnusedDisks(paths)) {
    for (const std::string& part : disk.partitions) {
      const VolumeKind kind = KindOf(paths.dev + "/" + part);
      if (kind != VolumeKind::None) volumes.push_back({paths.dev + "/" + part, kind});
    }
  }
  return volumes;
}

const char* VolumeKindName(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::Ntfs:
      return "ntfs";
    case VolumeKind::Fat32:
      return "fat32";
    case VolumeKind::BitLocker:
      return "bitlocker";
    case VolumeKind::None:
      break;
  }
  return "none";
}

namespace {

// The block device's name behind a mounted file system's number: its own
// entry in sysfs, or for a file system without one (FUSE, btrfs) the source
// mountinfo gives it.
std::string DeviceName(const std::string& number, const MachinePaths& paths) {
  for (const std::string& disk : Entries(paths.sysBlock)) {
    const std::string folder = paths.sysBlock + "/" + disk;
    if (FirstLine(folder + "/dev") == number) return disk;
    for (const std::string& entry : Entries(folder)) {
      if (FirstLine(folder + "/" + entry + "/dev") == number) return entry;
    }
  }
  for (const Mount& mount : ReadMounts(paths.mountInfo)) {
    if (mount.number == number && !mount.device.empty()) return mount.device;
  }
  return "";
}

// The whole disk a device (a disk or one of its partitions) belongs to.
std::string DiskOf(const std::string& device, const MachinePaths& paths) {
  if (device.empty() || device.find('/') != std::string::npos || device == "." || device == "..") return "";
  for (const std::string& disk : Entries(paths.sysBlock)) {
    if (disk == device || !FirstLine(paths.sysBlock + "/" + disk + "/" + device + "/dev").empty()) return disk;
  }
  return "";
}

bool IsVirtualDisk(const std::string& disk, const MachinePaths& paths) {
  for (const char* prefix : {"vd", "xvd", "loop", "nbd", "zram", "rbd"}) {
    if (disk.rfind(prefix, 0) == 0) return true;
  }
  std::string vendor = FirstLine(paths.sysBlock + "/" + disk + "/device/vendor");
  vendor.erase(vendor.find_last_not_of(' ') + 1);
  for (const char* virtualVendor : {"QEMU", "VMware", "VMware,", "VBOX", "Msft", "Xen", "Google", "Amazon"}) {
    if (vendor == virtualVendor) return true;
  }
  return false;
}

}  // namespace

int ReadersForDevice(unsigned long long device, const MachinePaths& paths) {
  const std::string number = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  const std::string disk = DiskOf(DeviceName(number, paths), paths);
  if (disk.empty()) return kReadersFast;
  const std::string rotational = FirstLine(paths.sysBlock + "/" + disk + "/queue/rotational");
  return rotational == "1" && !IsVirtualDisk(disk, paths) ? kReadersRotating : kReadersFast;
}
