// restart-probe queue|restart: makes C:\probe\doomed.txt, queues its
// deletion at the next start the way Scourix does, and with "restart"
// restarts Windows as Scourix does. Prints "queued" once the deletion is
// queued. A restart only begins when ExitWindowsEx returns; a probe still
// alive 20 seconds later prints "restart refused".
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "cleaning/system_restart.h"
#include "engine/remedy.h"

int main(int argc, char** argv) {
  if (argc != 2 || (std::strcmp(argv[1], "queue") != 0 && std::strcmp(argv[1], "restart") != 0)) return 2;
  CreateDirectoryA("C:\\probe", nullptr);
  const HANDLE file = CreateFileA("C:\\probe\\doomed.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  CloseHandle(file);
  if (!QueueRemovalAtRestart("C:\\probe\\doomed.txt")) return 4;
  std::printf("queued\n");
  std::fflush(stdout);
  if (std::strcmp(argv[1], "restart") == 0) {
    RestartWindows();
    Sleep(20000);
    std::printf("restart refused\n");
    return 5;
  }
  return 0;
}
