// Registry hive files ("regf") made from nothing, for the native tests:
// libhivex can edit a hive but not create one, so this writes the smallest
// hive it (and Windows) will open, which hivex then fills in.
#pragma once

#include <string>

// Writes a minimal registry hive: a 4 KiB base block and one 4 KiB bin
// holding the root key (named rootName) and its security cell. Returns false
// when the file cannot be written.
bool WriteEmptyHive(const std::string& path, const std::string& rootName = "ROOT");

// Sets the base block's two sequence numbers apart (keeping the checksum
// right), as Windows leaves a hive whose latest changes are still in its log.
bool MarkHiveDirty(const std::string& path);
