#include "tests/support/test_hive.h"

#include <hivex.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <utility>

#include "tests/support/hive_file.h"

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The key path's names, in order.
template <class Visit>
bool ForEachName(const std::string& path, Visit visit) {
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (!visit(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

void Require(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("test hive: " + what);
}

}  // namespace

TestHive TestHive::Create(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  Require(WriteEmptyHive(path), "cannot write " + path);
  return TestHive(path);
}

TestHive::TestHive(const std::string& path) : path_(path), handle_(hivex_open(path.c_str(), HIVEX_OPEN_WRITE)) {}

TestHive::~TestHive() {
  if (handle_ != nullptr) hivex_close(handle_);
}

TestHive::TestHive(TestHive&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, nullptr)) {}

size_t TestHive::Find(const std::string& path) const {
  if (handle_ == nullptr) return 0;
  size_t node = hivex_root(handle_);
  ForEachName(path, [&](const std::string& name) {
    node = hivex_node_get_child(handle_, node, name.c_str());
    return node != 0;
  });
  return node;
}

size_t TestHive::FindValue(const std::string& path, const std::string& name) const {
  const size_t node = Find(path);
  return node == 0 ? 0 : hivex_node_get_value(handle_, node, name.c_str());
}

void TestHive::CreateKey(const std::string& path) {
  Require(handle_ != nullptr, "not open");
  size_t node = hivex_root(handle_);
  ForEachName(path, [&](const std::string& name) {
    size_t child = hivex_node_get_child(handle_, node, name.c_str());
    if (child == 0) child = hivex_node_add_child(handle_, node, name.c_str());
    Require(child != 0, "cannot add " + name);
    node = child;
    return true;
  });
}

void TestHive::SetString(const std::string& path, const std::string& name, const std::string& text) {
  CreateKey(path);
  std::string data;
  for (const char c : text) data += {c, '\0'};
  data.append(2, '\0');
  std::string key = name;
  const hive_set_value value{&key[0], hive_t_REG_SZ, data.size(), &data[0]};
  Require(hivex_node_set_value(handle_, Find(path), &value, 0) == 0, "cannot set " + name);
}

void TestHive::SetDword(const std::string& path, const std::string& name, uint32_t number) {
  CreateKey(path);
  char data[4] = {static_cast<char>(number), static_cast<char>(number >> 8), static_cast<char>(number >> 16),
                  static_cast<char>(number >> 24)};
  std::string key = name;
  const hive_set_value value{&key[0], hive_t_REG_DWORD, sizeof data, data};
  Require(hivex_node_set_value(handle_, Find(path), &value, 0) == 0, "cannot set " + name);
}

// hive_type names only the types hivex knows, so a number outside them is
// never held in that enum in C++ (converting to it is undefined); its bytes
// are copied into the field, which hivex stores as it is.
static_assert(sizeof(hive_type) == sizeof(uint32_t), "hive_type is a 32-bit field");

void TestHive::SetRaw(const std::string& path, const std::string& name, uint32_t type, const std::string& data) {
  CreateKey(path);
  std::string key = name;
  std::string bytes = data;
  hive_set_value value{};
  value.key = &key[0];
  std::memcpy(&value.t, &type, sizeof type);
  value.len = bytes.size();
  value.value = &bytes[0];
  Require(hivex_node_set_value(handle_, Find(path), &value, 0) == 0, "cannot set " + name);
}

void TestHive::Save() { Require(handle_ != nullptr && hivex_commit(handle_, path_.c_str(), 0) == 0, "cannot save"); }

bool TestHive::KeyExists(const std::string& path) const { return Find(path) != 0; }

std::optional<std::string> TestHive::GetRaw(const std::string& path, const std::string& name) const {
  const size_t value = FindValue(path, name);
  if (value == 0) return std::nullopt;
  hive_type type;
  size_t length = 0;
  const std::unique_ptr<char, FreeDeleter> data(hivex_value_value(handle_, value, &type, &length));
  if (!data) return std::nullopt;
  return std::string(data.get(), length);
}

std::optional<std::string> TestHive::GetString(const std::string& path, const std::string& name) const {
  const std::optional<std::string> raw = GetRaw(path, name);
  if (!raw) return std::nullopt;
  std::string text;
  for (size_t i = 0; i + 1 < raw->size(); i += 2) {
    if ((*raw)[i] == '\0' && (*raw)[i + 1] == '\0') break;
    text.push_back((*raw)[i]);
  }
  return text;
}

std::optional<int> TestHive::GetType(const std::string& path, const std::string& name) const {
  const size_t value = FindValue(path, name);
  hive_type type;
  size_t length = 0;
  if (value == 0 || hivex_value_type(handle_, value, &type, &length) != 0) return std::nullopt;
  return static_cast<int>(type);
}

std::optional<uint32_t> TestHive::GetRawType(const std::string& path, const std::string& name) const {
  const size_t value = FindValue(path, name);
  hive_type type;
  size_t length = 0;
  if (value == 0 || hivex_value_type(handle_, value, &type, &length) != 0) return std::nullopt;
  uint32_t number = 0;
  std::memcpy(&number, &type, sizeof number);
  return number;
}
