// make-xp-volume DIR: writes the tests' infected Windows XP volume (hives
// included) into DIR, for scripts that need it on a real file system.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/support/test_volume.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-xp-volume DIR\n");
    return 2;
  }
  TestVolume volume("make-xp-volume");
  BuildInfectedXp(volume);
  std::error_code error;
  std::filesystem::copy(volume.Root(), argv[1],
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks,
                        error);
  if (error) {
    std::fprintf(stderr, "make-xp-volume: %s\n", error.message().c_str());
    return 1;
  }
  return 0;
}
