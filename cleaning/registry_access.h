// The registry access layer under the repair: six operations, each of which
// opens its key (never creating one), does one thing and closes the key.
// Each returns 1 only when the open, the operation and the close all
// succeeded, else 0. Portable: the Windows implementation lives in win32/,
// the tests use an in-memory key tree.
#pragma once

#include <cstddef>
#include <cstdint>

enum class RegistryRoot {
  LocalMachine,  // HKEY_LOCAL_MACHINE
  Users,         // HKEY_USERS
};

// Capacity offered to the registry for a subkey name, in characters.
constexpr size_t kSubKeyNameCapacity = 300;

class RegistryAccess {
 public:
  virtual ~RegistryAccess() = default;

  // path: relative to root; null means the root itself. valueName: null
  // means the key's default value.
  virtual int QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) = 0;
  // name must hold at least capacity bytes; at most min(capacity, 300)
  // characters are asked for, terminator included.
  virtual int EnumSubKeyName(RegistryRoot root, const char* path, uint32_t index, char* name,
                             size_t capacity) = 0;
  virtual int DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) = 0;
  // The raw data of the value, whatever its type, as zero-terminated text: a
  // value that does not fit buffer with its terminator is a failed read.
  virtual int ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                           size_t capacity) = 0;
  virtual int DeleteRegKey(RegistryRoot root, const char* path) = 0;
  // A REG_SZ whose byte count is the length of text without its terminator.
  virtual int WriteRegString(RegistryRoot root, const char* path, const char* valueName, const char* text) = 0;
};

// Ends raw value data read into buffer (size bytes of capacity) as text.
// Returns false when the data did not fit with a terminator: data that
// carries its own zero may fill the buffer; data without one needs a byte
// more.
bool TerminateValueText(char* buffer, size_t capacity, size_t size);

// Another access layer seen without its writes: reads pass through, and
// deletions and writes change nothing and report success, so that a repair
// run over it goes its whole way and says what it would have done.
class ReadOnlyRegistry final : public RegistryAccess {
 public:
  explicit ReadOnlyRegistry(RegistryAccess& registry) : registry_(registry) {}
  int QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) override {
    return registry_.QueryKeyCounts(root, path, subKeys, values);
  }
  int EnumSubKeyName(RegistryRoot root, const char* path, uint32_t index, char* name, size_t capacity) override {
    return registry_.EnumSubKeyName(root, path, index, name, capacity);
  }
  int ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                   size_t capacity) override {
    return registry_.ReadRegValue(root, path, valueName, buffer, capacity);
  }
  int DeleteRegValue(RegistryRoot, const char*, const char*) override { return 1; }
  int DeleteRegKey(RegistryRoot, const char*) override { return 1; }
  int WriteRegString(RegistryRoot, const char*, const char*, const char*) override { return 1; }

 private:
  RegistryAccess& registry_;
};
