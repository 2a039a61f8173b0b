#include "engine/result_log.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/text.h"

ResultLog resultLog;

void ResultLog::Open(LogSink* sink, const char* product, const LogTime& started) {
  Close();
  sink_ = sink;
  char header[128];
  std::snprintf(header, sizeof header, "%s, scan of %04d-%02d-%02d %02d:%02d:%02d", product, started.year,
                started.month, started.day, started.hour, started.minute, started.second);
  Add(header);
}

void ResultLog::Add(const char* line) {
  if (sink_ == nullptr) return;
  const std::string shown = EscapeControlBytes(line);
  Put(shown.data(), shown.size());
  Put("\r\n", 2);
}

void ResultLog::Close() {
  if (sink_ == nullptr) return;
  Put("\r\n", 2);
  Flush();
  sink_ = nullptr;
}

void ResultLog::Put(const char* data, size_t size) {
  if (size > kBufferSize - used_) {
    Flush();
    if (sink_ == nullptr) return;
    // Longer than the whole buffer: straight to the file.
    if (size > kBufferSize) {
      if (!sink_->Append(data, size)) sink_ = nullptr;
      return;
    }
  }
  std::memcpy(buffer_ + used_, data, size);
  used_ += size;
}

void ResultLog::Flush() {
  if (used_ > 0 && sink_ != nullptr && !sink_->Append(buffer_, used_)) sink_ = nullptr;
  used_ = 0;
}
