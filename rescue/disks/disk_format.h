// What kind of disk image a file is, from its own bytes, for libguestfs:
// told, never guessed by qemu. Whatever could make qemu open another file of
// this machine (a qcow2 backing or external data file, a VMDK descriptor's
// extents, a differencing VHD's parent) is refused: the image chooses it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DiskFormat {
  std::string name;     // as qemu names it: raw, qcow2, vmdk, vpc (VHD), vhdx; empty: refused
  std::string problem;  // why it is refused
};

// head: the file's first bytes (at least 512 where it has them); tail: its
// last 512 bytes (a fixed VHD keeps its footer there); descriptor: a sparse
// VMDK's embedded descriptor (see VmdkDescriptorOffset), and fileName the
// image's own name, which its extents must name.
DiskFormat DetectDiskFormat(const std::vector<uint8_t>& head, const std::vector<uint8_t>& tail,
                            const std::vector<uint8_t>& descriptor = {}, const std::string& fileName = "");

// Where a sparse VMDK's embedded descriptor lies (bytes), and its size;
// 0 when head is not one.
uint64_t VmdkDescriptorOffset(const std::vector<uint8_t>& head, uint64_t& size);
