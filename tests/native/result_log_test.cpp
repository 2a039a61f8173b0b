// The results log: what reaches the file, in what order, and what happens
// when the file cannot take it.
#include "engine/result_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/report.h"
#include "engine/scan_state.h"
#include "engine/scan_targets.h"
#include "tests/support/progress_recorder.h"

namespace {

// Records every write; fails from write number failFrom on (0: never).
class RecordingSink : public LogSink {
 public:
  explicit RecordingSink(int failFrom = 0) : failFrom_(failFrom) {}
  bool Append(const char* data, size_t size) override {
    ++writes;
    if (failFrom_ != 0 && writes >= failFrom_) return false;
    text.append(data, size);
    return true;
  }
  std::string text;
  int writes = 0;

 private:
  int failFrom_;
};

constexpr LogTime kStarted{2003, 6, 5, 9, 7, 3};

TEST(ResultLog, EntryIsHeaderLinesThenAnEmptyLine) {
  RecordingSink sink;
  ResultLog log;
  log.Open(&sink, "Scourix Ver 1.0", kStarted);
  log.Add("C:\\a.exe     W32/Gibe.F.Worm deleted");
  log.Add("Total files scanned\t\t:  7");
  EXPECT_EQ(sink.writes, 0) << "lines are buffered until Close";
  log.Close();
  EXPECT_EQ(sink.text,
            "Scourix Ver 1.0, scan of 2003-06-05 09:07:03\r\n"
            "C:\\a.exe     W32/Gibe.F.Worm deleted\r\n"
            "Total files scanned\t\t:  7\r\n"
            "\r\n");
  EXPECT_EQ(sink.writes, 1);
  log.Add("after close");
  log.Close();
  EXPECT_EQ(sink.writes, 1) << "nothing after Close";
}

TEST(ResultLog, ManyLinesAreAllKeptInOrderAcrossBufferFlushes) {
  RecordingSink sink;
  ResultLog log;
  log.Open(&sink, "P", kStarted);
  std::string expected = "P, scan of 2003-06-05 09:07:03\r\n";
  const std::string longLine(499, 'x');
  for (int i = 0; i < 400; ++i) {
    const std::string line = std::to_string(i) + (i % 7 == 0 ? longLine : " C:\\dir\\file.exe");
    log.Add(line.c_str());
    expected += line + "\r\n";
  }
  log.Close();
  EXPECT_EQ(sink.text, expected + "\r\n");
  EXPECT_GT(sink.writes, 1);
  EXPECT_LT(sink.writes, 40) << "written in blocks, not line by line";
}

TEST(ResultLog, LineLongerThanTheBufferIsWrittenWhole) {
  RecordingSink sink;
  ResultLog log;
  log.Open(&sink, "P", kStarted);
  const std::string huge(10000, 'h');
  log.Add(huge.c_str());
  log.Add("tail");
  log.Close();
  EXPECT_NE(sink.text.find(huge + "\r\ntail\r\n\r\n"), std::string::npos);
}

TEST(ResultLog, FailedWriteDropsTheLogSilently) {
  RecordingSink sink(/*failFrom=*/2);
  ResultLog log;
  log.Open(&sink, "P", kStarted);
  const std::string line(300, 'y');
  for (int i = 0; i < 100; ++i) log.Add(line.c_str());
  EXPECT_FALSE(log.IsOpen());
  const int writes = sink.writes;
  EXPECT_EQ(writes, 2);
  for (int i = 0; i < 100; ++i) log.Add(line.c_str());
  log.Close();
  EXPECT_EQ(sink.writes, writes) << "no write is tried after one failed";
}

TEST(ResultLog, NullSinkLogsNothing) {
  ResultLog log;
  log.Open(nullptr, "P", kStarted);
  log.Add("line");
  log.Close();
  EXPECT_FALSE(log.IsOpen());
}

TEST(ResultLog, ReopeningEndsThePreviousEntryFirst) {
  RecordingSink first;
  RecordingSink second;
  ResultLog log;
  log.Open(&first, "P", kStarted);
  log.Add("one");
  log.Open(&second, "P", kStarted);
  log.Add("two");
  log.Close();
  EXPECT_EQ(first.text, "P, scan of 2003-06-05 09:07:03\r\none\r\n\r\n");
  EXPECT_EQ(second.text, "P, scan of 2003-06-05 09:07:03\r\ntwo\r\n\r\n");
}

// The scan's own lines reach both the window and the log, in the same order.
TEST(ResultLog, ScanLinesStatisticsAndStatusReachTheScanLog) {
  scanState = ScanState{};
  RecordProgress();
  ClearProgressMessages();
  RecordingSink sink;
  resultLog.Open(&sink, scanState.productTitle, kStarted);
  for (int i = 0; i < 200; ++i) AppendResultLine("C:\\t\\%d.exe     %s deleted", i, scanState.virusName);
  scanState.filesScanned = 300;
  scanState.filesInfected = 200;
  scanState.filesDeleted = 200;
  ReportStatistics();
  scanState.scanCancelled = 1;
  ReportFinalStatus();
  resultLog.Close();
  std::string shown;
  for (const auto& message : ProgressMessages()) shown += message.text + "\r\n";
  EXPECT_EQ(ProgressMessages().size(), 206u);
  EXPECT_EQ(sink.text, "Scourix Ver 1.0, scan of 2003-06-05 09:07:03\r\n" + shown + "\r\n");
  EXPECT_EQ(sink.text.find("Scourix Ver 1.0, scan of 2003-06-05 09:07:03\r\nC:\\t\\0.exe     W32/Gibe.F.Worm deleted\r\n"),
            0u);
  EXPECT_NE(sink.text.find("C:\\t\\199.exe     W32/Gibe.F.Worm deleted\r\n \r\nScanning statistics\t\t:\r\n"
                           "Total files scanned\t\t:  300\r\nTotal files infected\t\t:  200\r\n"
                           "Total files deleted\t\t:  200\r\nScanning terminated\r\n\r\n"),
            std::string::npos);
  scanState = ScanState{};
  ClearProgressMessages();
}

TEST(ResultLog, LogPathIsBuiltWithOneSeparatorAndNeverCut) {
  char path[kPathCapacity];
  ASSERT_TRUE(BuildLogPath("C:\\WINDOWS", path));
  EXPECT_STREQ(path, "C:\\WINDOWS\\Scourix.log");
  ASSERT_TRUE(BuildLogPath("C:\\TEMP\\", path));
  EXPECT_STREQ(path, "C:\\TEMP\\Scourix.log");
  EXPECT_FALSE(BuildLogPath(nullptr, path));
  EXPECT_FALSE(BuildLogPath("", path));
  const std::string deep = "C:\\" + std::string(kPathCapacity - 15, 'd');
  EXPECT_FALSE(BuildLogPath(deep.c_str(), path));
}

}  // namespace
