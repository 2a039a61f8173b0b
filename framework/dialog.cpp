#include "framework/dialog.h"

#include "framework/application.h"

namespace {

// Messages whose result a dialog procedure returns directly instead of
// through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

bool IsChildNotification(UINT message, LPARAM lParam) {
  if (lParam == 0) return false;
  return message == WM_COMMAND || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC);
}

}  // namespace

INT_PTR CDialog::DoModal(HWND owner) {
  if (owner == nullptr && CApplication::Get() != nullptr) owner = CApplication::Get()->MainWindow();
  return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner,
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialog*>(lParam);
    self->Attach(window);
    DataExchange exchange(window);
    self->DoDataExchange(exchange);
    return self->OnInitDialog();
  }
  auto* self = static_cast<CDialog*>(FromHandle(window));
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    self->Detach();
    return FALSE;
  }
  return self->HandleMessage(message, wParam, lParam);
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  bool handled = IsChildNotification(message, lParam) && ReflectToChild(message, wParam, lParam, &result);
  if (!handled) {
    handled = message == WM_COMMAND
                  ? Dispatch(MessageKind::Command, LOWORD(wParam), wParam, lParam, &result)
                  : Dispatch(MessageKind::Message, message, wParam, lParam, &result);
  }
  if (!handled && message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    if (LOWORD(wParam) == IDOK) {
      OnOK();
    } else {
      OnCancel();
    }
    return TRUE;
  }
  if (!handled) return FALSE;
  if (ReturnsDirectly(message)) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrA(window_, DWLP_MSGRESULT, result);
  return TRUE;
}
