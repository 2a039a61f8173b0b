// What kind of disk image a file is, from its own bytes, for libguestfs:
// told, never guessed by qemu (a raw image that starts like a qcow2 header
// would otherwise be opened as one, backing file and all).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DiskFormat {
  std::string name;     // as qemu names it: raw, qcow2, vmdk, vpc (VHD), vhdx; empty: refused
  std::string problem;  // why it is refused
};

// head: the file's first bytes (at least 512 where it has them); tail: its
// last 512 bytes (a fixed VHD keeps its footer there).
DiskFormat DetectDiskFormat(const std::vector<uint8_t>& head, const std::vector<uint8_t>& tail);
