// Text between the system's code pages and UTF-16: the records are UTF-8,
// the ANSI calls speak the code page, the wide calls UTF-16.
#pragma once

#include <windows.h>

#include <string>

// text in codePage (CP_ACP, CP_UTF8) as UTF-16; empty when it cannot be.
std::wstring Utf16(const std::string& text, UINT codePage);
// UTF-16 as UTF-8; empty when it cannot be.
std::string Utf8(const std::wstring& text);
// Text in the system's ANSI code page as UTF-8.
std::string Utf8FromAnsi(const std::string& ansi);
