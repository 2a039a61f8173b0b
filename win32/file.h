// Files and directory searches on the ANSI Win32 calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "win32/handle.h"

// A file opened read-only, shared with every other opener, so that examining a
// file never stands in the way of the program that uses it.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const char* path);
  // Ok() tells whether the file could be opened and its length taken.
  bool Ok() const { return ok_; }
  uint64_t Length() const { return length_; }
  // Up to size bytes at offset; how many were read (0 at the end or on an error).
  size_t ReadAt(uint64_t offset, void* buffer, size_t size);
  // Closes the file now; later reads return nothing.
  void Close() { file_.Reset(); ok_ = false; }

 private:
  FileHandle file_;
  uint64_t length_ = 0;
  bool ok_ = false;
};

// A text file that is only ever added to, shared for reading so that the
// person can look at it meanwhile. Made when missing.
class AppendOnlyFile {
 public:
  // False when path cannot be opened for writing or is not a file on disk.
  bool Open(const char* path);
  // False when the bytes could not all be written.
  bool Append(const char* data, size_t size);

 private:
  FileHandle file_;
};

// Reads a whole file of at most limit bytes into content. A missing file
// reads as empty; a larger one, or a failed read, gives false.
bool ReadSmallFile(const char* path, size_t limit, std::string& content);

// Replaces the file's contents so that a crash never leaves it half written:
// the new text goes to a sibling file first, which then takes the file's
// place (the old file is kept as a second sibling until that is done).
// siblingStem: the path of the siblings without extension, e.g. C:\WINDOWS\WININIT.
bool ReplaceFileContents(const char* path, const std::string& siblingStem, const std::string& content);

// After a crash between the two moves of ReplaceFileContents: puts the new
// file (written whole before any move) in place, or else the old one back.
void RecoverInterruptedReplacement(const char* path, const std::string& siblingStem);

// One FindFirstFileA/FindNextFileA search. Next() yields the entries in the
// order the file system returns them.
class DirectorySearch {
 public:
  explicit DirectorySearch(const char* pattern);
  // Moves to the next entry; the first call gives the first entry.
  bool Next();
  const WIN32_FIND_DATAA& Entry() const { return entry_; }
  bool IsFolder() const { return (entry_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  // Junctions and symbolic links: never entered.
  bool IsReparsePoint() const { return (entry_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

 private:
  WIN32_FIND_DATAA entry_{};  // before search_: FindFirstFileA fills it during construction
  FindHandle search_;
  bool started_ = false;
};
