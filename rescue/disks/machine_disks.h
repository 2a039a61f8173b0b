// --all: the disks of this machine that may hold a Windows system volume and
// that nothing uses: whole disks (not loop, RAM, optical or device-mapper
// devices) none of whose partitions is mounted, used as swap or held by
// another device (LVM, RAID), with an NTFS or FAT32 file system on the disk
// or on one of its partitions. libguestfs then says whether Windows is there.
#pragma once

#include <string>
#include <vector>

struct MachinePaths {
  std::string sysBlock = "/sys/block";
  std::string mountInfo = "/proc/self/mountinfo";
  std::string swaps = "/proc/swaps";
  std::string dev = "/dev";
};

// The disks' device paths (dev/NAME), in name order.
std::vector<std::string> UnusedWindowsDisks(const MachinePaths& paths);

// What a volume's boot sector says it is.
enum class VolumeKind { None, Ntfs, Fat32, BitLocker };
const char* VolumeKindName(VolumeKind kind);

// --list-volumes, for a system booted from a stick that mounts and cleans
// the machine's volumes itself: the partitions of those same disks (a disk
// without partitions, the disk itself) that hold NTFS, FAT32 or BitLocker,
// in name order. The medium the system runs from is in use, so never
// among them.
struct MachineVolume {
  std::string device;
  VolumeKind kind;
};
std::vector<MachineVolume> UnusedWindowsVolumes(const MachinePaths& paths);

// How many readers suit the disk a volume is on: a rotating disk answers one
// request at a time and seeks between them, so it gets few; an SSD, an NVMe
// disk or a virtual disk (which reports itself rotating more often than not)
// answers many at once. A volume whose disk cannot be told (a network or
// memory file system) counts as fast.
constexpr int kReadersRotating = 4;
constexpr int kReadersFast = 16;
// device: the volume's st_dev; a FUSE mount (ntfs-3g) is traced to its source
// through mountInfo.
int ReadersForDevice(unsigned long long device, const MachinePaths& paths);
