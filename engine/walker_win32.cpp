#include "engine/walker.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/scan_state.h"
#include "engine/text.h"
#include "win32/file.h"

namespace {

constexpr int kAbandoned = -1;

// Looking at an empty message queue costs a trip to the window server (under
// Wine more than the rest of a small file's scan). Once the queue was found
// empty it is looked at again only at the next clock tick, so a click or key
// is still answered within one tick, long before a person could tell.
struct QueueWatch {
  bool foundEmpty = false;
  DWORD emptyAt = 0;
};
QueueWatch queueWatch;

bool PumpAndCheckCancel() {
  PumpMessages();
  return scanState.scanCancelled != 0;
}

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// Junctions and symbolic links are not entered: they can loop, and they can
// lead out of the folder tree being scanned.
bool IsEnterable(const DirectorySearch& search) {
  return search.IsFolder() && !IsDotEntry(search.Entry().cFileName) && !search.IsReparsePoint();
}

void OfferToVirusTable(const char* path) {
  for (const VirusTableEntry* entry = virusTable; entry->name != nullptr; ++entry) {
    if (entry->check(entry->name, path) != 0) break;
  }
}

// One folder level: its files first, then each of its subfolders.
int WalkLevel(const char* pattern) {
  char path[kPathCapacity];
  const bool singleFile = scanState.memoryScanActive != 0;
  if (std::strlen(pattern) >= kPathCapacity) return scanState.filesScanned;  // nothing fits: nothing to search

  // The subfolders are searched for with a pattern of their own. When it is
  // the pattern of the files (C:\dir\*.* for both), the folder was listed
  // once already: its subfolders are taken from that listing, in its order,
  // instead of reading the folder a second time.
  char folderPattern[kPathCapacity];
  const PathBuild folderBuilt = BuildSubfolderPattern(pattern, folderPattern, sizeof folderPattern);
  const bool listedOnce = folderBuilt == PathBuild::Ok && std::strcmp(folderPattern, pattern) == 0;
  std::vector<std::string> subfolders;

  {
    DirectorySearch files(pattern);
    while (files.Next()) {
      if (PumpAndCheckCancel()) return 0;
      const WIN32_FIND_DATAA& entry = files.Entry();
      if (singleFile) {
        CopyText(path, sizeof path, pattern);
      } else {
        const PathBuild built = BuildEntryPath(pattern, entry.cFileName, path, sizeof path);
        if (built == PathBuild::NoDot) return kAbandoned;
        if (built == PathBuild::TooLong) continue;  // skipped, never cut
      }
      ShortenPath(path, scanState.currentObject, sizeof scanState.currentObject,
                  static_cast<int>(kDisplayPathLength));
      ShowCurrentObject();
      if (!files.IsFolder()) {
        if (!singleFile) ++scanState.filesScanned;
        OfferToVirusTable(path);
      } else if (listedOnce && IsEnterable(files)) {
        subfolders.emplace_back(entry.cFileName);
      }
      if (PumpAndCheckCancel()) return 0;
    }
  }

  if (folderBuilt == PathBuild::NoDot) return kAbandoned;
  if (folderBuilt == PathBuild::TooLong) return scanState.filesScanned;

  char nextPattern[kPathCapacity];
  auto enter = [&](const char* name) {
    const PathBuild next = BuildNextPattern(pattern, name, nextPattern, sizeof nextPattern);
    if (next == PathBuild::NoDot) return kAbandoned;
    if (next == PathBuild::TooLong) return 0;
    return WalkLevel(nextPattern) == kAbandoned ? kAbandoned : 0;
  };
  if (listedOnce) {
    for (const std::string& name : subfolders) {
      if (PumpAndCheckCancel()) return 0;
      if (enter(name.c_str()) == kAbandoned) return kAbandoned;
    }
    return scanState.filesScanned;
  }
  DirectorySearch folders(folderPattern);
  while (folders.Next()) {
    if (PumpAndCheckCancel()) return 0;
    if (!IsEnterable(folders)) continue;
    if (enter(folders.Entry().cFileName) == kAbandoned) return kAbandoned;
  }
  return scanState.filesScanned;
}

}  // namespace

void PumpMessages() {
  if (queueWatch.foundEmpty && GetTickCount() == queueWatch.emptyAt) return;
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    queueWatch.foundEmpty = true;
    queueWatch.emptyAt = GetTickCount();
    return;
  }
  queueWatch.foundEmpty = false;
  // Whatever the message: the Escape key reaches the scan as a key message
  // to whichever control has the focus, and this pump sees it before any
  // dialog could turn it into Cancel.
  if (LOWORD(msg.wParam) == VK_ESCAPE) {
    if (MessageBoxA(scanState.progressWindow, kCancelQuestion, kCancelQuestionTitle, MB_YESNO | MB_ICONINFORMATION) ==
        IDYES) {
      scanState.scanCancelled = 1;
    }
    return;
  }
  if (msg.message == WM_QUIT || msg.message == WM_DESTROY) {
    scanState.scanCancelled = 1;
    // Put the quit back, as a modal loop does, so that it still ends the program.
    if (msg.message == WM_QUIT) PostQuitMessage(static_cast<int>(msg.wParam));
    return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

int WalkDirectory(const char* pattern) {
  // Cleared once per walk, not per level: in single-file mode the subfolder
  // step may enter folders named like the file, and a nested level must not
  // erase the match the memory scan is waiting for.
  scanState.memoryMatchPending = 0;
  // What was posted before the walk is seen at its first look.
  queueWatch.foundEmpty = false;
  return WalkLevel(pattern);
}
