// The reads of the offline walk, made ahead of it by a pool of reader threads
// so that a disk nothing has cached has many requests in flight, and handed
// back in the walk's own order: the files of a folder in the order the file
// system lists them, then each subfolder's tree, target after target. What is
// done with each file (lines, counts, the registry repair) stays with the
// caller, on its own thread, so the output is the same for any number of
// readers. When no reader has taken the request the walk needs next, the walk
// makes it itself: on a cached volume that is quicker than any hand-over.
//
// Bounded: at most `window` steps are read ahead, at most `listings` folder
// listings are held before the walk reaches them, and folders deeper than
// `heldLevels` are opened again from the root instead of being kept open.
// Links are never followed and every folder is opened beneath the root.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/pe_signature.h"
#include "posix/unique_fd.h"
#include "rescue/volume/folder_listing.h"
#include "rescue/volume/volume.h"

struct WalkLimits {
  int readers = 1;
  size_t window = 8;    // steps read ahead of the walk
  size_t listings = 1;  // folder listings read ahead of the walk
  int heldLevels = 64;  // folder levels kept open while the walk goes deeper
};

// Limits for the given readers within the descriptors the process has free
// (its limit less those already open): the read-ahead takes at most half of
// them, shrinking the readers first where there are few; the held levels get
// what remains, as the walk before them had.
WalkLimits PlanWalk(int readers, int freeDescriptors);

// What a reader found out about one file.
struct FileLook {
  // The file could not be read while it is still a regular file (errno);
  // 0 when it was examined, or had gone, or was no longer a regular file.
  int unreadable = 0;
  bool examined = false;
  SignatureVerdict verdict;
  // When it matched: whether it is still a regular file after the
  // examination, and its state then.
  bool stillRegular = false;
  struct stat after {};
};

// One thing the walk meets, in order.
struct WalkStep {
  enum class Kind {
    File,        // a regular file of the folder, examined
    NotScanned,  // a folder or file that could not be looked into
  };
  Kind kind = Kind::File;
  std::shared_ptr<const VolumePath> folder;  // where the file is
  std::string name;                          // File: its name in the folder
  std::string windows;                       // NotScanned: the path, as Windows names it
  std::string why;                           // NotScanned: the reason
  FileLook look;                             // File: what the reader found
};

class TreeReader {
 public:
  // root: the volume's root folder, open (not owned); targets: the trees, in
  // walk order.
  TreeReader(int root, const WindowsVolume& volume, std::vector<VolumePath> targets, const WalkLimits& limits);
  ~TreeReader();
  TreeReader(const TreeReader&) = delete;
  TreeReader& operator=(const TreeReader&) = delete;

  // The next step, its reads done. False at the end of the last tree, or as
  // soon as cancelled() says so (it is asked while waiting, too).
  bool Next(WalkStep& step, const std::function<bool()>& cancelled);

 private:
  // One request for the readers: a folder opened and listed, or a file
  // examined. Its results are written by one reader, then read by the walk
  // once done is set.
  struct Task {
    enum class Kind { List, Examine };
    Kind kind = Kind::Examine;
    // Examine: the file's folder. List: the parent to open the folder from,
    // or none: the folder is opened from the root by `relative`.
    std::shared_ptr<UniqueFd> folder;
    std::string name;
    std::string relative;
    std::shared_ptr<const VolumePath> where;  // List: the folder
    bool list = true;                         // List: false opens it only
    bool taken = false;  // by a reader, or by the walk itself (under the mutex)
    std::atomic<bool> done{false};
    // List's results.
    int openError = 0;
    std::shared_ptr<UniqueFd> opened;
    std::vector<FolderEntry> entries;
    int listError = 0;
    // Examine's result.
    FileLook look;
  };

  // A folder of the walk's path, from its target down.
  struct Level {
    std::shared_ptr<const VolumePath> where;
    int depth = 0;
    bool target = false;                  // every failure to open it is said
    std::shared_ptr<Task> listing;        // until the walk reaches it
    std::shared_ptr<UniqueFd> folder;     // while it is needed
    std::vector<FolderEntry> entries;
    size_t nextFile = 0;                  // the files are issued first,
    size_t nextFolder = 0;                // then the subfolders entered,
    size_t listedUpTo = 0;                // their listings issued ahead
    std::deque<std::shared_ptr<Task>> children;  // issued, not yet entered
  };

  struct Pending {
    WalkStep step;
    std::shared_ptr<Task> task;  // Examine; none for NotScanned
  };

  static void Run(Task& task, int root);
  void Issue(const std::shared_ptr<Task>& task);
  void ReaderLoop();
  // Fills the window as far as the listings read so far allow.
  void Advance();
  bool StartLevel(Level& level);
  void IssueChildListings(Level& level, bool next);
  void NotScanned(const std::string& windows, std::string why);
  bool Finished() const;
  Task* Awaited() const;

  const int root_;
  const WindowsVolume& volume_;
  const std::vector<VolumePath> targets_;
  const WalkLimits limits_;
  size_t nextTarget_ = 0;
  std::vector<Level> stack_;
  std::deque<Pending> window_;
  size_t listingsAhead_ = 0;

  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable finished_;
  // Requests not yet taken: the listings (which the walk cannot go past
  // without) come first, in order; then the files, newest first.
  std::deque<std::shared_ptr<Task>> listings_;
  std::deque<std::shared_ptr<Task>> files_;
  bool stopping_ = false;
  size_t sleeping_ = 0;  // readers waiting for work
  Task* awaited_ = nullptr;  // what the walk sleeps on, if it does
  std::vector<std::thread> readers_;
};
