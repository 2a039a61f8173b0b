// A harmless program for the tests to mark with the signature and run:
//   sample-host                 exits with 7
//   sample-host sleep MS        waits MS milliseconds first (a running "worm")
//   sample-host hold PATH MS    keeps PATH open for MS milliseconds, readable
//                               by others but not deletable (a file in use);
//                               PATH.held appears once it is open
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "sleep") == 0) Sleep(static_cast<DWORD>(std::atoi(argv[2])));
  if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
    const HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    const std::string marker = std::string(argv[2]) + ".held";
    CloseHandle(CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(static_cast<DWORD>(std::atoi(argv[3])));
    CloseHandle(file);
  }
  return 7;
}
