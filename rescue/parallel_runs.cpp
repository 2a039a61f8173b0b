#include "rescue/parallel_runs.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "posix/fd_io.h"
#include "record/exit_status.h"

namespace {

struct Child {
  pid_t pid = -1;
  int output = -1;  // read end of its standard output and error
  size_t run = 0;
  std::string text;
};

// Starts program with the run's arguments, its output into a pipe.
bool Start(const std::string& program, const TargetRun& run, Child& child) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : run.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }
  ::close(pipeFds[1]);
  if (pid < 0) {
    ::close(pipeFds[0]);
    return false;
  }
  child.pid = pid;
  child.output = pipeFds[0];
  return true;
}

// Ctrl-C reaches every run, which ends its own scan at the next file; this
// program goes on collecting what they print.
void KeepCollecting(int) {}

int StatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus) == 127 ? kExitNotAllRemoved : WEXITSTATUS(waitStatus);
  return kExitNotAllRemoved;  // ended by a signal: not everything is known to be removed
}

}  // namespace

std::string TargetFileName(const std::string& target) {
  std::string name = target;
  while (!name.empty() && name.front() == '/') name.erase(name.begin());
  while (!name.empty() && name.back() == '/') name.pop_back();
  std::replace(name.begin(), name.end(), '/', '_');
  if (name.empty() || name == "." || name == "..") name = "root";
  return name;
}

int RunTargetsInParallel(const std::string& program, const std::vector<TargetRun>& runs, int jobs, std::FILE* out) {
  struct sigaction interrupt {};
  interrupt.sa_handler = KeepCollecting;
  interrupt.sa_flags = SA_RESTART;
  sigaction(SIGINT, &interrupt, nullptr);
  int worst = 0;
  size_t next = 0;
  std::vector<Child> running;
  while (next < runs.size() || !running.empty()) {
    while (next < runs.size() && static_cast<int>(running.size()) < std::max(1, jobs)) {
      Child child;
      child.run = next;
      if (!Start(program, runs[next], child)) {
        std::fprintf(out, "==> %s <==\nscourix-rescue: cannot start a run for it\n", runs[next].target.c_str());
        worst = std::max(worst, 2);
      } else {
        running.push_back(std::move(child));
      }
      ++next;
    }
    if (running.empty()) continue;
    std::vector<pollfd> fds;
    for (const Child& child : running) fds.push_back({child.output, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    for (size_t i = fds.size(); i-- > 0;) {
      if (fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = ::read(running[i].output, buffer, sizeof buffer);
      if (got > 0) {
        running[i].text.append(buffer, static_cast<size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      // Its output has ended: so has the run, or it soon will.
      ::close(running[i].output);
      int waitStatus = 0;
      while (::waitpid(running[i].pid, &waitStatus, 0) < 0 && errno == EINTR) {
      }
      const int status = StatusOf(waitStatus);
      worst = std::max(worst, status);
      std::fprintf(out, "==> %s <==\n%s", runs[running[i].run].target.c_str(), running[i].text.c_str());
      if (!running[i].text.empty() && running[i].text.back() != '\n') std::fputc('\n', out);
      std::fprintf(out, "(exit status %d)\n\n", status);
      std::fflush(out);
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return worst;
}
