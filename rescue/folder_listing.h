// One folder's entries, as the rescue program sees them: a link, junction,
// device or pipe is never taken for a file or a folder.
#pragma once

#include <string>
#include <vector>

enum class EntryKind { File, Folder, Other };

struct FolderEntry {
  std::string name;
  EntryKind kind;
};

// The entries of the open folder, without "." and "..", in the order the
// file system gives them; empty when it cannot be read.
std::vector<FolderEntry> ListFolder(int folder);
// The same for a folder by path.
std::vector<FolderEntry> ListFolder(const std::string& path);
