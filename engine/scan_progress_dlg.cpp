#include "engine/scan_progress_dlg.h"

#include <string>

#include "app/thanks_dlg.h"
#include "engine/scan_driver.h"
#include "engine/scan_state.h"

namespace {
constexpr int kListExtentPixels = 650;
}  // namespace

MessageMap CScanProgressDlg::GetMessageMap() const {
  static const MessageMapEntry entries[] = {
      OnMessage(ShowObjectMessage, &CScanProgressDlg::OnShowObject),
      OnMessage(AppendLineMessage, &CScanProgressDlg::OnAppendLine),
      OnCommand(IDC_FINISH, &CScanProgressDlg::OnFinish),
      OnMessage(WM_TIMER, &CScanProgressDlg::OnTimer),
  };
  return MakeMessageMap(entries);
}

void CScanProgressDlg::DoDataExchange(DataExchange& exchange) {
  exchange.Control(IDCANCEL, cancelButton_);
  exchange.Control(IDC_FINISH, finishButton_);
  exchange.Control(IDC_STATUS, status_);
  exchange.Control(IDC_RESULT_LIST, results_);
}

BOOL CScanProgressDlg::OnInitDialog() {
  const std::string title = std::string("Searching for variants of ") + scanState.virusName + " files...";
  SetDlgItemText(IDC_HEADLINE, title.c_str());
  SetWindowText(scanState.caption);
  results_.SetHorizontalExtent(kListExtentPixels);
  scanState.progressWindow = window_;
  ::SetTimer(window_, kStartTimer, kStartDelayMs, nullptr);
  finishButton_.ShowWindow(SW_HIDE);
  return TRUE;
}

LRESULT CScanProgressDlg::OnTimer(WPARAM, LPARAM) {
  ::KillTimer(window_, kStartTimer);  // the scan starts exactly once
  scanState.scanCancelled = 0;
  RunScan();
  ShowFinishedButtons();
  return 0;
}

void CScanProgressDlg::OnCancel() {
  if (::MessageBoxA(window_, "Terminate the Scan now?", "Warning", MB_YESNO | MB_ICONINFORMATION) == IDNO) return;
  ShowFinishedButtons();
  scanState.scanCancelled = 1;
}

void CScanProgressDlg::ShowFinishedButtons() const {
  cancelButton_.ShowWindow(SW_HIDE);
  finishButton_.ShowWindow(SW_SHOW);
}

LRESULT CScanProgressDlg::OnFinish(WPARAM, LPARAM) {
  EndDialog(0);
  CThanksDlg thanks;
  thanks.DoModal(window_);
  return 0;
}

LRESULT CScanProgressDlg::OnShowObject(WPARAM, LPARAM) {
  status_.SetWindowText(scanState.currentObject);
  return 0;
}

LRESULT CScanProgressDlg::OnAppendLine(WPARAM, LPARAM) {
  if (results_.GetCount() >= kMaxScanLines && !scanState.reportStarted) results_.ResetContent();
  results_.AddString(scanState.lineBuffer);
  const int lines = results_.GetCount();
  if (lines > 2) results_.SetCurSel(lines - 1);
  return 0;
}
