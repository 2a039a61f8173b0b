// The routine of the one virus-table entry: matches a file against the
// signature table and acts on a match.
#pragma once

// Returns 1 when the file carried a signature and was handed on, 0 otherwise.
int CheckFile(const char* name, const char* path);
