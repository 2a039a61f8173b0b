#include "rescue/machine_disks.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "posix/fd_io.h"
#include "rescue/folder_listing.h"
#include "posix/unique_fd.h"

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

// "major:minor" of every mounted file system and the device names of their
// sources: btrfs, for one, shows a number of its own, not its device's.
void MountedDevices(const std::string& mountInfo, std::set<std::string>& numbers, std::set<std::string>& names) {
  std::ifstream in(mountInfo);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string id, parent, number;
    if (fields >> id >> parent >> number) numbers.insert(number);
    const size_t separator = line.find(" - ");
    if (separator == std::string::npos) continue;
    std::istringstream after(line.substr(separator + 3));
    std::string type, source;
    if (after >> type >> source && source.rfind("/dev/", 0) == 0) names.insert(source.substr(source.rfind('/') + 1));
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

// An NTFS or FAT32 boot sector at the start of the device.
bool HoldsWindowsFileSystem(const std::string& device) {
  const UniqueFd file(open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  unsigned char sector[512];
  size_t got = 0;
  if (!file || !ReadFullyAt(file.Get(), 0, sector, sizeof sector, got) || got < 90) return false;
  return std::memcmp(sector + 3, "NTFS    ", 8) == 0 || std::memcmp(sector + 82, "FAT32   ", 8) == 0;
}

bool IsWholeDiskName(const std::string& name) {
  for (const char* skipped : {"loop", "ram", "zram", "sr", "dm-", "md", "fd"}) {
    if (name.rfind(skipped, 0) == 0) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> UnusedWindowsDisks(const MachinePaths& paths) {
  std::set<std::string> mounted, mountedNames;
  MountedDevices(paths.mountInfo, mounted, mountedNames);
  const std::set<std::string> swaps = SwapNames(paths.swaps);
  std::vector<std::string> disks;
  for (const std::string& disk : Entries(paths.sysBlock)) {
    if (!IsWholeDiskName(disk)) continue;
    const std::string folder = paths.sysBlock + "/" + disk;
    // The disk and its partitions (the subfolders that have a "partition" file).
    std::vector<std::string> parts = {disk};
    for (const std::string& entry : Entries(folder)) {
      if (!FirstLine(folder + "/" + entry + "/partition").empty()) parts.push_back(entry);
    }
    bool used = false, windows = false;
    for (const std::string& part : parts) {
      const std::string partFolder = part == disk ? folder : folder + "/" + part;
      used = used || mounted.count(FirstLine(partFolder + "/dev")) > 0 || mountedNames.count(part) > 0 ||
             swaps.count(part) > 0 ||
             !Entries(partFolder + "/holders").empty();
      windows = windows || HoldsWindowsFileSystem(paths.dev + "/" + part);
    }
    if (!used && windows) disks.push_back(paths.dev + "/" + disk);
  }
  return disks;
}
