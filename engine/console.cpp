#include "engine/console.h"

#include <vector>

#include "engine/text.h"

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kMinimumWidth = 20;
constexpr char kClearLine[] = "\r\033[K";
}  // namespace

Console::Console(std::FILE* out, bool terminal, int width, ConsoleText text)
    : out_(out), terminal_(terminal), text_(text), width_(width < kMinimumWidth ? kMinimumWidth : width),
      started_(Clock::now()) {}

std::string Console::Shown(const std::string& text) const {
  return text_ == ConsoleText::Utf8 ? EscapeForUtf8Terminal(text) : EscapeControlBytes(text);
}

void Console::Line(const char* text) {
  if (shown_) std::fputs(kClearLine, out_);
  std::fputs(Shown(text).c_str(), out_);
  std::fputc('\n', out_);
  if (shown_) Draw();
  std::fflush(out_);
}

void Console::Progress(int filesScanned, const std::string& folder) {
  if (!terminal_) return;
  files_ = filesScanned;
  const Clock::time_point now = Clock::now();
  if (shown_ && now - drawnAt_ < kRedrawInterval) return;
  folder_ = Shown(folder);
  drawnAt_ = now;
  Draw();
  std::fflush(out_);
}

void Console::ClearProgress() {
  if (!shown_) return;
  std::fputs(kClearLine, out_);
  std::fflush(out_);
  shown_ = false;
}

void Console::Finish() {
  ClearProgress();
  if (!status_.empty()) Line(status_.c_str());
  status_.clear();
}

void Console::Draw() {
  const long seconds = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count());
  char head[64];
  std::snprintf(head, sizeof head, "%d files  %ld:%02ld  ", files_, seconds / 60, seconds % 60);
  // The line must never wrap, or the next redraw would leave its first part
  // behind: the folder is shortened to what is left of the width.
  const int room = width_ - 1 - static_cast<int>(std::string(head).size());
  std::string folder;
  if (room > 4) {
    std::vector<char> shortened(folder_.size() + 1);
    ShortenPath(folder_.c_str(), shortened.data(), shortened.size(), room);
    folder = shortened.data();
  }
  std::fprintf(out_, "%s%s%s", kClearLine, head, folder.c_str());
  shown_ = true;
}
