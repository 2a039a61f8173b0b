// A tooltip control that shows a text over one tool window.
#pragma once

#include <windows.h>

class CToolTip {
 public:
  CToolTip() = default;
  ~CToolTip() { Destroy(); }
  CToolTip(const CToolTip&) = delete;
  CToolTip& operator=(const CToolTip&) = delete;

  // Creates the tooltip and registers the whole client area of tool as one
  // tool with this id and text (copied by the control).
  bool Create(HWND tool, UINT id, const char* text);
  void Destroy();
  HWND GetSafeHwnd() const { return tooltip_; }

 private:
  HWND tooltip_ = nullptr;
  HWND owner_ = nullptr;
};
