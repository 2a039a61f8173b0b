// Controls of a dialog template, bound to C++ objects by subclassing.
//
//   CControl        base: subclasses an existing control, default handling
//   CStaticControl  static text; PreSubclassWindow for set-up at binding
//   CButton         push button
//   CListBox        list box
//   DataExchange    binds control ids to control objects (DoDataExchange)
#pragma once

#include "framework/window.h"

class CControl : public CWindow {
 public:
  ~CControl() override;

  // Attaches this object to the dialog's control id by subclassing it.
  bool SubclassDlgItem(int id, HWND parent);

 protected:
  // -- Overridables ----------------------------------------------------------
  // Called once the control is bound, before it handles any message.
  virtual void PreSubclassWindow() {}

  // -- Implementation --------------------------------------------------------
  // Passes the message being handled on to the control's own window procedure.
  LRESULT Default();

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Unsubclass();

  WNDPROC originalProc_ = nullptr;
  struct CurrentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  } current_{};
};

class CStaticControl : public CControl {};

class CButton : public CControl {};

class CListBox : public CControl {
 public:
  int GetCount() const { return static_cast<int>(SendMessage(LB_GETCOUNT)); }
  int AddString(const char* text) const {
    return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
  }
  void ResetContent() const { SendMessage(LB_RESETCONTENT); }
  void SetCurSel(int index) const { SendMessage(LB_SETCURSEL, static_cast<WPARAM>(index)); }
  void SetHorizontalExtent(int pixels) const { SendMessage(LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(pixels)); }
};

// Handed to DoDataExchange when a dialog initialises.
class DataExchange {
 public:
  explicit DataExchange(HWND dialog) : dialog_(dialog) {}
  // Binds the control with this id to control; a missing control is a
  // fault of the template, caught by the tests.
  void Control(int id, CControl& control) { ok_ = control.SubclassDlgItem(id, dialog_) && ok_; }
  bool Ok() const { return ok_; }

 private:
  HWND dialog_;
  bool ok_ = true;
};
