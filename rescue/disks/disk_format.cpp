#include "rescue/disks/disk_format.h"

#include <cstring>

namespace {

bool StartsWith(const std::vector<uint8_t>& bytes, const char* magic, size_t offset = 0) {
  const size_t length = std::strlen(magic);
  return bytes.size() >= offset + length && std::memcmp(bytes.data() + offset, magic, length) == 0;
}

uint64_t ReadBe(const std::vector<uint8_t>& bytes, size_t offset, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value = value << 8 | bytes[offset + i];
  return value;
}

uint64_t ReadLe(const std::vector<uint8_t>& bytes, size_t offset, size_t size) {
  uint64_t value = 0;
  for (size_t i = size; i-- > 0;) value = value << 8 | bytes[offset + i];
  return value;
}

constexpr uint64_t kQcow2ExternalDataFile = 1u << 2;  // incompatible feature bit

DiskFormat Qcow2(const std::vector<uint8_t>& head) {
  if (head.size() < 104) return {"", "a qcow2 header cut short"};
  const uint64_t version = ReadBe(head, 4, 4);
  if (version != 2 && version != 3) return {"", "a qcow2 image of an unknown version"};
  // A backing file or an external data file is a path on this machine,
  // which the image chooses.
  if (ReadBe(head, 8, 8) != 0) return {"", "a qcow2 image with a backing file (give a standalone image)"};
  if (version == 3 && (ReadBe(head, 72, 8) & kQcow2ExternalDataFile) != 0) {
    return {"", "a qcow2 image with an external data file (give a standalone image)"};
  }
  return {"qcow2", ""};
}

// A sparse VMDK may carry a descriptor whose extents name other files: only
// one that names nothing but sparse extents in this file itself is taken.
DiskFormat Vmdk(const std::vector<uint8_t>& head, const std::vector<uint8_t>& descriptor, const std::string& name) {
  if (head.size() < 512) return {"", "a VMDK header cut short"};
  if (ReadLe(head, 4, 4) != 1 && ReadLe(head, 4, 4) != 2 && ReadLe(head, 4, 4) != 3) {
    return {"", "a VMDK image of an unknown version"};
  }
  if (ReadLe(head, 12, 8) == 0) return {"", "a VMDK header that describes no disk itself (its descriptor names the files)"};
  std::string text(descriptor.begin(), descriptor.end());
  text = text.substr(0, text.find('\0'));
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    for (const char* access : {"RW ", "RDONLY ", "NOACCESS "}) {
      if (line.rfind(access, 0) != 0) continue;
      const size_t quote = line.find('"');
      const std::string extent = quote == std::string::npos ? "" : line.substr(quote);
      if (line.find(" SPARSE ") == std::string::npos || extent != "\"" + name + "\"") {
        return {"", "a VMDK image whose descriptor names other files (give a monolithic VMDK image)"};
      }
    }
  }
  return {"vmdk", ""};
}

DiskFormat Vhd(const std::vector<uint8_t>& footer) {
  // Disk type 4: differencing, with locators naming its parent file.
  if (footer.size() >= 64 && ReadBe(footer, 60, 4) == 4) {
    return {"", "a differencing VHD image (give the whole disk)"};
  }
  return {"vpc", ""};
}

}  // namespace

DiskFormat DetectDiskFormat(const std::vector<uint8_t>& head, const std::vector<uint8_t>& tail,
                            const std::vector<uint8_t>& descriptor, const std::string& fileName) {
  if (StartsWith(head, "QFI\xfb")) return Qcow2(head);
  if (StartsWith(head, "vhdxfile")) return {"vhdx", ""};
  if (StartsWith(head, "KDMV")) return Vmdk(head, descriptor, fileName);
  // A descriptor names its extents by path: the same risk as a backing file.
  if (StartsWith(head, "# Disk DescriptorFile")) return {"", "a VMDK descriptor (give a monolithic VMDK image)"};
  if (StartsWith(head, "conectix")) return Vhd(head);
  if (StartsWith(tail, "conectix")) return Vhd(tail);
  if (StartsWith(head, "QEVM") || StartsWith(head, "WithoutFreeSpace") || StartsWith(head, "<<< ")) {
    return {"", "an image format that is not supported (raw, qcow2, VMDK, VHD and VHDX are)"};
  }
  return {"raw", ""};
}

uint64_t VmdkDescriptorOffset(const std::vector<uint8_t>& head, uint64_t& size) {
  if (!StartsWith(head, "KDMV") || head.size() < 44) {
    size = 0;
    return 0;
  }
  size = ReadLe(head, 36, 8) * 512;
  return ReadLe(head, 28, 8) * 512;
}
