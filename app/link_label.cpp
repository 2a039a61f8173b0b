#include "app/link_label.h"

#include <shellapi.h>

#include "engine/scan_state.h"
#include "engine/text.h"

namespace {
constexpr UINT kToolId = 1;
constexpr UINT kHoverPeriodMs = 100;
}  // namespace

CLinkLabel::~CLinkLabel() { ReleaseFonts(); }

MessageMap CLinkLabel::GetMessageMap() const {
  static const MessageMapEntry entries[] = {
      OnReflectedMessage(WM_CTLCOLORSTATIC, &CLinkLabel::OnCtlColor),
      OnMessage(WM_MOUSEMOVE, &CLinkLabel::OnMouseMove),
      OnMessage(WM_TIMER, &CLinkLabel::OnTimer),
      OnMessage(WM_SETCURSOR, &CLinkLabel::OnSetCursor),
      OnMessage(WM_ERASEBKGND, &CLinkLabel::OnEraseBackground),
      OnReflectedCommand(STN_CLICKED, &CLinkLabel::OnClicked),
  };
  return MakeMessageMap(entries);
}

void CLinkLabel::SetUrl(const char* url) { CopyText(url_, sizeof url_, url); }

void CLinkLabel::PreSubclassWindow() {
  // Clicks are reported only with SS_NOTIFY.
  const LONG_PTR style = ::GetWindowLongPtrA(window_, GWL_STYLE);
  ::SetWindowLongPtrA(window_, GWL_STYLE, style | SS_NOTIFY);

  if (url_[0] == '\0') {
    ::GetWindowTextA(window_, url_, sizeof url_);
  } else if (::GetWindowTextLengthA(window_) == 0) {
    SetWindowText(url_);
  }

  HFONT font = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
  if (font == nullptr) font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  if (font == nullptr) font = static_cast<HFONT>(::GetStockObject(ANSI_VAR_FONT));
  LOGFONTA logFont{};
  if (font != nullptr && ::GetObjectA(font, sizeof logFont, &logFont) == sizeof logFont) {
    normalFont_ = ::CreateFontIndirectA(&logFont);
    logFont.lfUnderline = TRUE;
    underlinedFont_ = ::CreateFontIndirectA(&logFont);
  }

  SetUnderline(underline_);  // the initial mode: the control keeps its font

  tooltip_.Create(window_, kToolId, url_);
}

void CLinkLabel::SetFont(HFONT font) const {
  if (font != nullptr) SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void CLinkLabel::SetUnderline(int mode) {
  if (mode == underline_) return;
  if (window_ != nullptr) {
    SetFont(mode == 1 ? underlinedFont_ : normalFont_);
    Invalidate();
  }
  underline_ = mode;
}

void CLinkLabel::SetVisited(bool visited) {
  visited_ = visited;
  if (window_ != nullptr) Invalidate();
}

void CLinkLabel::ReleaseFonts() {
  if (underlinedFont_ != nullptr) ::DeleteObject(underlinedFont_);
  if (normalFont_ != nullptr) ::DeleteObject(normalFont_);
  underlinedFont_ = normalFont_ = nullptr;
}

LRESULT CLinkLabel::OnCtlColor(WPARAM hdc, LPARAM) {
  const HDC dc = reinterpret_cast<HDC>(hdc);
  ::SetTextColor(dc, hovering_ ? kHoverColour : visited_ ? kVisitedColour : kNormalColour);
  ::SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
}

LRESULT CLinkLabel::OnMouseMove(WPARAM, LPARAM) {
  if (!hovering_) {
    hovering_ = true;
    if (underline_ == -1) SetFont(underlinedFont_);
    Invalidate();
    ::SetTimer(window_, kHoverTimer, kHoverPeriodMs, nullptr);
  }
  return Default();
}

LRESULT CLinkLabel::OnTimer(WPARAM, LPARAM) {
  const DWORD position = ::GetMessagePos();
  POINT point{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
  ::ScreenToClient(window_, &point);
  RECT client{};
  ::GetClientRect(window_, &client);
  if (!::PtInRect(&client, point)) {
    hovering_ = false;
    ::KillTimer(window_, kHoverTimer);
    if (underline_ != 1) SetFont(normalFont_);
    client.bottom += 10;
    ::InvalidateRect(window_, &client, TRUE);
  }
  return Default();
}

LRESULT CLinkLabel::OnSetCursor(WPARAM, LPARAM) {
  if (cursor_ == nullptr) return Default();  // the system's own cursor handling
  ::SetCursor(cursor_);
  return TRUE;
}

LRESULT CLinkLabel::OnEraseBackground(WPARAM hdc, LPARAM) {
  RECT client{};
  ::GetClientRect(window_, &client);
  ::FillRect(reinterpret_cast<HDC>(hdc), &client, ::GetSysColorBrush(COLOR_BTNFACE));
  return TRUE;
}

LRESULT CLinkLabel::OnClicked(WPARAM, LPARAM) {
  hovering_ = false;
  if (OpenUrl()) {
    SetVisited(true);
  } else {
    SetVisited(false);
    ::MessageBoxA(::GetParent(window_), "Unable to launch Internet Browser", scanState.caption, MB_OK);
  }
  return 0;
}

bool CLinkLabel::OpenUrl() const {
  char target[kUrlCapacity];
  CopyText(target, sizeof target, url_);
  const HINSTANCE result = ::ShellExecuteA(nullptr, "open", target, nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}
