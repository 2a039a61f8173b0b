#include "win32/unicode.h"

std::wstring Utf16(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], length, nullptr, nullptr);
  return utf8;
}

std::string Utf8FromAnsi(const std::string& ansi) { return Utf8(Utf16(ansi, CP_ACP)); }
