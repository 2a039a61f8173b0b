// The engine's views of files on the Win32 API: a file examined (a
// ByteSource for the detection) and the results log's file (a LogSink).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/pe_signature.h"
#include "engine/result_log.h"
#include "win32/file.h"

class Win32FileSource final : public ByteSource {
 public:
  explicit Win32FileSource(const char* path) : file_(path) {}
  // Whether the file could be opened and its length taken.
  bool Ok() const { return file_.Ok(); }
  uint64_t Length() const override { return file_.Length(); }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override { return file_.ReadAt(offset, buffer, size); }
  // Closes the file now; later reads return nothing.
  void Close() { file_.Close(); }

 private:
  ReadOnlyFile file_;
};

class AppendFile final : public LogSink {
 public:
  bool Open(const char* path) { return file_.Open(path); }
  bool Append(const char* data, size_t size) override { return file_.Append(data, size); }

 private:
  AppendOnlyFile file_;
};
