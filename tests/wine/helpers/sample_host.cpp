// A harmless program for the tests to mark with the signature and run:
// "sample-host" exits with 7; "sample-host sleep MS" waits MS milliseconds
// first, so that a test can find it running.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "sleep") == 0) Sleep(static_cast<DWORD>(std::atoi(argv[2])));
  return 7;
}
