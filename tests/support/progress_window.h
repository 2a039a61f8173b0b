// A hidden window that stands in for the progress dialog in the Windows
// tests: it becomes scanState.progressWindow and records the 0x000A/0x000B
// traffic (see progress_recorder.h).
#pragma once

#include <windows.h>

#include <functional>

#include "tests/support/progress_recorder.h"

// Posted to the stand-in, it sets scanCancelled when dispatched: the way the
// Cancel button reaches the scan through the walker's message pump.
constexpr UINT kCancelScanMessage = WM_APP + 1;

class ProgressWindowStandIn {
 public:
  ProgressWindowStandIn();
  ~ProgressWindowStandIn();
  ProgressWindowStandIn(const ProgressWindowStandIn&) = delete;
  ProgressWindowStandIn& operator=(const ProgressWindowStandIn&) = delete;

  HWND Handle() const { return window_; }
  // Called for every recorded message, after it is recorded.
  std::function<void(const ProgressMessage&)> onMessage;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND window_ = nullptr;
};
