// The application object: one per program, constructed before WinMain.
// WinMain calls its InitInstance, which runs the program; the process ends
// when InitInstance returns.
#pragma once

#include <windows.h>

class CWindow;

class CApplication {
 public:
  CApplication();
  virtual ~CApplication();
  CApplication(const CApplication&) = delete;
  CApplication& operator=(const CApplication&) = delete;

  // Runs the program. FALSE ends it (the usual answer of a dialog program).
  virtual BOOL InitInstance() = 0;

  // The window that owns dialogs run without an explicit owner, once it exists.
  HWND MainWindow() const;
  void SetMainWindow(CWindow* window) { mainWindow_ = window; }

  static CApplication* Get() { return instance_; }

 private:
  static CApplication* instance_;
  CWindow* mainWindow_ = nullptr;
};
