#include "fleet/record_files.h"

#include <windows.h>

#include <string>

#include "win32/handle.h"
#include "win32/unicode.h"

namespace {

std::string ErrorText(DWORD error) { return "error " + std::to_string(error); }

bool IsRecordName(const std::wstring& name) {
  return name.size() > 5 && name.compare(name.size() - 5, 5, L".json") == 0;
}

// The file itself, never what a link or junction leads to, checked as it is
// once open, read up to one byte past the limit: a file still growing is
// refused too.
bool ReadFileAt(const std::wstring& path, std::string& text, std::string& problem) {
  const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    problem = ErrorText(GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      info.nFileSizeHigh != 0 || info.nFileSizeLow > kLargestRecord) {
    problem = "not a regular file of at most 16 MiB";
    return false;
  }
  text.assign(static_cast<size_t>(info.nFileSizeLow) + 1, '\0');
  size_t got = 0;
  while (got < text.size()) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), &text[got], static_cast<DWORD>(text.size() - got), &read, nullptr)) {
      problem = ErrorText(GetLastError());
      return false;
    }
    if (read == 0) break;
    got += read;
  }
  if (got > info.nFileSizeLow) {
    problem = "not a regular file of at most 16 MiB (it grew while read)";
    return false;
  }
  text.resize(got);
  return true;
}

}  // namespace

bool ForEachRecordFile(const std::string& folder, const RecordVisitor& visit, std::string& problem) {
  std::wstring base = Utf16(folder, CP_ACP);
  if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
  WIN32_FIND_DATAW entry{};
  const FindHandle search(FindFirstFileW((base + L"*").c_str(), &entry));
  if (!search) {
    problem = folder + ": " + ErrorText(GetLastError());
    return false;
  }
  do {
    const std::wstring name = entry.cFileName;
    if (!IsRecordName(name)) continue;
    std::string text, why;
    const bool read = ReadFileAt(base + name, text, why);
    visit(Utf8(name), read ? &text : nullptr, why);
  } while (FindNextFileW(search.Get(), &entry));
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    problem = folder + ": " + ErrorText(GetLastError());
    return false;
  }
  return true;
}

bool ReadGivenFile(const std::string& path, std::string& text, std::string& problem) {
  if (ReadFileAt(Utf16(path, CP_ACP), text, problem)) return true;
  problem = path + ": " + problem;
  return false;
}
