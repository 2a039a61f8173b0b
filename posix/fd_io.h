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
