// make-samples DIR: writes the standard harmless sample set into DIR, one file
// per variant, and prints "MATCH" or "CLEAN" with each name: what detection
// must say of it.
#include <cstdio>
#include <string>

#include "tests/samples/pe_sample.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-samples DIR\n");
    return 2;
  }
  for (const samples::NamedSample& sample : samples::StandardVariants()) {
    const std::string path = std::string(argv[1]) + "/" + sample.name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
      std::fprintf(stderr, "make-samples: cannot write %s\n", path.c_str());
      return 1;
    }
    const bool written = std::fwrite(sample.bytes.data(), 1, sample.bytes.size(), f) == sample.bytes.size();
    if (std::fclose(f) != 0 || !written) {
      std::fprintf(stderr, "make-samples: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s\t%s\n", sample.matches ? "MATCH" : "CLEAN", sample.name.c_str());
  }
  return 0;
}
