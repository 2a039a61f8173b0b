// The closing dialog, shown after the progress dialog's OK button.
#pragma once

#include "app/link_label.h"
#include "framework/dialog.h"
#include "resources/resource.h"

class CThanksDlg : public CDialog {
 public:
  enum { IDD = IDD_THANKS };
  CThanksDlg() : CDialog(IDD) {}

 protected:
  void DoDataExchange(DataExchange& exchange) override;
  BOOL OnInitDialog() override;
  void OnOK() override { EndDialog(IDOK); }

 private:
  CLinkLabel homeLink_;
};

// Shows the closing dialog modally: what the progress dialog's OK leads to.
// Owned by the program's main window (the intro), which stays disabled.
void ShowClosingDialog();
