// A static text turned into a web link: it shows a URL, underlines itself
// while the mouse is over it, changes colour once visited, shows the URL as a
// tooltip and opens it with the system's handler when clicked.
#pragma once

#include "framework/control.h"
#include "framework/tooltip.h"

class CLinkLabel : public CStaticControl {
 public:
  static constexpr COLORREF kNormalColour = RGB(0, 0, 238);
  static constexpr COLORREF kVisitedColour = RGB(85, 26, 139);
  static constexpr COLORREF kHoverColour = RGB(0, 0, 238);
  static constexpr UINT_PTR kHoverTimer = 100;
  static constexpr size_t kUrlCapacity = 260;

  CLinkLabel() = default;
  ~CLinkLabel() override;

  // -1 underline while hovering, 1 always, 0 never.
  void SetUnderline(int mode);
  void SetVisited(bool visited);
  bool IsVisited() const { return visited_; }
  bool IsHovering() const { return hovering_; }
  const char* Url() const { return url_; }
  void SetUrl(const char* url);

 protected:
  void PreSubclassWindow() override;
  MessageMap GetMessageMap() const override;

 private:
  LRESULT OnCtlColor(WPARAM hdc, LPARAM);
  LRESULT OnMouseMove(WPARAM, LPARAM);
  LRESULT OnTimer(WPARAM, LPARAM);
  LRESULT OnSetCursor(WPARAM, LPARAM);
  LRESULT OnEraseBackground(WPARAM hdc, LPARAM);
  LRESULT OnClicked(WPARAM, LPARAM);

  bool OpenUrl() const;
  void SetFont(HFONT font) const;
  void ReleaseFonts();

  bool hovering_ = false;
  bool visited_ = false;
  int underline_ = -1;
  char url_[kUrlCapacity] = {};
  HFONT underlinedFont_ = nullptr;
  HFONT normalFont_ = nullptr;
  HCURSOR cursor_ = nullptr;
  CToolTip tooltip_;
};
