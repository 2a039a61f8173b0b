// Whether a service's configured command line runs a given file. Portable.
#pragma once

#include <cstddef>

// binaryPath: as the service manager keeps it ("C:\x\a.exe", with quotes,
// with arguments). True when its program, without quotes and arguments, is
// filePath (compared without regard to case).
bool ServiceBinaryNamesFile(const char* binaryPath, const char* filePath);

// The service name the worm uses for its file: the file name after the last
// backslash, cut at its last dot, into name (capacity bytes).
void ServiceNameOfFile(const char* filePath, char* name, size_t capacity);
