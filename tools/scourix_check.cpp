// scourix-check FILE...: the program's verdict on each file, one line each.
// Exit status: 0 nothing matched, 1 something matched, 2 usage error or an
// argument that could not be read (the others are still examined).
#include <cstdio>

#include "engine/pe_signature.h"

#ifdef _WIN32
#include "engine/files_win32.h"
using FileSource = Win32FileSource;
#else
#include "engine/files_posix.h"
using FileSource = PosixFileSource;
#endif

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scourix-check FILE...\n");
    return 2;
  }
  bool matched = false;
  bool unreadable = false;
  for (int i = 1; i < argc; ++i) {
    FileSource file(argv[i]);
    if (!file.Ok()) {
      std::fprintf(stderr, "scourix-check: cannot read %s\n", argv[i]);
      unreadable = true;
      continue;
    }
    const bool match = ExamineFile(file).count > 0;
    matched = matched || match;
    std::printf("%s\t%s\n", match ? "MATCH" : "CLEAN", argv[i]);
  }
  if (unreadable) return 2;
  return matched ? 1 : 0;
}
