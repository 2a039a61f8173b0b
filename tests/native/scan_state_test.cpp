// The result-line channel: bounded formatting and delivery.
#include "engine/scan_state.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/progress_recorder.h"

namespace {

class Channel : public ::testing::Test {
 protected:
  void SetUp() override {
    scanState = ScanState{};
    ClearProgressMessages();
  }
  void TearDown() override { scanState = ScanState{}; }
};

TEST_F(Channel, InitialStateHoldsTheFixedTexts) {
  EXPECT_STREQ(scanState.caption, "Scourix Ver 1.0");
  EXPECT_STREQ(scanState.virusName, "W32/Gibe.F.Worm");
  EXPECT_EQ(scanState.memoryScanActive, 1);
  EXPECT_EQ(scanState.progressWindow, nullptr);
}

TEST_F(Channel, LineIsFormattedAndDeliveredBeforeTheSenderGoesOn) {
  RecordProgress();
  AppendResultLine("%s     %s deleted", "C:\\x.exe", "W32/Gibe.F.Worm");
  scanState.currentObject[0] = 'Z';
  ShowCurrentObject();
  ASSERT_EQ(ProgressMessages().size(), 2u);
  EXPECT_EQ(ProgressMessages()[0].message, 0x000Bu);
  EXPECT_EQ(ProgressMessages()[0].text, "C:\\x.exe     W32/Gibe.F.Worm deleted");
  EXPECT_EQ(ProgressMessages()[1].message, 0x000Au);
  EXPECT_EQ(ProgressMessages()[1].text, "Z");
}

// The window's list gets lineBuffer, cut to 499 characters; the log and a
// console standing in for the window get the whole line, on one line.
TEST_F(Channel, OverlongLineIsCutTo499CharactersForTheWindowOnly) {
  RecordProgress();
  const std::string path = "C:\\" + std::string(700, 'p') + "\nforged";
  AppendResultLine("%s     %s deleted", path.c_str(), "W32/Gibe.F.Worm");
  const std::string whole = "C:\\" + std::string(700, 'p') + "\\nforged     W32/Gibe.F.Worm deleted";
  EXPECT_EQ(std::string(scanState.lineBuffer), whole.substr(0, 499));
  EXPECT_EQ(std::string(FullResultLine()), whole);
  ASSERT_EQ(ProgressMessages().size(), 1u);
  EXPECT_EQ(ProgressMessages()[0].text, whole);
}

TEST_F(Channel, DetachedReceiverHearsNothing) {
  RecordProgress();
  AttachProgressReceiver(nullptr);
  EXPECT_EQ(scanState.progressWindow, nullptr);
  AppendResultLine("line");
  EXPECT_TRUE(ProgressMessages().empty());
}

TEST_F(Channel, NothingIsSentWithoutAProgressWindow) {
  AppendResultLine("line");
  ShowCurrentObject();
  EXPECT_TRUE(ProgressMessages().empty());
  EXPECT_STREQ(scanState.lineBuffer, "line");
}

}  // namespace
