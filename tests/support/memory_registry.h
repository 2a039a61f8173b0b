// An in-memory registry behind the six-operation access layer, for the
// native tests: keys and value names compare without regard to case and
// enumerate in sorted order, as on Windows.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cleaning/registry_access.h"

class MemoryRegistry final : public RegistryAccess {
 public:
  static constexpr uint32_t kString = 1;  // REG_SZ
  static constexpr uint32_t kDword = 4;   // REG_DWORD

  struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  struct Value {
    uint32_t type = kString;
    std::vector<uint8_t> data;
    bool operator==(const Value& o) const { return type == o.type && data == o.data; }
  };
  struct Key {
    std::map<std::string, Key, CaseLess> subKeys;
    std::map<std::string, Value, CaseLess> values;
    bool readOnly = false;  // opens for full access, and deletions, fail
    bool operator==(const Key& o) const {
      return subKeys == o.subKeys && values == o.values && readOnly == o.readOnly;
    }
  };

  // -- Setting up and reading back ---------------------------------------
  Key& Create(RegistryRoot root, const std::string& path);
  Key* Find(RegistryRoot root, const std::string& path);
  bool Exists(RegistryRoot root, const std::string& path) { return Find(root, path) != nullptr; }
  // A REG_SZ value stored with its terminating zero, as most programs write it.
  void SetString(RegistryRoot root, const std::string& path, const std::string& name, const std::string& text);
  void SetRaw(RegistryRoot root, const std::string& path, const std::string& name, uint32_t type,
              const std::vector<uint8_t>& data);
  // The value's data as text (up to a zero), or nothing when it is absent.
  std::optional<std::string> GetString(RegistryRoot root, const std::string& path, const std::string& name);
  std::optional<Value> GetValue(RegistryRoot root, const std::string& path, const std::string& name);
  const Key& Root(RegistryRoot root) const { return root == RegistryRoot::Users ? users_ : machine_; }

  // Every operation the repair asked for, as "Operation root\path[value]".
  std::vector<std::string> log;

  // -- RegistryAccess ------------------------------------------------------
  int QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) override;
  int EnumSubKeyName(RegistryRoot root, const char* path, uint32_t index, char* name, size_t capacity) override;
  int DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) override;
  int ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                   size_t capacity) override;
  int DeleteRegKey(RegistryRoot root, const char* path) override;
  int WriteRegString(RegistryRoot root, const char* path, const char* valueName, const char* text) override;

 private:
  Key* Open(RegistryRoot root, const char* path, bool fullAccess);
  void Log(const char* operation, RegistryRoot root, const char* path, const char* valueName);

  Key machine_;
  Key users_;
};
