// The first dialog: asks whether to scan the computer now.
#pragma once

#include "app/link_label.h"
#include "framework/dialog.h"
#include "resources/resource.h"
#include "win32/handle.h"

class CIntroDlg : public CDialog {
 public:
  enum { IDD = IDD_INTRO };
  CIntroDlg();

 protected:
  void DoDataExchange(DataExchange& exchange) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  MessageMap GetMessageMap() const override;

 private:
  LRESULT OnPaint(WPARAM, LPARAM);
  LRESULT OnQueryDragIcon(WPARAM, LPARAM);

  // The program icon at the two sizes the system shows: title bar and task
  // switcher. Not LR_SHARED, which on Windows 9x gives the first size loaded.
  IconHandle icon_;
  IconHandle smallIcon_;
  CLinkLabel downloadLink_;
};
