// make-disk-image IMAGE FORMAT FS TREE...: a disk image (raw or qcow2) with
// an MBR and one partition per TREE, formatted FS (ntfs or vfat) and filled
// with that folder's files, made through libguestfs (no root needed).
#include <guestfs.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int64_t kFirstSector = 2048;

// Sectors for the largest tree, with room for the file system's own.
int64_t PartitionSectors(const std::vector<std::string>& trees) {
  uint64_t largest = 0;
  for (const std::string& tree : trees) {
    uint64_t bytes = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(tree, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_regular_file(error)) bytes += (it->file_size(error) + 4095) / 4096 * 4096;
    }
    largest = std::max(largest, bytes);
  }
  return static_cast<int64_t>((largest + largest / 2) / 512) + 64 * 2048;
}

int Fail(guestfs_h* g, const char* what) {
  std::fprintf(stderr, "make-disk-image: %s: %s\n", what, g != nullptr ? guestfs_last_error(g) : "");
  if (g != nullptr) guestfs_close(g);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: make-disk-image IMAGE raw|qcow2 ntfs|vfat TREE...\n");
    return 2;
  }
  const std::string image = argv[1], format = argv[2], fs = argv[3];
  const std::vector<std::string> trees(argv + 4, argv + argc);
  const int64_t partitionSectors = PartitionSectors(trees);
  const int64_t size = (kFirstSector + partitionSectors * static_cast<int64_t>(trees.size()) + 2048) * 512;
  for (bool tcg : {false, true}) {
    guestfs_h* g = guestfs_create();
    if (g == nullptr) return Fail(nullptr, "guestfs_create");
    guestfs_set_error_handler(g, nullptr, nullptr);
    char forceTcg[] = "force_tcg";
    char* settings[] = {forceTcg, nullptr};
    if (tcg) guestfs_set_backend_settings(g, settings);
    if (guestfs_disk_create(g, image.c_str(), format.c_str(), size, -1) != 0) return Fail(g, "disk_create");
    if (guestfs_add_drive_opts(g, image.c_str(), GUESTFS_ADD_DRIVE_OPTS_FORMAT, format.c_str(), -1) != 0) {
      return Fail(g, "add_drive");
    }
    if (guestfs_launch(g) != 0) {
      guestfs_close(g);
      if (tcg) return Fail(nullptr, "launch");
      continue;  // KVM did not start: software emulation
    }
    if (guestfs_part_init(g, "/dev/sda", "mbr") != 0) return Fail(g, "part_init");
    for (size_t i = 0; i < trees.size(); ++i) {
      const int64_t start = kFirstSector + partitionSectors * static_cast<int64_t>(i);
      if (guestfs_part_add(g, "/dev/sda", "p", start, start + partitionSectors - 1) != 0) return Fail(g, "part_add");
    }
    for (size_t i = 0; i < trees.size(); ++i) {
      const std::string device = "/dev/sda" + std::to_string(i + 1);
      const std::string tar = image + ".tree.tar";
      const std::string pack = "tar -C '" + trees[i] + "' -cf '" + tar + "' .";
      if (std::system(pack.c_str()) != 0) return Fail(g, "tar");
      if (guestfs_mkfs(g, fs.c_str(), device.c_str()) != 0 || guestfs_mount(g, device.c_str(), "/") != 0 ||
          guestfs_tar_in(g, tar.c_str(), "/") != 0 || guestfs_umount_all(g) != 0) {
        return Fail(g, "filling a partition");
      }
      std::remove(tar.c_str());
    }
    if (guestfs_shutdown(g) != 0) return Fail(g, "shutdown");
    guestfs_close(g);
    return 0;
  }
  return 1;
}
