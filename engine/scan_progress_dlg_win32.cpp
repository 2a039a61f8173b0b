#include "engine/scan_progress_dlg.h"

#include <string>

#include "engine/scan_driver.h"
#include "engine/scan_state.h"
#include "engine/text.h"

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
  ::EnableWindow(finishButton_.GetSafeHwnd(), FALSE);  // hidden, and no default button for Enter
  return TRUE;
}

LRESULT CScanProgressDlg::OnTimer(WPARAM timerId, LPARAM) {
  if (timerId == kStatusTimer) {
    ShowPendingStatus();
    return 0;
  }
  if (timerId != kStartTimer || stage_ != Stage::Waiting) return 0;
  ::KillTimer(window_, kStartTimer);  // the scan starts exactly once
  stage_ = Stage::Scanning;
  // A Cancel answered before the first tick stands: the scan then ends at
  // its first check and reports "Scanning terminated".
  if (!cancelledBeforeStart_) scanState.scanCancelled = 0;
  RunScan();
  stage_ = Stage::Finished;
  ShowPendingStatus();
  ShowFinishedButtons();
  return 0;
}

void CScanProgressDlg::OnCancel() {
  // The question's message loop must not start the scan underneath it.
  const bool waiting = stage_ == Stage::Waiting;
  if (waiting) ::KillTimer(window_, kStartTimer);
  const int answer = ::MessageBoxA(window_, kCancelQuestion, kCancelQuestionTitle, MB_YESNO | MB_ICONINFORMATION);
  if (answer != IDNO) {
    ShowFinishedButtons();
    scanState.scanCancelled = 1;
    cancelledBeforeStart_ = waiting;
  }
  if (waiting) ::SetTimer(window_, kStartTimer, kStartDelayMs, nullptr);
}

void CScanProgressDlg::ShowFinishedButtons() const {
  cancelButton_.ShowWindow(SW_HIDE);
  ::EnableWindow(finishButton_.GetSafeHwnd(), TRUE);
  finishButton_.ShowWindow(SW_SHOW);
}

LRESULT CScanProgressDlg::OnFinish(WPARAM, LPARAM) {
  // Only once the scan has returned: OK shows as soon as Cancel is answered,
  // while the walks still unwind.
  if (stage_ != Stage::Finished) return 0;
  EndDialog(0);
  if (afterOk_ != nullptr) afterOk_();
  return 0;
}

LRESULT CScanProgressDlg::OnShowObject(WPARAM, LPARAM) {
  // Every file of the scan sends its name; redrawing each would cost more
  // than scanning it, and no screen shows thousands of texts a second.
  CopyText(pendingStatus_, sizeof pendingStatus_, scanState.currentObject);
  statusPending_ = true;
  if (stage_ != Stage::Scanning || ::GetTickCount() - statusShownAt_ >= kStatusPeriodMs) {
    ShowPendingStatus();
  } else if (!statusTimerSet_) {
    statusTimerSet_ = ::SetTimer(window_, kStatusTimer, kStatusPeriodMs, nullptr) != 0;
  }
  return 0;
}

void CScanProgressDlg::ShowPendingStatus() {
  if (statusTimerSet_) {
    ::KillTimer(window_, kStatusTimer);
    statusTimerSet_ = false;
  }
  if (!statusPending_) return;
  statusPending_ = false;
  status_.SetWindowText(pendingStatus_);
  statusShownAt_ = ::GetTickCount();
}

LRESULT CScanProgressDlg::OnAppendLine(WPARAM, LPARAM) {
  if (results_.GetCount() >= kMaxScanLines && !scanState.reportStarted) results_.ResetContent();
  results_.AddString(scanState.lineBuffer);
  const int lines = results_.GetCount();
  if (lines > 2) results_.SetCurSel(lines - 1);
  return 0;
}
