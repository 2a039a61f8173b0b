#include "app/thanks_dlg.h"

#include <cstdio>

#include "engine/scan_state.h"

void CThanksDlg::DoDataExchange(DataExchange& exchange) { exchange.Control(IDC_HOME_LINK, homeLink_); }

BOOL CThanksDlg::OnInitDialog() {
  SetWindowText(scanState.caption);
  char sentence[260];
  std::snprintf(sentence, sizeof sentence, "Thank you for using the %s program. You can protect your computer",
                scanState.programName);
  SetDlgItemText(IDC_HEADLINE, sentence);
  return TRUE;
}

void ShowClosingDialog() {
  CThanksDlg thanks;
  thanks.DoModal();
}
