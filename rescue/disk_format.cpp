#include "rescue/disk_format.h"

#include <cstring>

namespace {

bool StartsWith(const std::vector<uint8_t>& bytes, const char* magic, size_t offset = 0) {
  const size_t length = std::strlen(magic);
  return bytes.size() >= offset + length && std::memcmp(bytes.data() + offset, magic, length) == 0;
}

uint64_t ReadBe64(const std::vector<uint8_t>& bytes, size_t offset) {
  uint64_t value = 0;
  for (size_t i = 0; i < 8; ++i) value = value << 8 | bytes[offset + i];
  return value;
}

}  // namespace

DiskFormat DetectDiskFormat(const std::vector<uint8_t>& head, const std::vector<uint8_t>& tail) {
  if (StartsWith(head, "QFI\xfb")) {
    // A backing file is a path on this machine, which the image chooses.
    if (head.size() < 16) return {"", "a qcow2 header cut short"};
    if (ReadBe64(head, 8) != 0) return {"", "a qcow2 image with a backing file (give a standalone image)"};
    return {"qcow2", ""};
  }
  if (StartsWith(head, "vhdxfile")) return {"vhdx", ""};
  if (StartsWith(head, "KDMV")) return {"vmdk", ""};
  // A descriptor names its extents by path: the same risk as a backing file.
  if (StartsWith(head, "# Disk DescriptorFile")) return {"", "a VMDK descriptor (give a monolithic VMDK image)"};
  if (StartsWith(head, "conectix") || StartsWith(tail, "conectix")) return {"vpc", ""};
  if (StartsWith(head, "QEVM") || StartsWith(head, "WithoutFreeSpace") || StartsWith(head, "<<< ")) {
    return {"", "an image format that is not supported (raw, qcow2, VMDK, VHD and VHDX are)"};
  }
  return {"raw", ""};
}
