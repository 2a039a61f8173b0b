// Little-endian numbers in bytes read from a file, the registry or a hive:
// assembled byte by byte, never by casting the bytes to a wider type, so
// neither alignment nor the host's byte order matters. The caller has
// checked that the bytes are there.
#pragma once

#include <cstdint>

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
