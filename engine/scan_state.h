// The one process-wide scan record, the remedy codes, the virus table and the
// text channel to the progress window. Portable: no windows.h here, so the
// logic above it also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/result_lines.h"

// The window handle type of windows.h (HWND is struct HWND__* there).
struct HWND__;
using WindowHandle = HWND__*;

constexpr size_t kPathCapacity = 260;   // every path buffer, terminator included
constexpr size_t kLineCapacity = 500;   // lineBuffer, terminator included
constexpr size_t kDisplayPathLength = 60;

// Action for an infected file. Disinfection is carried out as deletion.
enum RemedyAction : int {
  kRemedyNone = 0,
  kRemedyDisinfect = 100,
};

// Private messages of the progress window, sent synchronously with zero
// parameters: the text travels in scanState.
constexpr unsigned ShowObjectMessage = 0x000A;  // status line := currentObject
constexpr unsigned AppendLineMessage = 0x000B;  // result list += lineBuffer

struct ScanState {
  const char* caption = "Scourix Ver 1.0";
  const char* virusName = kVirusName;
  const char* productTitle = "Scourix Ver 1.0";
  const char* programName = "Scourix";

  WindowHandle progressWindow = nullptr;
  char lineBuffer[kLineCapacity] = {};
  char currentVirusName[kPathCapacity] = {};
  char currentObject[kPathCapacity] = {};

  uint8_t scanCancelled = 0;
  uint8_t reportStarted = 0;
  int currentAction = kRemedyNone;
  uint8_t memoryScanActive = 1;  // the memory scan clears it when it ends
  uint8_t memoryMatchPending = 0;
  int memoryRemedyAction = kRemedyNone;

  int filesScanned = 0;
  int filesInfected = 0;
  int filesDeleted = 0;
  int restartNeeded = 0;
  int osClass = 0;
  int memoryRestartNeeded = 0;
  // Report only (the unattended program's /report): matches are counted and
  // reported, and nothing is ended, deleted, queued or repaired.
  uint8_t reportOnly = 0;
  // Also repair the profiles whose hives are not loaded (the unattended
  // program on the NT family, which may run before anyone has logged on).
  uint8_t repairProfileHives = 0;
};

extern ScanState scanState;

// Virus table: ended by an entry whose name is null.
using CheckRoutine = int (*)(const char* name, const char* path);
struct VirusTableEntry {
  const char* name;
  CheckRoutine check;
};
extern const VirusTableEntry virusTable[];

// Sets the status line to currentObject (ShowObjectMessage).
void ShowCurrentObject();
// Formats one result line into lineBuffer (bounded), appends it to the
// result list (AppendLineMessage) and to the results log. Nothing is sent
// without a progress window. The list shows the line as formatted (a DEL is
// a legal character of a Windows name); where a line leaves the window, in
// the log, a console or a record, its control characters are escaped, so
// that one result is always one line there.
void AppendResultLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The last result line whole: lineBuffer holds as much of it as fits. The
// results log, and a console standing in for the progress window, take it
// from here.
const char* FullResultLine();

// Stands in for the progress window where there is none: a console front
// end, or a test that records what the engine sends. While one is attached,
// scanState.progressWindow holds a handle that stands for it (no window has
// that handle), and both messages go to it, synchronously, as they would
// to the window.
class ProgressReceiver {
 public:
  virtual ~ProgressReceiver() = default;
  virtual void ShowObject(const char* text) = 0;  // ShowObjectMessage: currentObject
  virtual void AppendLine(const char* line) = 0;  // AppendLineMessage: the whole line
};
// receiver must outlive its attachment; null detaches it and clears
// progressWindow.
void AttachProgressReceiver(ProgressReceiver* receiver);

// Delivers one of the two messages to progressWindow and returns once it has
// been handled. Defined by the platform: SendMessage on Windows, a recorder in
// the native tests.
void NotifyProgressWindow(unsigned message);
