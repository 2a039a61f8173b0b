// scourix-demo: seeds harmless samples and the worm's registry entries into
// the prefix it runs in, starts
// Scourix and either leaves it to the person at the screen ("interactive")
// or clicks through it itself ("drive": OK, wait for the end, OK, OK),
// printing the status line and every result line and saving a picture of
// each dialog in C:\artifacts.
#include <cstdio>
#include <cstring>
#include <string>

#include "resources/resource.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/seed.h"
#include "tests/wine/test_files.h"
#include "tests/wine/test_registry.h"

namespace {

constexpr DWORD kWait = 30000;
constexpr DWORD kScanWait = 600000;

std::string ScourixPath() { return OwnFolder() + "\\Scourix.exe"; }

void Shot(HWND window, const char* name) {
  if (!e2e::SaveScreenshot(window, std::string("C:\\artifacts\\") + name + ".bmp")) {
    std::fprintf(stderr, "scourix-demo: no picture of %s\n", name);
  }
}

int Fail(const char* what) {
  std::fprintf(stderr, "scourix-demo: %s\n", what);
  return 1;
}

int Drive(e2e::Program& scourix) {
  const HWND intro = e2e::WaitForDialog(e2e::kCaption, IDC_QUESTION, scourix.Id(), kWait);
  if (intro == nullptr) return Fail("the intro dialog did not appear");
  Shot(intro, "1-intro");
  e2e::Press(intro, IDOK);
  const HWND progress = e2e::WaitForDialog(e2e::kCaption, IDC_RESULT_LIST, scourix.Id(), kWait);
  if (progress == nullptr) return Fail("the progress dialog did not appear");
  Shot(progress, "2-progress");
  if (!e2e::WaitUntil([&] { return e2e::ItemVisible(progress, IDC_FINISH); }, kScanWait)) {
    return Fail("the scan did not end");
  }
  Shot(progress, "3-progress-end");
  std::printf("Status: %s\n", e2e::ItemText(progress, IDC_STATUS).c_str());
  for (const std::string& line : e2e::ListLines(GetDlgItem(progress, IDC_RESULT_LIST))) {
    std::printf("%s\n", line.c_str());
  }
  std::fflush(stdout);
  e2e::Press(progress, IDC_FINISH);
  const HWND thanks = e2e::WaitForDialog(e2e::kCaption, IDC_HOME_LINK, scourix.Id(), kWait);
  if (thanks == nullptr) return Fail("the closing dialog did not appear");
  Shot(thanks, "4-thanks");
  e2e::Press(thanks, IDOK);
  return scourix.Wait(kWait) == 0 ? 0 : Fail("Scourix did not end");
}

}  // namespace

int main(int argc, char** argv) {
  const bool interactive = argc == 2 && std::strcmp(argv[1], "interactive") == 0;
  if (argc != 2 || (!interactive && std::strcmp(argv[1], "drive") != 0)) {
    std::fprintf(stderr, "usage: scourix-demo drive|interactive\n");
    return 2;
  }
  const e2e::Seed seed = e2e::SeedSamples(0);
  std::printf("Samples inside the scan targets:\n");
  for (const std::string& path : seed.inside) std::printf("  %s\n", path.c_str());
  std::printf("Sample outside them (must not be found):\n  %s\n", seed.outside.c_str());
  test_registry::SeedWorm();
  std::printf("The worm's registry entries: its key under %s, its start-up entry,\n"
              "the open commands of seven file types and the registry-tools policy.\n\n",
              test_registry::kExplorer.c_str());
  std::fflush(stdout);
  MakeFolders("C:\\artifacts");

  e2e::Program scourix(ScourixPath());
  if (!scourix.Started()) return Fail("cannot start Scourix.exe");
  if (interactive) {
    scourix.Wait(INFINITE);
    return 0;
  }
  return Drive(scourix);
}
