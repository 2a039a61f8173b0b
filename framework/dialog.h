// Modal dialogs on a resource template.
//
//   CDialog  DoModal runs the template's dialog; WM_INITDIALOG binds the
//            controls (DoDataExchange) and calls OnInitDialog; IDOK and
//            IDCANCEL reach OnOK and OnCancel; everything else goes through
//            the message map, after child notifications were offered to the
//            child's own object.
#pragma once

#include "framework/control.h"

class CDialog : public CWindow {
 public:
  explicit CDialog(int templateId) : templateId_(templateId) {}

  // Runs the dialog; returns the value given to EndDialog, or -1 when it
  // could not be created.
  INT_PTR DoModal(HWND owner = nullptr);
  void EndDialog(INT_PTR result) const { ::EndDialog(window_, result); }

 protected:
  // -- Overridables ----------------------------------------------------------
  virtual void DoDataExchange(DataExchange&) {}
  // Returns TRUE to let the system set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
};
