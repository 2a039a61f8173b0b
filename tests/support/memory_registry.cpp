#include "tests/support/memory_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

namespace {

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = path.find('\\', start);
    const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

bool MemoryRegistry::CaseLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

MemoryRegistry::Key& MemoryRegistry::Create(RegistryRoot root, const std::string& path) {
  Key* key = root == RegistryRoot::Users ? &users_ : &machine_;
  for (const std::string& part : Split(path)) key = &key->subKeys[part];
  return *key;
}

MemoryRegistry::Key* MemoryRegistry::Find(RegistryRoot root, const std::string& path) {
  Key* key = root == RegistryRoot::Users ? &users_ : &machine_;
  for (const std::string& part : Split(path)) {
    const auto it = key->subKeys.find(part);
    if (it == key->subKeys.end()) return nullptr;
    key = &it->second;
  }
  return key;
}

void MemoryRegistry::SetString(RegistryRoot root, const std::string& path, const std::string& name,
                               const std::string& text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  SetRaw(root, path, name, kString, data);
}

void MemoryRegistry::SetRaw(RegistryRoot root, const std::string& path, const std::string& name, uint32_t type,
                            const std::vector<uint8_t>& data) {
  Create(root, path).values[name] = Value{type, data};
}

std::optional<MemoryRegistry::Value> MemoryRegistry::GetValue(RegistryRoot root, const std::string& path,
                                                              const std::string& name) {
  Key* key = Find(root, path);
  if (key == nullptr) return std::nullopt;
  const auto it = key->values.find(name);
  if (it == key->values.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> MemoryRegistry::GetString(RegistryRoot root, const std::string& path,
                                                     const std::string& name) {
  const std::optional<Value> value = GetValue(root, path, name);
  if (!value) return std::nullopt;
  const auto end = std::find(value->data.begin(), value->data.end(), 0);
  return std::string(value->data.begin(), end);
}

void MemoryRegistry::Log(const char* operation, RegistryRoot root, const char* path, const char* valueName) {
  std::string line = std::string(operation) + (root == RegistryRoot::Users ? " HKU\\" : " HKLM\\") +
                     (path != nullptr ? path : "");
  if (valueName != nullptr) line += std::string("[") + valueName + "]";
  log.push_back(line);
}

MemoryRegistry::Key* MemoryRegistry::Open(RegistryRoot root, const char* path, bool fullAccess) {
  Key* key = Find(root, path != nullptr ? path : "");
  if (key == nullptr || (fullAccess && key->readOnly)) return nullptr;
  return key;
}

int MemoryRegistry::QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) {
  Log("QueryKeyCounts", root, path, nullptr);
  Key* key = Open(root, path, false);
  if (key == nullptr) return 0;
  *subKeys = static_cast<uint32_t>(key->subKeys.size());
  *values = static_cast<uint32_t>(key->values.size());
  return 1;
}

int MemoryRegistry::EnumSubKeyName(RegistryRoot root, const char* path, uint32_t index, char* name,
                                   size_t capacity) {
  Log("EnumSubKeyName", root, path, nullptr);
  Key* key = Open(root, path, true);
  if (key == nullptr || index >= key->subKeys.size()) return 0;
  const std::string& found = std::next(key->subKeys.begin(), index)->first;
  const size_t offered = std::min(capacity, kSubKeyNameCapacity);
  if (found.size() >= offered) return 0;  // ERROR_MORE_DATA
  std::memcpy(name, found.c_str(), found.size() + 1);
  return 1;
}

int MemoryRegistry::DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) {
  Log("DeleteRegValue", root, path, valueName != nullptr ? valueName : "");
  Key* key = Open(root, path, true);
  return key != nullptr && key->values.erase(valueName != nullptr ? valueName : "") == 1 ? 1 : 0;
}

int MemoryRegistry::ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                                 size_t capacity) {
  Log("ReadRegValue", root, path, valueName != nullptr ? valueName : "");
  Key* key = Open(root, path, false);
  if (key == nullptr) return 0;
  const auto it = key->values.find(valueName != nullptr ? valueName : "");
  if (it == key->values.end()) return 0;
  const std::vector<uint8_t>& data = it->second.data;
  if (data.size() > capacity) return 0;
  std::copy(data.begin(), data.end(), buffer);
  return TerminateValueText(buffer, capacity, data.size()) ? 1 : 0;
}

int MemoryRegistry::DeleteRegKey(RegistryRoot root, const char* path) {
  Log("DeleteRegKey", root, path, nullptr);
  const std::vector<std::string> parts = Split(path != nullptr ? path : "");
  if (parts.empty()) return 0;
  std::string parentPath;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parentPath += parts[i] + "\\";
  Key* parent = Find(root, parentPath);
  if (parent == nullptr) return 0;
  const auto it = parent->subKeys.find(parts.back());
  // As on the NT family: a key with subkeys, or one we may not change, stays.
  if (it == parent->subKeys.end() || !it->second.subKeys.empty() || it->second.readOnly) return 0;
  parent->subKeys.erase(it);
  return 1;
}

int MemoryRegistry::WriteRegString(RegistryRoot root, const char* path, const char* valueName, const char* text) {
  Log("WriteRegString", root, path, valueName != nullptr ? valueName : "");
  Key* key = Open(root, path, true);
  if (key == nullptr) return 0;
  key->values[valueName != nullptr ? valueName : ""] =
      Value{kString, std::vector<uint8_t>(text, text + std::strlen(text))};
  return 1;
}
