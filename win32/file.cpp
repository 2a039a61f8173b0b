#include "win32/file.h"

Win32FileSource::Win32FileSource(const char* path)
    // Windows 9x refuses FILE_SHARE_DELETE; the C runtime's "rb" shares the same way.
    : file_(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
  if (!file_) return;
  // GetFileSize, not GetFileSizeEx: the program runs on Windows 95 and NT 4.0.
  DWORD high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(file_.Get(), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return;
  length_ = uint64_t{high} << 32 | low;
  ok_ = true;
}

size_t Win32FileSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
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
