#include "win32/file.h"

ReadOnlyFile::ReadOnlyFile(const char* path)
    // Windows 9x refuses FILE_SHARE_DELETE; the C runtime's "rb" shares the same way.
    : file_(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
  if (!file_) return;
  // A listed name such as CON or LPT1 opens a device, which a read could wait
  // on for ever: only files on disk are read.
  if (GetFileType(file_.Get()) != FILE_TYPE_DISK) return;
  // GetFileSize, not GetFileSizeEx: the program runs on Windows 95 and NT 4.0.
  DWORD high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(file_.Get(), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return;
  length_ = uint64_t{high} << 32 | low;
  ok_ = true;
}

size_t ReadOnlyFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (!ok_ || offset > static_cast<uint64_t>(INT64_MAX) || size > MAXDWORD) return 0;
  LONG high = static_cast<LONG>(offset >> 32);
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(file_.Get(), static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return 0;
  DWORD got = 0;
  if (!ReadFile(file_.Get(), buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
  return got;
}

DirectorySearch::DirectorySearch(const char* pattern)
    : search_(FindFirstFileA(pattern, &entry_)) {}

bool DirectorySearch::Next() {
  if (!search_) return false;
  if (!started_) {
    started_ = true;
    return true;
  }
  return FindNextFileA(search_.Get(), &entry_) != FALSE;
}

bool ReadSmallFile(const char* path, size_t limit, std::string& content) {
  content.clear();
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  ReadOnlyFile file(path);
  if (!file.Ok() || file.Length() > limit) return false;
  content.resize(static_cast<size_t>(file.Length()));
  return content.empty() || file.ReadAt(0, &content[0], content.size()) == content.size();
}

namespace {

bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool WriteNewFile(const char* path, const std::string& content) {
  FileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const bool ok = WriteAll(file.Get(), content.data(), content.size()) && FlushFileBuffers(file.Get());
  return file.Reset() && ok;
}

}  // namespace

bool AppendOnlyFile::Open(const char* path) {
  // Not FILE_APPEND_DATA, which Windows 9x does not know: the end is sought once.
  file_.Reset(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  LONG high = 0;
  bool atEnd = GetFileType(file_.Get()) == FILE_TYPE_DISK;
  if (atEnd) {
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(file_.Get(), 0, &high, FILE_END);
    atEnd = low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
  }
  if (!atEnd) file_.Reset();
  return atEnd;
}

bool AppendOnlyFile::Append(const char* data, size_t size) {
  return file_ && WriteAll(file_.Get(), data, size);
}

namespace {
std::string FreshSibling(const std::string& stem) { return stem + ".SC$"; }
std::string OldSibling(const std::string& stem) { return stem + ".SC~"; }
bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
}  // namespace

void RecoverInterruptedReplacement(const char* path, const std::string& siblingStem) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return;
  const std::string fresh = FreshSibling(siblingStem);
  const std::string old = OldSibling(siblingStem);
  // Only an old file moved aside means a replacement was under way.
  if (!Exists(old)) return;
  if (Exists(fresh) && MoveFileA(fresh.c_str(), path)) {
    DeleteFileA(old.c_str());
  } else {
    MoveFileA(old.c_str(), path);
  }
}

bool ReplaceFileContents(const char* path, const std::string& siblingStem, const std::string& content) {
  if (content.size() > MAXDWORD) return false;
  const std::string fresh = FreshSibling(siblingStem);
  const std::string old = OldSibling(siblingStem);
  if (!WriteNewFile(fresh.c_str(), content)) {
    DeleteFileA(fresh.c_str());
    return false;
  }
  // MoveFileEx cannot replace a file on Windows 9x: move the old one aside.
  const bool hadOld = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  if (hadOld) {
    DeleteFileA(old.c_str());
    if (!MoveFileA(path, old.c_str())) {
      DeleteFileA(fresh.c_str());
      return false;
    }
  }
  if (!MoveFileA(fresh.c_str(), path)) {
    if (hadOld) MoveFileA(old.c_str(), path);  // put the old file back
    DeleteFileA(fresh.c_str());
    return false;
  }
  if (hadOld) DeleteFileA(old.c_str());
  return true;
}
