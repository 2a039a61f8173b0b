#include "rescue/volume/tree_reader.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

#include "engine/files_posix.h"

namespace {

// Deeper than any path Windows can use (32,767 characters reach about 16,000
// levels of one-letter names): such a folder is said to be unscanned.
constexpr int kDeepestFolder = 8192;

// Each reader holds a file, or a folder and up to two more while it opens one
// beneath the root; each step and listing read ahead holds a folder.
constexpr int kDescriptorsPerReader = 3;
constexpr int kStepsPerReader = 8;

// Requests queued beyond the readers awake before another is woken.
constexpr size_t kWakeBacklog = 16;
// How much lower the readers' priority is than the walk's.
constexpr int kReaderNice = 10;

// How often a wait looks whether the walk was cancelled.
constexpr std::chrono::milliseconds kCancelPoll{50};

}  // namespace

WalkLimits PlanWalk(int readers, int freeDescriptors) {
  // Half of what is free is left for the cleaning after the walk; the walk's
  // half is shared between the read-ahead and the held levels.
  const int walk = std::max(2, freeDescriptors / 2);
  const int ahead = std::max(1, walk / 2);
  WalkLimits limits;
  limits.readers = std::clamp(readers, 1, std::max(1, ahead / (kDescriptorsPerReader + kStepsPerReader)));
  limits.listings = static_cast<size_t>(limits.readers);
  const int steps = ahead - limits.readers * kDescriptorsPerReader - limits.readers;
  limits.window = static_cast<size_t>(std::clamp(steps, 2, limits.readers * kStepsPerReader));
  limits.heldLevels = std::max(1, walk - ahead);
  return limits;
}

TreeReader::TreeReader(int root, const WindowsVolume& volume, std::vector<VolumePath> targets,
                       const WalkLimits& limits)
    : root_(root), volume_(volume), targets_(std::move(targets)), limits_(limits) {
  // The readers take no signals: Ctrl-C reaches the walk's own thread, and no
  // read of theirs is cut short by it.
  sigset_t all, before;
  sigfillset(&all);
  const bool masked = pthread_sigmask(SIG_SETMASK, &all, &before) == 0;
  // Fewer readers than asked for when the system will not start more; none
  // at all, and the walk reads for itself.
  try {
    for (int i = 0; i < std::max(1, limits_.readers); ++i) readers_.emplace_back(&TreeReader::ReaderLoop, this);
  } catch (const std::system_error&) {
  }
  if (masked) pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

TreeReader::~TreeReader() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    listings_.clear();
    files_.clear();
  }
  work_.notify_all();
  for (std::thread& reader : readers_) reader.join();
}

void TreeReader::Issue(const std::shared_ptr<Task>& task) {
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    (task->kind == Task::Kind::List ? listings_ : files_).push_back(task);
    // A sleeping reader is woken only when far more is queued than the
    // readers awake can take: on a cached volume the walk and a few readers
    // keep up, and waking one per request would cost more than its reads; on
    // a cold one the requests pile up and every reader wakes.
    const size_t backlog = std::min(kWakeBacklog, limits_.window / 2);
    wake = sleeping_ > 0 && listings_.size() + files_.size() > readers_.size() - sleeping_ + backlog;
  }
  if (wake) work_.notify_one();
}

void TreeReader::Run(Task& task, int root) {
  if (task.kind == Task::Kind::List) {
    // Opened without following: a folder replaced by a link since its
    // parent was listed is not entered.
    UniqueFd folder = task.folder != nullptr
                          ? UniqueFd(openat(task.folder->Get(), task.name.c_str(),
                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC))
                          : OpenFolderBeneath(root, task.relative);
    if (!folder) {
      task.openError = errno != 0 ? errno : EIO;
      return;
    }
    if (task.list) task.entries = ListFolder(folder.Get(), &task.listError);
    task.opened = std::make_shared<UniqueFd>(std::move(folder));
    return;
  }
  const int folder = task.folder->Get();
  {
    PosixFileSource file(folder, task.name.c_str());
    if (!file.Ok()) {
      // Gone, or no longer a regular file, since the listing: nothing to
      // scan. A regular file that cannot be read is reported.
      const int error = errno != 0 ? errno : EIO;
      struct stat st {};
      if (fstatat(folder, task.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        task.look.unreadable = error;
      }
      return;
    }
    task.look.verdict = ExamineFile(file);
    task.look.examined = true;
  }  // closed before it is looked at again
  struct stat st {};
  if (task.look.verdict.count > 0 && fstatat(folder, task.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(st.st_mode)) {
    task.look.stillRegular = true;
    task.look.after = st;
  }
}

void TreeReader::ReaderLoop() {
  // Below the walk's own thread: on a cached volume the walk is quicker
  // reading for itself than waiting for a reader that shares its processor.
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), std::min(19, nice + kReaderNice));
  for (;;) {
    std::shared_ptr<Task> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!stopping_ && listings_.empty() && files_.empty()) {
        ++sleeping_;
        work_.wait(lock);
        --sleeping_;
      }
      if (stopping_) return;
      // A listing first; then the newest file: the walk takes the oldest
      // itself when no reader has, so the two work from opposite ends.
      if (!listings_.empty()) {
        task = std::move(listings_.front());
        listings_.pop_front();
      } else {
        task = std::move(files_.back());
        files_.pop_back();
      }
      task->taken = true;
    }
    Run(*task, root_);
    bool awaited = false;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      task->done.store(true, std::memory_order_release);
      awaited = task.get() == awaited_;
    }
    // Only what the walk waits for wakes it: it takes whatever else is done
    // when it gets there.
    if (awaited) finished_.notify_one();
  }
}

void TreeReader::NotScanned(const std::string& windows, std::string why) {
  Pending pending;
  pending.step.kind = WalkStep::Kind::NotScanned;
  pending.step.windows = windows;
  pending.step.why = std::move(why);
  window_.push_back(std::move(pending));
}

// The folder's listing has been read: false (and said, where the walk before
// it said so) when it cannot be walked.
bool TreeReader::StartLevel(Level& level) {
  Task& listing = *level.listing;
  if (listing.openError != 0) {
    // Below a target, a folder that has gone or become a link or a file since
    // its parent was listed is passed over.
    const int error = listing.openError;
    if (level.target || (error != ELOOP && error != ENOENT && error != ENOTDIR)) {
      NotScanned(level.where->windows, std::strerror(error));
    }
    return false;
  }
  if (level.depth > kDeepestFolder) {
    NotScanned(level.where->windows, "deeper than Windows can reach");
    return false;
  }
  if (listing.listError != 0) NotScanned(level.where->windows, std::strerror(listing.listError));
  level.folder = std::move(listing.opened);
  level.entries = std::move(listing.entries);
  level.listing.reset();
  return true;
}

// Issues the listings of the level's subfolders ahead of the walk, as many as
// the limit allows; `next`: at least the one the walk enters next.
void TreeReader::IssueChildListings(Level& level, bool next) {
  const bool held = level.depth < limits_.heldLevels;
  while (level.listedUpTo < level.entries.size()) {
    const FolderEntry& entry = level.entries[level.listedUpTo];
    if (entry.kind != EntryKind::Folder) {
      ++level.listedUpTo;
      continue;
    }
    if (listingsAhead_ >= limits_.listings && !(next && level.children.empty())) return;
    auto task = std::make_shared<Task>();
    task->kind = Task::Kind::List;
    task->where = std::make_shared<const VolumePath>(Child(*level.where, entry.name));
    task->list = level.depth + 1 <= kDeepestFolder;
    // Below the held levels each folder is opened again from the root, so
    // that no depth runs out of descriptors.
    if (held) {
      task->folder = level.folder;
      task->name = entry.name;
    } else {
      task->relative = RelativePath(volume_, task->where->host);
    }
    level.children.push_back(task);
    ++listingsAhead_;
    ++level.listedUpTo;
    Issue(task);
  }
}

void TreeReader::Advance() {
  while (window_.size() < limits_.window) {
    if (stack_.empty()) {
      if (nextTarget_ == targets_.size()) return;
      const VolumePath& target = targets_[nextTarget_++];
      Level level;
      level.where = std::make_shared<const VolumePath>(target);
      level.target = true;
      level.listing = std::make_shared<Task>();
      level.listing->kind = Task::Kind::List;
      level.listing->relative = RelativePath(volume_, target.host);
      ++listingsAhead_;
      Issue(level.listing);
      stack_.push_back(std::move(level));
      continue;
    }
    Level& level = stack_.back();
    if (level.listing != nullptr) {
      if (!level.listing->done.load(std::memory_order_acquire)) return;  // not listed yet
      --listingsAhead_;
      if (!StartLevel(level)) {
        stack_.pop_back();
        continue;
      }
      IssueChildListings(level, false);
      continue;
    }
    // The folder's files first, in the order listed.
    if (level.nextFile < level.entries.size()) {
      const FolderEntry& entry = level.entries[level.nextFile++];
      if (entry.kind != EntryKind::File) continue;
      Pending pending;
      pending.task = std::make_shared<Task>();
      pending.task->folder = level.folder;
      pending.task->name = entry.name;
      pending.step.folder = level.where;
      pending.step.name = entry.name;
      Issue(pending.task);
      window_.push_back(std::move(pending));
      continue;
    }
    // Then each subfolder's tree.
    if (level.depth >= limits_.heldLevels) level.folder.reset();
    while (level.nextFolder < level.entries.size() && level.entries[level.nextFolder].kind != EntryKind::Folder) {
      ++level.nextFolder;
    }
    if (level.nextFolder == level.entries.size()) {
      stack_.pop_back();
      continue;
    }
    ++level.nextFolder;
    IssueChildListings(level, true);
    Level child;
    child.listing = std::move(level.children.front());
    level.children.pop_front();
    child.where = child.listing->where;
    child.depth = level.depth + 1;
    stack_.push_back(std::move(child));  // `level` is not used past here
  }
}

bool TreeReader::Finished() const { return window_.empty() && stack_.empty() && nextTarget_ == targets_.size(); }

// What the walk waits for: the step at the front, or the listing of the
// folder it is about to enter.
TreeReader::Task* TreeReader::Awaited() const {
  if (!window_.empty()) return window_.front().task.get();
  return !stack_.empty() ? stack_.back().listing.get() : nullptr;
}

bool TreeReader::Next(WalkStep& step, const std::function<bool()>& cancelled) {
  for (;;) {
    if (cancelled()) return false;
    Advance();
    if (Finished()) return false;
    if (!window_.empty()) {
      Pending& front = window_.front();
      if (front.task == nullptr || front.task->done.load(std::memory_order_acquire)) {
        step = std::move(front.step);
        if (front.task != nullptr) step.look = front.task->look;
        window_.pop_front();
        return true;
      }
    }
    Task* awaited = Awaited();
    if (awaited == nullptr || awaited->done.load(std::memory_order_acquire)) continue;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!awaited->taken) {
      // No reader has taken it yet (all busy further ahead, or none could be
      // started): the walk reads it itself rather than wait.
      auto& queue = awaited->kind == Task::Kind::List ? listings_ : files_;
      const auto queued = std::find_if(queue.begin(), queue.end(),
                                       [&](const std::shared_ptr<Task>& task) { return task.get() == awaited; });
      if (queued != queue.end()) {
        queue.erase(queued);
        awaited->taken = true;
        lock.unlock();
        Run(*awaited, root_);
        awaited->done.store(true, std::memory_order_release);
        continue;
      }
    }
    awaited_ = awaited;
    finished_.wait_for(lock, kCancelPoll, [&] { return awaited->done.load(std::memory_order_acquire); });
    awaited_ = nullptr;
  }
}
