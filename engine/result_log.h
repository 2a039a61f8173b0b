// The results log: every line the result list shows, the statistics and the
// final status of each scan, appended to a text file that outlives the list
// (which is cleared every 150 lines during a long scan). Portable: the file
// is the platform's, behind LogSink.
#pragma once

#include <cstddef>

// Where the log's text goes. Append returns false when the bytes could not
// all be written.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual bool Append(const char* data, size_t size) = 0;
};

// The local date and time a scan started.
struct LogTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Lines are collected in a fixed buffer and written when it fills and at
// Close, so the log costs the scan a write per few kilobytes. A log that
// cannot be written is dropped silently: after the first failed write
// nothing more is attempted.
class ResultLog {
 public:
  // Starts a scan's entry in sink (which must outlive Close) with a line
  // naming the product and the time. A null sink logs nothing.
  void Open(LogSink* sink, const char* product, const LogTime& started);
  // One line, its control characters escaped (a line of the log is always
  // one result); a line break is added.
  void Add(const char* line);
  // Writes what is buffered and ends the entry with an empty line. Until the
  // next Open, Add does nothing.
  void Close();
  bool IsOpen() const { return sink_ != nullptr; }

 private:
  void Put(const char* data, size_t size);
  void Flush();

  static constexpr size_t kBufferSize = 4096;
  LogSink* sink_ = nullptr;
  char buffer_[kBufferSize] = {};
  size_t used_ = 0;
};

// The scan's log: AppendResultLine and ReportFinalStatus write to it.
extern ResultLog resultLog;
