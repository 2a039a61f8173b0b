// bench-tree: writes the benchmark's folder tree, the same bytes for the same
// arguments. Files are spread over the given folders (the scan targets, as
// Unix paths inside a Wine prefix or anywhere else): mostly small text-like
// files, a share of programs of realistic sizes, a few large files, and one
// sample of the worm per folder at a known place.
//
//   bench-tree FILES LIST ROOT:WINROOT [ROOT:WINROOT ...]
//
// Each root is created if missing. LIST receives the samples' paths, one per
// line, in Windows form (WINROOT + the path below ROOT), so that the Windows
// benchmark programs can write them anew after a scan deleted them.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/samples/pe_sample.h"

namespace {

// xorshift64*: small, fast and the same everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  // Uniform in [low, high].
  uint64_t Between(uint64_t low, uint64_t high) { return low + Next() % (high - low + 1); }
  // Spread evenly over the orders of magnitude between low and high.
  uint64_t LogBetween(uint64_t low, uint64_t high) {
    const double unit = static_cast<double>(Next() >> 11) / 9007199254740992.0;
    return static_cast<uint64_t>(static_cast<double>(low) * std::exp(unit * std::log(static_cast<double>(high) / low)));
  }

 private:
  uint64_t state_;
};

struct Root {
  std::string unix;
  std::string windows;
};

bool MakeFolders(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return !error;
}

bool WriteFile(const std::string& path, const samples::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Text-like filler: lines of a fixed vocabulary.
samples::Bytes TextFile(Random& random, size_t size) {
  static const char* const kWords[] = {"setup", "config", "windows", "value", "section", "default",
                                       "user", "system", "driver", "update", "help", "index"};
  samples::Bytes bytes;
  bytes.reserve(size);
  while (bytes.size() < size) {
    const char* word = kWords[random.Next() % 12];
    for (const char* c = word; *c != '\0' && bytes.size() < size; ++c) bytes.push_back(static_cast<uint8_t>(*c));
    if (bytes.size() < size) bytes.push_back(random.Next() % 8 == 0 ? '\n' : ' ');
  }
  return bytes;
}

// A program without the patterns: headers, then pseudo-random code bytes.
samples::Bytes ProgramFile(Random& random, size_t size) {
  samples::SampleOptions options;
  options.firstPattern = false;
  options.secondPattern = false;
  samples::Bytes bytes = samples::BuildSample(options);
  const size_t headerEnd = bytes.size();
  bytes.resize(size > headerEnd ? size : headerEnd);
  for (size_t i = headerEnd; i + 8 <= bytes.size(); i += 8) {
    const uint64_t word = random.Next();
    for (int b = 0; b < 8; ++b) bytes[i + b] = static_cast<uint8_t>(word >> (8 * b));
  }
  return bytes;
}

const char* const kExtensions[] = {".txt", ".ini", ".log", ".inf", ".htm", ".xml", ".dat", ".cfg"};
const char* const kProgramExtensions[] = {".exe", ".dll", ".sys", ".ocx"};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench-tree FILES LIST ROOT:WINROOT...\n");
    return 2;
  }
  const long files = std::strtol(argv[1], nullptr, 10);
  if (files < 1) {
    std::fprintf(stderr, "bench-tree: FILES must be a positive number\n");
    return 2;
  }
  std::vector<Root> roots;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    // The Unix root has no colon; the Windows root has its drive's.
    const size_t split = arg.find(':');
    if (split == std::string::npos) {
      std::fprintf(stderr, "bench-tree: a root is ROOT:WINROOT, got %s\n", argv[i]);
      return 2;
    }
    roots.push_back({arg.substr(0, split), arg.substr(split + 1)});
  }

  Random random(0x5C0u + static_cast<uint64_t>(files));
  MakeFolders(std::filesystem::path(argv[2]).parent_path().string());
  std::ofstream list(argv[2], std::ios::trunc);
  if (!list) {
    std::fprintf(stderr, "bench-tree: cannot write %s\n", argv[2]);
    return 1;
  }
  const samples::Bytes worm = samples::BuildSample();
  uint64_t bytesWritten = 0;
  const long large = files >= 20000 ? files / 20000 : 1;  // 64 MB each
  const long perRoot = files / static_cast<long>(roots.size());

  for (size_t r = 0; r < roots.size(); ++r) {
    const Root& root = roots[r];
    const long count = r + 1 == roots.size() ? files - perRoot * static_cast<long>(roots.size() - 1) : perRoot;
    std::string folder;
    long inFolder = 0;
    long folderSize = 0;
    int folderIndex = 0;
    for (long i = 0; i < count; ++i) {
      if (inFolder == folderSize) {
        // A new folder, one to four levels below the root, 5 to 60 files.
        const int depth = static_cast<int>(random.Between(1, 4));
        folder = root.unix + "/bench";
        for (int d = 0; d < depth; ++d) folder += "/f" + std::to_string(folderIndex) + "-" + std::to_string(d);
        ++folderIndex;
        if (!MakeFolders(folder)) return 1;
        folderSize = static_cast<long>(random.Between(5, 60));
        inFolder = 0;
      }
      ++inFolder;
      const std::string stem = folder + "/file" + std::to_string(i);
      samples::Bytes bytes;
      std::string path;
      const uint64_t kind = random.Next() % 100;
      if (i == count / 2) {
        path = stem + ".exe";  // the worm's sample
        bytes = worm;
        std::string windows = root.windows + path.substr(root.unix.size());
        for (char& c : windows) if (c == '/') c = '\\';
        list << windows << "\r\n";
      } else if (r == 0 && i < large) {
        path = stem + ".cab";
        bytes = TextFile(random, 64u << 20);
      } else if (kind < 12) {
        path = stem + kProgramExtensions[random.Next() % 4];
        bytes = ProgramFile(random, static_cast<size_t>(random.LogBetween(4 << 10, 256 << 10)));
      } else {
        path = stem + kExtensions[random.Next() % 8];
        bytes = TextFile(random, static_cast<size_t>(random.LogBetween(100, 8 << 10)));
      }
      if (!WriteFile(path, bytes)) {
        std::fprintf(stderr, "bench-tree: cannot write %s\n", path.c_str());
        return 1;
      }
      bytesWritten += bytes.size();
    }
  }
  std::printf("bench-tree: %ld files, %.0f MB, %zu samples\n", files, static_cast<double>(bytesWritten) / 1e6,
              roots.size());
  return list ? 0 : 1;
}
