#include "framework/window.h"

namespace {
// The window property that holds the attached object.
constexpr char kObjectProperty[] = "Scourix.CWindow";
}  // namespace

const MessageMapEntry* MessageMap::Find(MessageKind kind, UINT code) const {
  for (size_t i = 0; i < count; ++i) {
    if (entries[i].kind == kind && entries[i].code == code) return &entries[i];
  }
  return nullptr;
}

CWindow* CWindow::FromHandle(HWND window) {
  return window == nullptr ? nullptr : static_cast<CWindow*>(::GetPropA(window, kObjectProperty));
}

void CWindow::Attach(HWND window) {
  window_ = window;
  ::SetPropA(window, kObjectProperty, this);
}

void CWindow::Detach() {
  if (window_ != nullptr) ::RemovePropA(window_, kObjectProperty);
  window_ = nullptr;
}

bool CWindow::Dispatch(MessageKind kind, UINT code, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const MessageMapEntry* entry = GetMessageMap().Find(kind, code);
  if (entry == nullptr) return false;
  *result = (this->*(entry->handler))(wParam, lParam);
  return true;
}

bool CWindow::ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const HWND child = reinterpret_cast<HWND>(lParam);
  CWindow* object = FromHandle(child);
  if (object == nullptr) return false;
  if (message == WM_COMMAND) {
    return object->Dispatch(MessageKind::ReflectedCommand, HIWORD(wParam), wParam, lParam, result);
  }
  return object->Dispatch(MessageKind::ReflectedMessage, message, wParam, lParam, result);
}
