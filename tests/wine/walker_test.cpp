// The walker over a real folder tree, with a hidden window standing in for
// the progress dialog.
#include "engine/walker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "engine/scan_state.h"
#include "tests/support/progress_window.h"
#include "tests/wine/test_files.h"
#include "tests/wine/walk_fixture.h"

namespace {

// C:\walk
//   a.txt, hidden.sys (hidden, system, read-only worm sample), noext
//   sub1\b.txt
//   sub1\deep\c.exe (worm sample), sub1\deep\c.dir\inner.txt
//   sub2.dir\d.txt
//   loop -> C:\walk (a symbolic link made by the test's prefix set-up)
const std::string kRoot = "C:\\walk";

class Walker : public WalkTest {
 protected:
  // Matches are deleted: every test gets the tree afresh.
  static void MakeTree() {
    SetFileAttributesA((kRoot + "\\hidden.sys").c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(MakeFolders(kRoot + "\\sub1\\deep\\c.dir"));
    ASSERT_TRUE(MakeFolders(kRoot + "\\sub2.dir"));
    ASSERT_TRUE(WriteText(kRoot + "\\a.txt", "a"));
    ASSERT_TRUE(WriteText(kRoot + "\\noext", "n"));
    ASSERT_TRUE(WriteBytes(kRoot + "\\hidden.sys", samples::BuildSample()));
    ASSERT_TRUE(SetFileAttributesA((kRoot + "\\hidden.sys").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteText(kRoot + "\\sub1\\b.txt", "b"));
    ASSERT_TRUE(WriteBytes(kRoot + "\\sub1\\deep\\c.exe", samples::BuildSample()));
    ASSERT_TRUE(WriteText(kRoot + "\\sub1\\deep\\c.dir\\inner.txt", "i"));
    ASSERT_TRUE(WriteText(kRoot + "\\sub2.dir\\d.txt", "d"));
  }

  void SetUp() override {
    MakeTree();
    WalkTest::SetUp();
  }

  static size_t IndexOf(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<size_t>(std::find(v.begin(), v.end(), s) - v.begin());
  }
};

TEST_F(Walker, VisitsFilesBeforeSubfoldersAndCountsOnlyFiles) {
  EXPECT_EQ(WalkDirectory("C:\\walk\\*.*"), 7);
  const std::vector<std::string> shown = Shown();
  EXPECT_EQ(scanState.filesScanned, 7) << ::testing::PrintToString(shown);
  for (const char* file : {"C:\\walk\\a.txt", "C:\\walk\\noext", "C:\\walk\\hidden.sys"}) {
    ASSERT_LT(IndexOf(shown, file), shown.size()) << file;
    EXPECT_LT(IndexOf(shown, file), IndexOf(shown, "C:\\walk\\sub1\\b.txt")) << file;
    EXPECT_LT(IndexOf(shown, file), IndexOf(shown, "C:\\walk\\sub2.dir\\d.txt")) << file;
  }
  EXPECT_LT(IndexOf(shown, "C:\\walk\\sub1\\b.txt"), IndexOf(shown, "C:\\walk\\sub1\\deep\\c.exe"));
  EXPECT_LT(IndexOf(shown, "C:\\walk\\sub1\\deep\\c.exe"), IndexOf(shown, "C:\\walk\\sub1\\deep\\c.dir\\inner.txt"));
  // "." and ".." are shown, never entered.
  EXPECT_LT(IndexOf(shown, "C:\\walk\\."), shown.size());
  EXPECT_LT(IndexOf(shown, "C:\\walk\\.."), shown.size());
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "C:\\walk\\sub1\\b.txt"), 1);
}

TEST_F(Walker, FindsHiddenAndSystemFilesAndHandsMatchesOn) {
  WalkDirectory("C:\\walk\\*.*");
  EXPECT_EQ(scanState.filesInfected, 2);  // hidden.sys and c.exe
}

TEST_F(Walker, DoesNotEnterSymbolicLinks) {
  // The prefix set-up made C:\walk\loop a link back to C:\walk.
  const DWORD attributes = GetFileAttributesA("C:\\walk\\loop");
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "the test prefix lacks its link";
  ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  WalkDirectory("C:\\walk\\*.*");
  for (const std::string& s : Shown()) EXPECT_EQ(s.find("\\loop\\"), std::string::npos) << s;
}

TEST_F(Walker, SingleFileModeChecksExactlyThatFile) {
  scanState.memoryScanActive = 1;
  scanState.filesScanned = 5;
  WalkDirectory("C:\\walk\\sub1\\deep\\c.exe");
  EXPECT_EQ(scanState.filesScanned, 5);
  EXPECT_EQ(scanState.filesInfected, 1);
  EXPECT_EQ(scanState.memoryMatchPending, 1);
  EXPECT_STREQ(scanState.currentVirusName, "W32/Gibe.F.Worm");
  const std::vector<std::string> shown = Shown();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), "C:\\walk\\sub1\\deep\\c.exe");
  // Its subfolder step searches C:\walk\sub1\deep\c.* and enters c.dir, where
  // the pattern itself stands for every entry; the match stays pending.
  EXPECT_LT(IndexOf(shown, "C:\\walk\\sub1\\deep\\c.dir\\*.*"), shown.size());
}

TEST_F(Walker, EachWalkClearsThePendingMatch) {
  scanState.memoryScanActive = 1;
  scanState.memoryMatchPending = 1;
  WalkDirectory("C:\\walk\\a.txt");
  EXPECT_EQ(scanState.memoryMatchPending, 0);
  EXPECT_EQ(scanState.filesInfected, 0);
}

TEST_F(Walker, PatternWithoutDotIsAbandoned) {
  EXPECT_EQ(WalkDirectory("C:\\walk\\sub1"), -1);
  scanState.memoryScanActive = 1;
  EXPECT_EQ(WalkDirectory("C:\\walk\\noext"), -1);
}

TEST_F(Walker, FolderThatCannotBeSearchedIsSkipped) {
  scanState.filesScanned = 3;
  EXPECT_EQ(WalkDirectory("C:\\no such folder\\*.*"), 3);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(Walker, CancelFromAPumpedMessageEndsEveryLevel) {
  window_.onMessage = [this](const ProgressMessage& m) {
    if (m.message == ShowObjectMessage && m.text == "C:\\walk\\sub1\\deep\\c.exe") {
      PostMessageA(window_.Handle(), kCancelScanMessage, 0, 0);
      // A click comes at least a clock tick after the last look at the queue.
      Sleep(20);
    }
  };
  EXPECT_EQ(WalkDirectory("C:\\walk\\*.*"), 0);
  EXPECT_EQ(scanState.scanCancelled, 1);
  const std::vector<std::string> shown = Shown();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), "C:\\walk\\sub1\\deep\\c.exe");
  EXPECT_EQ(IndexOf(shown, "C:\\walk\\sub2.dir\\d.txt"), shown.size());
}

TEST_F(Walker, QuitMessageCancelsWithoutAskingAndIsKept) {
  PostQuitMessage(3);
  EXPECT_EQ(WalkDirectory("C:\\walk\\*.*"), 0);
  EXPECT_EQ(scanState.scanCancelled, 1);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

// Answers the "Warning" message box with the given button, from another thread.
class WarningAnswerer {
 public:
  explicit WarningAnswerer(int button)
      : thread_([this, button] {
          for (int i = 0; i < 1000 && !stop_; ++i) {
            HWND box = FindWindowA("#32770", "Warning");
            if (box != nullptr && IsWindowVisible(box)) {
              char text[64] = {};
              GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
              question_ = text;
              PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
              return;
            }
            Sleep(10);
          }
        }) {}
  ~WarningAnswerer() {
    stop_ = true;
    thread_.join();
  }
  std::string Question() {
    thread_.join();
    thread_ = std::thread([] {});
    return question_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::string question_;
  std::thread thread_;
};

TEST_F(Walker, EscapeAnsweredNoGoesOnAndYesCancels) {
  {
    WarningAnswerer answer(IDNO);
    PostMessageA(window_.Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(WalkDirectory("C:\\walk\\*.*"), 7);
    EXPECT_EQ(scanState.scanCancelled, 0);
    EXPECT_EQ(answer.Question(), "Terminate the Scan now?");
  }
  {
    scanState = ScanState{};
    scanState.memoryScanActive = 0;
    scanState.progressWindow = window_.Handle();
    WarningAnswerer answer(IDYES);
    PostMessageA(window_.Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(WalkDirectory("C:\\walk\\*.*"), 0);
    EXPECT_EQ(scanState.scanCancelled, 1);
    EXPECT_EQ(answer.Question(), "Terminate the Scan now?");
  }
}

TEST_F(Walker, PathsThatDoNotFitAreSkippedAndTheWalkGoesOn) {
  // Folder part of 250 characters: a name of 9 fits (259), a longer one not.
  const std::string folder = "C:\\long\\" + std::string(241, 'f');
  ASSERT_EQ(folder.size() + 1, 250u);
  ASSERT_TRUE(MakeFolders(folder));
  ASSERT_TRUE(WriteText(folder + "\\123456789", "x"));
  ASSERT_TRUE(WriteText(folder + "\\1234567890", "x"));
  ASSERT_TRUE(MakeFolders("C:\\long\\z"));
  ASSERT_TRUE(WriteText("C:\\long\\z\\after.txt", "x"));
  WalkDirectory("C:\\long\\*.*");
  const std::vector<std::string> shown = Shown();
  EXPECT_EQ(scanState.filesScanned, 2);  // 123456789 and after.txt
  EXPECT_LT(IndexOf(shown, "C:\\long\\z\\after.txt"), shown.size());
}

}  // namespace
