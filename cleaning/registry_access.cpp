#include "cleaning/registry_access.h"

#include <cstring>

bool TerminateValueText(char* buffer, size_t capacity, size_t size) {
  if (capacity == 0 || size > capacity) return false;
  if (size > 0 && std::memchr(buffer, '\0', size) != nullptr) return true;
  if (size == capacity) return false;
  buffer[size] = '\0';
  return true;
}
