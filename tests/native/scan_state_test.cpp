// The result-line channel: bounded formatting and delivery.
#include "engine/scan_state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/console.h"
#include "engine/result_log.h"
#include "engine/scan_outcome.h"
#include "engine/text.h"
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

// The window's list gets lineBuffer, the line as formatted, cut to 499
// characters; a receiver standing in for the window gets it whole; the log
// gets it whole and on one line.
TEST_F(Channel, TheWindowGetsTheLineAsFormattedAndTheLogEscaped) {
  RecordProgress();
  struct LogText : LogSink {
    bool Append(const char* data, size_t size) override {
      text.append(data, size);
      return true;
    }
    std::string text;
  } log;
  resultLog.Open(&log, "P", LogTime{});
  const std::string path = "C:\\" + std::string(700, 'p') + "\nforged";
  AppendResultLine("%s     %s deleted", path.c_str(), "W32/Gibe.F.Worm");
  AppendResultLine("%s     %s deleted", "C:\\a\x7f" "b.exe", "W32/Gibe.F.Worm");  // DEL: a legal name character
  resultLog.Close();
  const std::string whole = path + "     W32/Gibe.F.Worm deleted";
  EXPECT_EQ("C:\\a\x7f" "b.exe     W32/Gibe.F.Worm deleted", std::string(scanState.lineBuffer));
  ASSERT_EQ(ProgressMessages().size(), 2u);
  EXPECT_EQ(ProgressMessages()[0].text, whole);
  EXPECT_EQ(ProgressMessages()[1].text, scanState.lineBuffer);
  EXPECT_EQ("P, scan of 0000-00-00 00:00:00\r\nC:\\" + std::string(700, 'p') +
                "\\nforged     W32/Gibe.F.Worm deleted\r\nC:\\a\\x7fb.exe     W32/Gibe.F.Worm deleted\r\n\r\n",
            log.text);
}

TEST_F(Channel, LineBufferIsCutTo499Characters) {
  const std::string path = "C:\\" + std::string(700, 'p');
  AppendResultLine("%s     %s deleted", path.c_str(), "W32/Gibe.F.Worm");
  EXPECT_EQ(std::string(scanState.lineBuffer), path.substr(0, 499));
  EXPECT_EQ(std::string(FullResultLine()), path + "     W32/Gibe.F.Worm deleted");
}

// A console prints result lines, and only the last status; what a UTF-8
// terminal would obey is escaped there, while a Windows console's code page
// keeps its bytes.
TEST_F(Channel, ConsoleStandsInForTheWindow) {
  struct Case {
    ConsoleText text;
    std::string shown;
  };
  const Case cases[] = {
      {ConsoleText::Utf8, "C:\\M\\xfcller\\x\\x7f.exe     W32/Gibe.F.Worm deleted\nScanning completed\n"},
      {ConsoleText::CodePage, "C:\\M\xFCller\\x\\x7f.exe     W32/Gibe.F.Worm deleted\nScanning completed\n"}};
  for (const Case& c : cases) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    Console console(out, false, 80, c.text);
    AttachProgressReceiver(&console);
    CopyText(scanState.currentObject, sizeof scanState.currentObject, "C:\\walking\\a.txt");
    ShowCurrentObject();
    AppendResultLine("%s     %s deleted", "C:\\M\xFCller\\x\x7f.exe", "W32/Gibe.F.Worm");
    CopyText(scanState.currentObject, sizeof scanState.currentObject, "Scanning completed");
    ShowCurrentObject();
    console.Finish();
    AttachProgressReceiver(nullptr);
    std::rewind(out);
    std::string printed;
    for (int ch; (ch = std::fgetc(out)) != EOF;) printed += static_cast<char>(ch);
    std::fclose(out);
    EXPECT_EQ(c.shown, printed);
  }
}

// A record is made from what the lines say happened, not from their words:
// each line leaves its fact, and a queued file becomes one.
TEST_F(Channel, EachResultLineLeavesItsFact) {
  scanOutcome = ScanOutcome{};
  ReportFileDeleted("C:\\a.exe", kVirusName);
  ReportFileDeleteFailed("C:\\b.exe", kVirusName);
  ReportFileDeleteFailed("C:\\c.exe", kVirusName);
  scanOutcome.MarkQueued("C:\\c.exe");
  ReportFileFound("C:\\d.exe", kVirusName);
  ReportFileKeptForRepair("C:\\e.exe", kVirusName);
  ReportFileIsHive("C:\\f.dat", kVirusName);
  ReportRegistryRemoved(kVirusName);
  ReportServiceRemoved("worm", kVirusName);
  ReportServiceRemoved("worm2", kVirusName);
  ReportServiceDeleteFailed("worm3", kVirusName);
  ReportMemoryRemoved(kVirusName);
  ReportProfileHiveFailed("C:\\u\\NTUSER.DAT", kVirusName, "loaded", 5);
  EXPECT_EQ(1, scanOutcome.Count(FileFate::Deleted));
  EXPECT_EQ(2, scanOutcome.Count(FileFate::DeleteFailed));
  EXPECT_EQ(1, scanOutcome.Count(FileFate::Queued));
  EXPECT_EQ(1, scanOutcome.Count(FileFate::Found));
  EXPECT_EQ(1, scanOutcome.Count(FileFate::Kept));
  EXPECT_EQ("C:\\c.exe", scanOutcome.files[2].path);
  EXPECT_TRUE(scanOutcome.registryRepaired);
  EXPECT_FALSE(scanOutcome.registryFound);
  EXPECT_EQ(2, scanOutcome.servicesRemoved);
  EXPECT_EQ(1, scanOutcome.servicesFailed);
  EXPECT_TRUE(scanOutcome.memoryEnded);
  EXPECT_EQ(1, scanOutcome.profileHivesFailed);
  scanOutcome = ScanOutcome{};
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
