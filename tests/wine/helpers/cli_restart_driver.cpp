// cli-restart-driver: a deployment tool running "scourix-cli /restart" where
// a copy of the worm is in use. The copy is queued, the record written, and
// Windows restarted, which ends every program of the prefix (this one too).
// Prints "returned N" when this program is still alive 20 seconds after
// scourix-cli came back.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/e2e/driver.h"
#include "tests/samples/pe_sample.h"
#include "tests/wine/test_files.h"

int main() {
  const std::string held = "C:\\Program Files\\Held\\held.exe";
  samples::Bytes program = ReadBytes(OwnFolder() + "\\sample-host.exe");
  if (!MakeFolders("C:\\Program Files\\Held") || !MakeFolders("C:\\records") ||
      !samples::AddSignatureSection(program) || !WriteBytes(held, program)) {
    return 3;
  }
  e2e::Program holder(OwnFolder() + "\\sample-host.exe", "hold \"" + held + "\" 120000");
  if (!holder.Started() || !e2e::WaitUntil([&] { return Exists(held + ".held"); }, 10000)) return 4;
  std::printf("held\n");
  std::fflush(stdout);
  e2e::Program cli(OwnFolder() + "\\scourix-cli.exe", "/restart /quiet /record:C:\\records");
  const DWORD status = cli.Wait(120000);
  // ExitWindowsEx returns before the restart ends the programs.
  Sleep(20000);
  std::printf("returned %lu\n", status);
  return 5;
}
