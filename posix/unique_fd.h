// An owned POSIX file descriptor, closed exactly once on every path.
#pragma once

#include <unistd.h>

#include <utility>

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  explicit operator bool() const { return fd_ >= 0; }
  int Get() const { return fd_; }
  // Closes the descriptor held; false when the close itself failed.
  bool Reset(int fd = -1) {
    const int old = std::exchange(fd_, fd);
    return old < 0 || ::close(old) == 0;
  }

 private:
  int fd_ = -1;
};
