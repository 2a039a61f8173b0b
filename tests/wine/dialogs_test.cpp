// The dialogs inside this process: the progress dialog's list and buttons,
// and the link label, each driven from a second thread while the dialog
// runs modally on the first, as the user would drive it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include <windows.h>
#include <commctrl.h>

#include "app/intro_dlg.h"
#include "app/link_label.h"
#include "app/thanks_dlg.h"
#include "engine/scan_progress_dlg.h"
#include "engine/scan_state.h"
#include "engine/text.h"
#include "framework/dialog.h"
#include "resources/resource.h"
#include "tests/e2e/driver.h"
#include "tests/wine/test_icons.h"

namespace {

constexpr DWORD kWait = 10000;

// Runs script on a second thread while dialog runs modally on this one. A
// script that stops early (a failed assertion) must not leave the dialog
// waiting for ever: the program then ends at once, failing.
void RunWithScript(CDialog& dialog, const std::function<void()>& script) {
  std::thread driver([&] {
    script();
    if (!e2e::WaitUntil([&] { return dialog.GetSafeHwnd() == nullptr; }, kWait)) {
      std::fprintf(stderr, "dialog left open by a failed script: ending the test program\n");
      std::fflush(stderr);
      ExitProcess(3);
    }
  });
  dialog.DoModal();
  driver.join();
}

// Starts the scan that QuietProgressDlg held back.
void StartScan(HWND dialog) { PostMessageA(dialog, WM_TIMER, CScanProgressDlg::kStartTimer, 0); }

// The progress dialog whose scan starts only when the script says so.
class QuietProgressDlg : public CScanProgressDlg {
 public:
  QuietProgressDlg() : CScanProgressDlg(ShowClosingDialog) {}

 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CScanProgressDlg::OnInitDialog();
    ::KillTimer(GetSafeHwnd(), kStartTimer);
    return result;
  }
  void OnCancel() override {  // Cancel re-arms the start timer: hold it back again
    CScanProgressDlg::OnCancel();
    ::KillTimer(GetSafeHwnd(), kStartTimer);
  }
};

class ProgressDialog : public ::testing::Test {
 protected:
  void SetUp() override { scanState = ScanState{}; }
  void TearDown() override { scanState = ScanState{}; }
};

void AppendLine(HWND dialog, const std::string& text) {
  CopyText(scanState.lineBuffer, sizeof scanState.lineBuffer, text.c_str());
  SendMessageA(dialog, AppendLineMessage, 0, 0);
}

LRESULT ListCount(HWND dialog) { return SendDlgItemMessageA(dialog, IDC_RESULT_LIST, LB_GETCOUNT, 0, 0); }
LRESULT ListSelection(HWND dialog) { return SendDlgItemMessageA(dialog, IDC_RESULT_LIST, LB_GETCURSEL, 0, 0); }

TEST_F(ProgressDialog, ListIsClearedAt150LinesUntilTheReportBegins) {
  QuietProgressDlg dialog;
  RunWithScript(dialog, [] {
    const HWND window = e2e::WaitForDialog(e2e::kCaption, IDC_RESULT_LIST, GetCurrentProcessId(), kWait);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(scanState.progressWindow, window);
    EXPECT_EQ(e2e::ItemText(window, IDC_HEADLINE), "Searching for variants of W32/Gibe.F.Worm files...");
    EXPECT_FALSE(e2e::ItemVisible(window, IDC_FINISH));

    AppendLine(window, "first");
    AppendLine(window, "second");
    EXPECT_EQ(ListSelection(window), LB_ERR);  // one or two lines: nothing selected
    AppendLine(window, "third");
    EXPECT_EQ(ListSelection(window), 2);
    for (int i = 3; i < 150; ++i) AppendLine(window, "line " + std::to_string(i));
    EXPECT_EQ(ListCount(window), 150);
    AppendLine(window, "line 150");
    EXPECT_EQ(ListCount(window), 1);
    EXPECT_EQ(e2e::ListLines(GetDlgItem(window, IDC_RESULT_LIST)).front(), "line 150");

    for (int i = 0; i < 149; ++i) AppendLine(window, "more");
    scanState.reportStarted = 1;
    for (int i = 0; i < 10; ++i) AppendLine(window, "report");
    EXPECT_EQ(ListCount(window), 160);
    EXPECT_EQ(ListSelection(window), 159);

    CopyText(scanState.currentObject, sizeof scanState.currentObject, "C:\\some\\file.exe");
    SendMessageA(window, ShowObjectMessage, 0, 0);
    EXPECT_EQ(e2e::ItemText(window, IDC_STATUS), "C:\\some\\file.exe");

    // OK does nothing before the scan has run.
    e2e::Press(window, IDC_FINISH);
    EXPECT_EQ(e2e::WaitForDialog(e2e::kCaption, IDC_HOME_LINK, GetCurrentProcessId(), 500), nullptr);
    StartScan(window);
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ItemVisible(window, IDC_FINISH); }, 120000));
    EXPECT_EQ(e2e::ItemText(window, IDC_STATUS), "Scanning completed");
    e2e::Press(window, IDC_FINISH);
    const HWND thanks = e2e::WaitForDialog(e2e::kCaption, IDC_HOME_LINK, GetCurrentProcessId(), kWait);
    ASSERT_NE(thanks, nullptr);
    e2e::Press(thanks, IDOK);
  });
}

TEST_F(ProgressDialog, CancelAsksAndOnlyYesEndsTheScan) {
  QuietProgressDlg dialog;
  RunWithScript(dialog, [] {
    const HWND window = e2e::WaitForDialog(e2e::kCaption, IDC_RESULT_LIST, GetCurrentProcessId(), kWait);
    ASSERT_NE(window, nullptr);
    e2e::Press(window, IDCANCEL);
    HWND box = e2e::WaitForDialog("Warning", 0xFFFF, GetCurrentProcessId(), kWait);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(e2e::AnswerMessageBox(box, IDNO), "Terminate the Scan now?");
    ASSERT_TRUE(e2e::WaitUntil([] { return e2e::WaitForDialog("Warning", 0, GetCurrentProcessId(), 0) == nullptr; }, kWait));
    EXPECT_EQ(scanState.scanCancelled, 0);
    EXPECT_TRUE(e2e::ItemVisible(window, IDCANCEL));
    EXPECT_FALSE(e2e::ItemVisible(window, IDC_FINISH));

    e2e::Press(window, IDCANCEL);
    box = e2e::WaitForDialog("Warning", 0xFFFF, GetCurrentProcessId(), kWait);
    ASSERT_NE(box, nullptr);
    e2e::AnswerMessageBox(box, IDYES);
    // Answered before the scan began, the cancel stands: the scan reports
    // at once that it was terminated.
    StartScan(window);
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ItemText(window, IDC_STATUS) == "Scanning terminated"; }, kWait));
    EXPECT_EQ(scanState.filesScanned, 0);
    EXPECT_TRUE(e2e::ItemVisible(window, IDC_FINISH));
    EXPECT_FALSE(e2e::ItemVisible(window, IDCANCEL));
    // The dialog stays open until OK.
    EXPECT_TRUE(IsWindow(window));
    e2e::Press(window, IDC_FINISH);
    const HWND thanks = e2e::WaitForDialog(e2e::kCaption, IDC_HOME_LINK, GetCurrentProcessId(), kWait);
    ASSERT_NE(thanks, nullptr);
    e2e::Press(thanks, IDOK);
  });
}

// -- The link label, on a test dialog with two statics ----------------------

constexpr int kLinkTestDialog = 900;
constexpr int kLinkFromText = 901;  // its text is a program of the test folder
constexpr int kLinkFromUrl = 902;   // empty text; the URL is set before binding

class LinkTestDlg : public CDialog {
 public:
  LinkTestDlg() : CDialog(kLinkTestDialog) { fromUrl.SetUrl("C:\\no such folder\\no such program.exe"); }
  CLinkLabel fromText;
  CLinkLabel fromUrl;

 protected:
  void DoDataExchange(DataExchange& exchange) override {
    exchange.Control(kLinkFromText, fromText);
    exchange.Control(kLinkFromUrl, fromUrl);
  }
};

COLORREF TextColour(HWND dialog, HWND link) {
  const HDC dc = CreateCompatibleDC(nullptr);
  const LRESULT brush = SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link));
  const COLORREF colour = GetTextColor(dc);
  EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  DeleteDC(dc);
  return colour;
}

bool Underlined(HWND link) {
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(link, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font.lfUnderline != 0;
}

struct ToolTipSearch {
  HWND link;
  std::string text;
};

// The tooltip is a window of the link's thread that knows the link as a tool.
BOOL CALLBACK FindToolTip(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<ToolTipSearch*>(parameter);
  char className[32] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::string(className) != TOOLTIPS_CLASSA || SendMessageA(window, TTM_GETTOOLCOUNT, 0, 0) != 1) return TRUE;
  char text[300] = {};
  TOOLINFOA info{};
  info.cbSize = TTTOOLINFOA_V1_SIZE;
  info.hwnd = search->link;
  info.uId = 1;
  info.lpszText = text;
  SendMessageA(window, TTM_GETTEXTA, 0, reinterpret_cast<LPARAM>(&info));
  search->text = text;
  return search->text.empty();
}

std::string ToolTipText(HWND link) {
  ToolTipSearch search{link, {}};
  EnumThreadWindows(GetWindowThreadProcessId(link, nullptr), FindToolTip, reinterpret_cast<LPARAM>(&search));
  return search.text;
}

TEST(LinkLabel, ShowsOpensAndColoursItsUrl) {
  LinkTestDlg dialog;
  RunWithScript(dialog, [&dialog] {
    const HWND window = e2e::WaitForDialog("Link test", kLinkFromText, GetCurrentProcessId(), kWait);
    ASSERT_NE(window, nullptr);
    const HWND link = GetDlgItem(window, kLinkFromText);
    const std::string program = "C:\\scourix-bin\\sample-host.exe";

    // Bound: clicks reported, URL taken from the text, tooltip with the URL.
    EXPECT_TRUE(GetWindowLongA(link, GWL_STYLE) & SS_NOTIFY);
    EXPECT_EQ(std::string(dialog.fromText.Url()), program);
    EXPECT_EQ(e2e::ItemText(window, kLinkFromUrl), "C:\\no such folder\\no such program.exe");
    EXPECT_EQ(ToolTipText(link), program);
    EXPECT_EQ(TextColour(window, link), CLinkLabel::kNormalColour);
    EXPECT_FALSE(Underlined(link));

    // Hovering underlines; leaving undoes it within a timer period or two.
    RECT rect{};
    GetWindowRect(link, &rect);
    SetCursorPos(rect.left + 2, rect.top + 2);
    SendMessageA(link, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_TRUE(dialog.fromText.IsHovering());
    EXPECT_TRUE(Underlined(link));
    EXPECT_EQ(TextColour(window, link), CLinkLabel::kHoverColour);
    SetCursorPos(rect.right + 200, rect.bottom + 200);
    EXPECT_TRUE(e2e::WaitUntil([&] { return !dialog.fromText.IsHovering(); }, 2000));
    EXPECT_FALSE(Underlined(link));

    // A successful open marks it visited.
    e2e::ClickStatic(window, kLinkFromText);
    ASSERT_TRUE(e2e::WaitUntil([&] { return dialog.fromText.IsVisited(); }, kWait));
    EXPECT_EQ(TextColour(window, link), CLinkLabel::kVisitedColour);

    // A failed open says so and leaves the link unvisited.
    e2e::ClickStatic(window, kLinkFromUrl);
    const HWND box = e2e::WaitForDialog(e2e::kCaption, 0xFFFF, GetCurrentProcessId(), kWait);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(e2e::AnswerMessageBox(box, IDOK), "Unable to launch Internet Browser");
    EXPECT_FALSE(dialog.fromUrl.IsVisited());
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  });
}

// Width of the icon a window shows at one of its two sizes; 0 when none.
int ShownIconWidth(HWND window, WPARAM which) {
  return IconWidth(reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, which, 0)));
}

TEST(IntroDialog, TitleBarAndTaskSwitcherGetTheIconDrawnForTheirSize) {
  CIntroDlg dialog;
  RunWithScript(dialog, [] {
    const HWND window = e2e::WaitForDialog(e2e::kCaption, IDC_QUESTION, GetCurrentProcessId(), kWait);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ShownIconWidth(window, ICON_SMALL), GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(ShownIconWidth(window, ICON_BIG), GetSystemMetrics(SM_CXICON));
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  });
}

}  // namespace
