#include "framework/control.h"

CControl::~CControl() { Unsubclass(); }

bool CControl::SubclassDlgItem(int id, HWND parent) {
  const HWND control = ::GetDlgItem(parent, id);
  if (control == nullptr || window_ != nullptr) return false;
  Attach(control);
  PreSubclassWindow();
  originalProc_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CControl::SubclassProc)));
  if (originalProc_ == nullptr) {
    Detach();
    return false;
  }
  return true;
}

void CControl::Unsubclass() {
  if (window_ == nullptr) return;
  // Put the original procedure back only if nobody subclassed over us since.
  if (::GetWindowLongPtrA(window_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&CControl::SubclassProc)) {
    ::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(originalProc_));
  }
  Detach();
}

LRESULT CControl::Default() {
  return ::CallWindowProcA(originalProc_, window_, current_.message, current_.wParam, current_.lParam);
}

LRESULT CALLBACK CControl::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<CControl*>(FromHandle(window));
  if (self == nullptr) return ::DefWindowProcA(window, message, wParam, lParam);
  const WNDPROC original = self->originalProc_;
  if (message == WM_NCDESTROY) {
    self->Unsubclass();
    return ::CallWindowProcA(original, window, message, wParam, lParam);
  }
  // Handlers may pump messages (and so nest): keep the outer message.
  const CurrentMessage outer = self->current_;
  self->current_ = {message, wParam, lParam};
  LRESULT result = 0;
  if (!self->Dispatch(MessageKind::Message, message, wParam, lParam, &result)) {
    result = ::CallWindowProcA(original, window, message, wParam, lParam);
  }
  self->current_ = outer;
  return result;
}
