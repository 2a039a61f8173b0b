#include "tests/support/progress_window.h"

#include <vector>

#include "engine/scan_state.h"

namespace {
std::vector<ProgressMessage>& Messages() {
  static std::vector<ProgressMessage> messages;
  return messages;
}
ProgressWindowStandIn* current = nullptr;
constexpr char kClassName[] = "ScourixTestProgressWindow";
}  // namespace

const std::vector<ProgressMessage>& ProgressMessages() { return Messages(); }
void ClearProgressMessages() { Messages().clear(); }

LRESULT CALLBACK ProgressWindowStandIn::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == ShowObjectMessage || message == AppendLineMessage) {
    Messages().push_back({message, message == ShowObjectMessage ? scanState.currentObject : scanState.lineBuffer});
    if (current != nullptr && current->onMessage) current->onMessage(Messages().back());
    return 0;
  }
  if (message == kCancelScanMessage) {
    scanState.scanCancelled = 1;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

ProgressWindowStandIn::ProgressWindowStandIn() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassA(&windowClass);  // fails harmlessly when already registered
  window_ = CreateWindowExA(0, kClassName, "progress stand-in", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                            nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  current = this;
  scanState.progressWindow = window_;
}

ProgressWindowStandIn::~ProgressWindowStandIn() {
  scanState.progressWindow = nullptr;
  current = nullptr;
  if (window_ != nullptr) DestroyWindow(window_);
  // Drop what the window left in the queue (WM_DESTROY and the like).
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}
