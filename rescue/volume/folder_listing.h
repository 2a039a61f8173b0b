// One folder's entries, as the rescue program sees them: a link, junction,
// device or pipe is never taken for a file or a folder.
#pragma once

#include <string>
#include <vector>

#include "posix/unique_fd.h"

enum class EntryKind { File, Folder, Other };

struct FolderEntry {
  std::string name;
  EntryKind kind;
};

// The entries of the open folder, without "." and "..", in the order the
// file system gives them; empty when it cannot be read. error, when given,
// gets the errno of a listing that failed (0 when it was complete).
std::vector<FolderEntry> ListFolder(int folder, int* error = nullptr);
// The same for a folder by path.
std::vector<FolderEntry> ListFolder(const std::string& path);

// The folder at relative ('/'-separated names, "" for base itself) under the
// open folder base, each step opened without following a link; invalid
// (errno set) when a step is missing, a link, or not a folder.
UniqueFd OpenFolderBeneath(int base, const std::string& relative);
