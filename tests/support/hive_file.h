// Registry hive files ("regf") made from nothing, for the native tests:
// libhivex can edit a hive but not create one, so this writes the smallest
// hive it (and Windows) will open, which hivex then fills in.
#pragma once

#include <optional>
#include <string>

// Writes a minimal registry hive: a 4 KiB base block and one 4 KiB bin
// holding the root key (named rootName) and its security cell. Returns false
// when the file cannot be written.
bool WriteEmptyHive(const std::string& path, const std::string& rootName = "ROOT");

// Sets the base block's two sequence numbers apart (keeping the checksum
// right), as Windows leaves a hive whose latest changes are still in its log.
bool MarkHiveDirty(const std::string& path);

// Moves a value that hivex stored in one plain data cell into Windows' "big
// data" form: a "db" record pointing at a list of segment cells, each holding
// 16,344 bytes of the data but the last. The new cells go into a bin added at
// the end of the hive, and the old data cell is freed. keyPath is relative to
// the root, backslash-separated, and names compare without regard to case, as in
// TestHive. Returns false when the file is not a hive of version 1.4 or
// later, the key or value is missing, or its data is not a plain cell longer
// than 16,344 bytes (the only data Windows reads through a "db" record).
bool ConvertToBigData(const std::string& path, const std::string& keyPath, const std::string& valueName);

// A value's data read from the raw file as Windows reads it, without hivex:
// from the root key down the subkey lists ("lf", "lh", "li", "ri") by name
// (UTF-8 here; stored names are 8-bit or UTF-16LE; ASCII letters match either
// case), then the value list, then the data: inline in the value cell, through
// a "db" record when the hive is of version 1.4 or later and the data is
// longer than 16,344 bytes, or else from one data cell. Nothing when anything
// on the way is missing, out of bounds or not what Windows expects there.
std::optional<std::string> ReadValueAsWindows(const std::string& path, const std::string& keyPath,
                                              const std::string& valueName);
