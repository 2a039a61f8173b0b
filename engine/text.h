// Bounded text and path handling for the fixed 8-bit buffers of the scan.
// Nothing here writes past the capacity it is given.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// Whether two texts are equal without regard to the case of ASCII letters
// (as Windows compares names; other bytes must be equal).
bool EqualsIgnoringCase(const char* a, const char* b);

// Copies src into dst, cutting it to capacity - 1 characters. Returns false
// when it had to cut.
bool CopyText(char* dst, size_t capacity, const char* src);

// vsnprintf that always terminates dst, whatever the C runtime does.
void FormatTextV(char* dst, size_t capacity, const char* format, va_list args);

// The whole formatted text, however long.
std::string FormatTextV(const char* format, va_list args);

// Text as one line: control characters (tab excepted) and DEL become
// escapes such as \n, \r and \x1b. Other bytes pass, whatever the code
// page (on Windows, names are in the ANSI code page).
std::string EscapeControlBytes(const std::string& text);

// The same for a UTF-8 terminal, which also obeys the C1 controls: those,
// and bytes that are not UTF-8, are escaped too.
std::string EscapeForUtf8Terminal(const std::string& text);

// The length of the well-formed UTF-8 sequence of a character beyond ASCII
// at text[at] (no overlong form, no surrogate, nothing past U+10FFFF), or 0.
// code gets the character.
size_t Utf8SequenceLength(const std::string& text, size_t at, unsigned* code = nullptr);

// Display form of a path: a text longer than maxLen becomes its first
// maxLen/2 - 1 characters, dots, and its last maxLen/2 - 1 characters,
// maxLen in all. Shorter texts are copied unchanged (cut to dstSize).
void ShortenPath(const char* src, char* dst, size_t dstSize, int maxLen);

// Outcome of building a path from a search pattern such as C:\dir\*.*
enum class PathBuild {
  Ok,
  NoDot,    // the pattern holds no '.': the walk is abandoned
  TooLong,  // the result would not fit: the entry is skipped
};

// The folder of a pattern (everything before the character in front of its
// last '.', so C:\dir\*.* gives C:\dir\) followed by name.
PathBuild BuildEntryPath(const char* pattern, const char* name, char* out, size_t outSize);

// The pattern cut after its last '.' and followed by '*' (C:\dir\*.* stays).
PathBuild BuildSubfolderPattern(const char* pattern, char* out, size_t outSize);

// The folder of a pattern, then folder, then \*.*
PathBuild BuildNextPattern(const char* pattern, const char* folder, char* out, size_t outSize);
