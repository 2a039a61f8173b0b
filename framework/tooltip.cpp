#include "framework/tooltip.h"

#include <commctrl.h>

bool CToolTip::Create(HWND tool, UINT id, const char* text) {
  Destroy();
  tooltip_ = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, tool, nullptr,
                               ::GetModuleHandleA(nullptr), nullptr);
  if (tooltip_ == nullptr) return false;
  owner_ = tool;
  TOOLINFOA info{};
  info.cbSize = TTTOOLINFOA_V1_SIZE;  // understood by every version of the control
  info.uFlags = TTF_SUBCLASS;         // the tooltip watches the tool's mouse messages itself
  info.hwnd = tool;
  info.uId = id;
  ::GetClientRect(tool, &info.rect);
  info.lpszText = const_cast<char*>(text);
  if (!::SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info))) {
    Destroy();
    return false;
  }
  return true;
}

void CToolTip::Destroy() {
  // The tooltip dies with its owner: a handle left from then may name
  // another window by now.
  if (tooltip_ != nullptr && ::IsWindow(tooltip_) && ::GetWindow(tooltip_, GW_OWNER) == owner_) {
    ::DestroyWindow(tooltip_);
  }
  tooltip_ = owner_ = nullptr;
}
