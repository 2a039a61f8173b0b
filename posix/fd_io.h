// Reading and writing whole buffers through a descriptor, whatever the
// system does in parts or interrupts.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads size bytes at offset, or fewer where the file ends; got says how
// many. False (errno set) on a read error.
bool ReadFullyAt(int fd, uint64_t offset, void* buffer, size_t size, size_t& got);

// Writes all size bytes; false (errno set) when they could not all be
// written.
bool WriteAll(int fd, const void* data, size_t size);

// Puts bytes in folder/name so that a reader sees the old content or the
// new, never a part: they are written to a new file fresh (created, never
// opened through a link or if something is there), flushed, and renamed
// over name. mode: the new file's permissions (less the umask). False
// (errno set, fresh removed) when any step fails.
bool ReplaceFileAt(int folder, const char* name, const char* fresh, const void* bytes, size_t size, unsigned mode);
