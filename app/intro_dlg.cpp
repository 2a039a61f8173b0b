#include "app/intro_dlg.h"

#include <string>

#include "app/thanks_dlg.h"
#include "engine/scan_progress_dlg.h"
#include "engine/scan_state.h"

namespace {

HICON LoadProgramIcon(int widthMetric, int heightMetric) {
  return static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON,
                                         ::GetSystemMetrics(widthMetric), ::GetSystemMetrics(heightMetric),
                                         LR_DEFAULTCOLOR));
}

}  // namespace

CIntroDlg::CIntroDlg()
    : CDialog(IDD),
      icon_(LoadProgramIcon(SM_CXICON, SM_CYICON)),
      smallIcon_(LoadProgramIcon(SM_CXSMICON, SM_CYSMICON)) {}

MessageMap CIntroDlg::GetMessageMap() const {
  static const MessageMapEntry entries[] = {
      OnMessage(WM_PAINT, &CIntroDlg::OnPaint),
      OnMessage(WM_QUERYDRAGICON, &CIntroDlg::OnQueryDragIcon),
  };
  return MakeMessageMap(entries);
}

void CIntroDlg::DoDataExchange(DataExchange& exchange) { exchange.Control(IDC_DOWNLOAD_LINK, downloadLink_); }

BOOL CIntroDlg::OnInitDialog() {
  const std::string headline = std::string(scanState.productTitle) + " - Program to detect and clean " + scanState.virusName;
  const std::string question = std::string("Scan the computer for the presence of ") + scanState.virusName + " now?";
  SetDlgItemText(IDC_HEADLINE, headline.c_str());
  SetDlgItemText(IDC_QUESTION, question.c_str());
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.Get()));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));
  SetWindowText(scanState.caption);
  return TRUE;
}

void CIntroDlg::OnOK() {
  {
    CScanProgressDlg progress(ShowClosingDialog);
    progress.DoModal(window_);
  }
  EndDialog(IDOK);
}

void CIntroDlg::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CIntroDlg::OnPaint(WPARAM, LPARAM) {
  PAINTSTRUCT paint;
  const HDC dc = ::BeginPaint(window_, &paint);  // all that default painting does
  if (::IsIconic(window_)) {
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc));
    RECT client{};
    ::GetClientRect(window_, &client);
    const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, icon_.Get());
  }
  ::EndPaint(window_, &paint);
  return 0;
}

LRESULT CIntroDlg::OnQueryDragIcon(WPARAM, LPARAM) { return reinterpret_cast<LRESULT>(icon_.Get()); }
