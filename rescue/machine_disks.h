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
