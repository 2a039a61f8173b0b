// Drives Scourix's windows from another process, the way a person would:
// find dialogs by title and content, read statics and list lines, press
// buttons, answer message boxes, and take screenshots. Used by the
// end-to-end tests and by the demo.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

constexpr char kCaption[] = "Scourix Ver 1.0";

// A program started by the driver; the handles close with the object.
class Program {
 public:
  explicit Program(const std::string& path, const std::string& arguments = "");
  // The same with standard output into the file output and standard error
  // into errors (output too when empty), both made anew, and the creation
  // flags given (CREATE_NEW_PROCESS_GROUP, say).
  Program(const std::string& path, const std::string& arguments, const std::string& output,
          const std::string& errors = "", DWORD flags = 0);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return process_.hProcess != nullptr; }
  // Waits for the end; returns the exit code, or STILL_ACTIVE on time-out.
  DWORD Wait(DWORD milliseconds);
  bool Running() const;
  DWORD Id() const { return process_.dwProcessId; }

 private:
  void Start(const std::string& path, const std::string& arguments, STARTUPINFOA& startup, bool inherit, DWORD flags);

  PROCESS_INFORMATION process_{};
};

// A visible top-level dialog titled title, of process (0: any), that holds a
// control with this id (0: any). Waits up to milliseconds; null when none came.
HWND WaitForDialog(const char* title, int controlId, DWORD process, DWORD milliseconds);

// Waits until predicate() holds, polling; false on time-out.
template <class Predicate>
bool WaitUntil(Predicate predicate, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (!predicate()) {
    if (GetTickCount() - start > milliseconds) return false;
    Sleep(20);
  }
  return true;
}

std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
std::vector<std::string> ListLines(HWND list);
bool ItemVisible(HWND dialog, int id);

// Clicks a button by posting its command (a send would block on a message box).
void Press(HWND dialog, int id);
// Reports a click on a static control with SS_NOTIFY to its dialog.
void ClickStatic(HWND dialog, int id);
// Posts the Escape key to the control that has the keyboard focus in
// window's thread.
void PressEscape(HWND window);

// Answers a message box with the button id; returns the box's text.
std::string AnswerMessageBox(HWND box, int button);

// Saves the window's pixels as a 24-bit BMP file; false when it could not.
bool SaveScreenshot(HWND window, const std::string& path);

}  // namespace e2e
