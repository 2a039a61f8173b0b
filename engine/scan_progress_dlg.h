// The progress dialog: runs the scan from its first timer tick and shows the
// current file, the result lines and the final status.
#pragma once

#include "engine/scan_state.h"
#include "framework/dialog.h"
#include "resources/resource.h"

class CScanProgressDlg : public CDialog {
 public:
  enum { IDD = IDD_SCAN_PROGRESS };
  static constexpr UINT_PTR kStartTimer = 100;
  static constexpr UINT kStartDelayMs = 100;
  // During the scan the status line is redrawn at most this often; the
  // latest object is always shown within one period.
  static constexpr UINT_PTR kStatusTimer = 101;
  static constexpr UINT kStatusPeriodMs = 40;
  // The result list holds at most this many lines while the scan runs.
  static constexpr int kMaxScanLines = 150;

  // What OK leads to once this dialog has closed (the program's closing
  // dialog, which the application shell owns); nothing when null.
  using NextDialog = void (*)();
  explicit CScanProgressDlg(NextDialog afterOk = nullptr) : CDialog(IDD), afterOk_(afterOk) {}

 protected:
  void DoDataExchange(DataExchange& exchange) override;
  BOOL OnInitDialog() override;
  void OnCancel() override;
  MessageMap GetMessageMap() const override;

 private:
  LRESULT OnShowObject(WPARAM, LPARAM);
  LRESULT OnAppendLine(WPARAM, LPARAM);
  LRESULT OnFinish(WPARAM, LPARAM);
  LRESULT OnTimer(WPARAM timerId, LPARAM);
  void ShowFinishedButtons() const;
  void ShowPendingStatus();

  // The scan runs inside the timer handler and pumps messages, so every
  // handler that could start a modal loop or the scan checks where it is.
  enum class Stage { Waiting, Scanning, Finished };
  NextDialog afterOk_;
  Stage stage_ = Stage::Waiting;
  bool cancelledBeforeStart_ = false;
  char pendingStatus_[kPathCapacity] = {};
  bool statusPending_ = false;
  bool statusTimerSet_ = false;
  DWORD statusShownAt_ = 0;

  CButton cancelButton_;
  CButton finishButton_;
  CStaticControl status_;
  CListBox results_;
};
