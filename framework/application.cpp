#include "framework/application.h"

#include <commctrl.h>

#include "framework/window.h"

CApplication* CApplication::instance_ = nullptr;

CApplication::CApplication() { instance_ = this; }

CApplication::~CApplication() {
  if (instance_ == this) instance_ = nullptr;
}

HWND CApplication::MainWindow() const { return mainWindow_ != nullptr ? mainWindow_->GetSafeHwnd() : nullptr; }

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CApplication* app = CApplication::Get();
  if (app == nullptr) return 1;
  ::InitCommonControls();  // tooltips
  app->InitInstance();
  return 0;
}
