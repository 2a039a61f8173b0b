#include "rescue/hive_registry.h"

#include <fcntl.h>
#include <hivex.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "posix/posix_file_source.h"

namespace {

// hivex hands out malloc'd arrays and strings.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

constexpr size_t kHeaderSize = 4096;
constexpr size_t kSequence1 = 4, kSequence2 = 8;

uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// The base block, read before hivex is asked: a hive whose two sequence
// numbers differ was being written when Windows stopped, and its newest
// state is in the log files beside it, which only Windows replays.
bool CheckBaseBlock(const std::string& path, std::string& error) {
  PosixFileSource file(AT_FDCWD, path.c_str());  // not followed if a link, never waited on
  if (!file.Ok()) {
    error = ErrnoText("cannot be opened");
    return false;
  }
  unsigned char header[kHeaderSize];
  const size_t got = file.ReadAt(0, header, sizeof header);
  if (got < sizeof header || std::memcmp(header, "regf", 4) != 0) {
    error = "is not a registry hive, or is truncated";
    return false;
  }
  if (ReadLe32(header + kSequence1) != ReadLe32(header + kSequence2)) {
    error = "holds changes Windows had not finished writing (they are in its log files); start Windows, "
            "shut it down normally, and run again";
    return false;
  }
  return true;
}

// 8-bit Latin-1 text as UTF-16LE registry string data, with its terminator:
// the form in which Windows keeps every string value.
std::string ToRegistryString(const char* text) {
  std::string data;
  for (const char* p = text; *p != '\0'; ++p) {
    data.push_back(*p);
    data.push_back('\0');
  }
  data.append(2, '\0');
  return data;
}

bool IsStringType(hive_type type) {
  return type == hive_t_REG_SZ || type == hive_t_REG_EXPAND_SZ || type == hive_t_REG_MULTI_SZ;
}

bool Fsync(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) return false;
  // Some file systems cannot flush a folder; the rename is then as durable
  // as they make it.
  const bool synced = ::fsync(fd) == 0 || ((flags & O_DIRECTORY) != 0 && (errno == EINVAL || errno == ENOTSUP));
  return ::close(fd) == 0 && synced;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string Utf8ToLatin1(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = 1;
    unsigned code = c;
    if (c >= 0xC0 && c < 0xE0 && i + 1 < text.size()) {
      length = 2;
      code = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
    } else if (c >= 0x80) {
      length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 1;
      code = '?';
    }
    out.push_back(code < 0x100 ? static_cast<char>(code) : '?');
    i += length;
  }
  return out;
}

std::unique_ptr<Hive> Hive::Open(const std::string& path, std::string& error) {
  if (!CheckBaseBlock(path, error)) return nullptr;
  // Write mode reads the whole file into memory and closes it: edits stay
  // in memory until Commit.
  hive_h* handle = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  if (handle == nullptr) {
    error = ErrnoText("is damaged and cannot be read");
    return nullptr;
  }
  return std::unique_ptr<Hive>(new Hive(path, handle));
}

Hive::~Hive() { hivex_close(handle_); }

bool Hive::Commit(std::string& error) {
  if (!changed_) return true;
  const std::string fresh = path_ + ".scourix-new";
  const bool written = hivex_commit(handle_, fresh.c_str(), 0) == 0 && Fsync(fresh, 0);
  if (!written || ::rename(fresh.c_str(), path_.c_str()) != 0) {
    error = ErrnoText(written ? "could not replace the hive" : "could not write the new hive");
    ::unlink(fresh.c_str());  // best effort: the old hive is intact either way
    return false;
  }
  if (!Fsync(FolderOf(path_), O_DIRECTORY)) {
    error = ErrnoText("could not flush the hive's folder");
    return false;
  }
  changed_ = false;
  return true;
}

void HiveRegistry::Mount(RegistryRoot root, const std::string& name, Hive* hive) {
  mounted_.push_back({root, name, hive});
}

bool HiveRegistry::AnyChanged() const {
  return std::any_of(mounted_.begin(), mounted_.end(), [](const Mounted& m) { return m.hive->Changed(); });
}

bool HiveRegistry::CommitChanged(std::string& error) {
  bool all = true;
  for (const Mounted& m : mounted_) {
    std::string reason;
    if (!m.hive->Commit(reason)) {
      if (all) error = m.hive->Path() + " " + reason;
      all = false;
    }
  }
  return all;
}

std::vector<const HiveRegistry::Mounted*> HiveRegistry::MountedAt(RegistryRoot root) const {
  std::vector<const Mounted*> found;
  for (const Mounted& m : mounted_) {
    if (m.root == root) found.push_back(&m);
  }
  return found;
}

HiveRegistry::Location HiveRegistry::Find(RegistryRoot root, const char* path) const {
  if (path == nullptr || *path == '\0') return {};
  const std::string text(path);
  size_t start = 0;
  size_t end = text.find('\\');
  const std::string first = text.substr(0, end);
  Location at;
  for (const Mounted* m : MountedAt(root)) {
    if (strcasecmp(m->name.c_str(), first.c_str()) == 0) at = {m->hive, hivex_root(m->hive->Handle())};
  }
  while (at.hive != nullptr && end != std::string::npos) {
    start = end + 1;
    end = text.find('\\', start);
    const std::string name = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (name.empty()) return {};
    at.node = hivex_node_get_child(at.hive->Handle(), at.node, Latin1ToUtf8(name).c_str());
    if (at.node == 0) return {};
  }
  return at;
}

int HiveRegistry::QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) {
  if (path == nullptr || *path == '\0') {
    *subKeys = static_cast<uint32_t>(MountedAt(root).size());
    *values = 0;
    return 1;
  }
  const Location at = Find(root, path);
  if (at.hive == nullptr) return 0;
  *subKeys = static_cast<uint32_t>(hivex_node_nr_children(at.hive->Handle(), at.node));
  *values = static_cast<uint32_t>(hivex_node_nr_values(at.hive->Handle(), at.node));
  return 1;
}

int HiveRegistry::EnumSubKeyName(RegistryRoot root, const char* path, uint32_t index, char* name,
                                 size_t capacity) {
  std::string found;
  if (path == nullptr || *path == '\0') {
    const auto hives = MountedAt(root);
    if (index >= hives.size()) return 0;
    found = hives[index]->name;
  } else {
    const Location at = Find(root, path);
    if (at.hive == nullptr) return 0;
    const Owned<hive_node_h> children(hivex_node_children(at.hive->Handle(), at.node));
    if (!children) return 0;
    size_t count = 0;
    while (children.get()[count] != 0) ++count;
    if (index >= count) return 0;
    const Owned<char> utf8(hivex_node_name(at.hive->Handle(), children.get()[index]));
    if (!utf8) return 0;
    found = Utf8ToLatin1(utf8.get());
  }
  const size_t limit = std::min(capacity, kSubKeyNameCapacity);
  if (found.size() + 1 > limit) return 0;
  std::memcpy(name, found.c_str(), found.size() + 1);
  return 1;
}

int HiveRegistry::DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) {
  const Location at = Find(root, path);
  if (at.hive == nullptr) return 0;
  hive_h* h = at.hive->Handle();
  const Owned<hive_value_h> values(hivex_node_values(h, at.node));
  if (!values) return 0;
  const std::string target = Latin1ToUtf8(valueName != nullptr ? valueName : "");
  // hivex rewrites a key's values as a whole: keep every other one.
  std::vector<Owned<char>> keys, data;
  std::vector<hive_set_value> kept;
  bool found = false;
  for (const hive_value_h* v = values.get(); *v != 0; ++v) {
    Owned<char> key(hivex_value_key(h, *v));
    if (!key) return 0;
    if (!found && strcasecmp(key.get(), target.c_str()) == 0) {
      found = true;
      continue;
    }
    hive_type type;
    size_t length = 0;
    Owned<char> bytes(hivex_value_value(h, *v, &type, &length));
    if (!bytes) return 0;
    kept.push_back({key.get(), type, length, bytes.get()});
    keys.push_back(std::move(key));
    data.push_back(std::move(bytes));
  }
  if (!found || hivex_node_set_values(h, at.node, kept.size(), kept.data(), 0) != 0) return 0;
  at.hive->MarkChanged();
  return 1;
}

int HiveRegistry::ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                               size_t capacity) {
  const Location at = Find(root, path);
  if (at.hive == nullptr) return 0;
  hive_h* h = at.hive->Handle();
  const hive_value_h value = hivex_node_get_value(h, at.node, Latin1ToUtf8(valueName != nullptr ? valueName : "").c_str());
  if (value == 0) return 0;
  hive_type type;
  size_t length = 0;
  const Owned<char> bytes(hivex_value_value(h, value, &type, &length));
  if (!bytes) return 0;
  // Strings are kept in UTF-16: the ANSI view has one byte per character.
  const bool text = IsStringType(type);
  const size_t size = text ? length / 2 : length;
  if (size > capacity) return 0;
  for (size_t i = 0; i < size; ++i) {
    if (!text) {
      buffer[i] = bytes.get()[i];
    } else {
      const unsigned code = static_cast<unsigned char>(bytes.get()[2 * i]) |
                            static_cast<unsigned>(static_cast<unsigned char>(bytes.get()[2 * i + 1])) << 8;
      buffer[i] = code < 0x100 ? static_cast<char>(code) : '?';
    }
  }
  return TerminateValueText(buffer, capacity, size) ? 1 : 0;
}

int HiveRegistry::DeleteRegKey(RegistryRoot root, const char* path) {
  const Location at = Find(root, path);
  // Like the live registry: a key with subkeys stays.
  if (at.hive == nullptr || hivex_node_nr_children(at.hive->Handle(), at.node) != 0) return 0;
  return DeleteKeyTree(root, path);
}

int HiveRegistry::DeleteKeyTree(RegistryRoot root, const char* path) {
  const Location at = Find(root, path);
  // A hive's root is the mount point itself and is never deleted.
  if (at.hive == nullptr || at.node == hivex_root(at.hive->Handle())) return 0;
  if (hivex_node_delete_child(at.hive->Handle(), at.node) != 0) return 0;
  at.hive->MarkChanged();
  return 1;
}

int HiveRegistry::WriteRegString(RegistryRoot root, const char* path, const char* valueName, const char* text) {
  const Location at = Find(root, path);
  if (at.hive == nullptr) return 0;
  std::string key = Latin1ToUtf8(valueName != nullptr ? valueName : "");
  std::string data = ToRegistryString(text);
  const hive_set_value value{key.data(), hive_t_REG_SZ, data.size(), data.data()};
  if (hivex_node_set_value(at.hive->Handle(), at.node, &value, 0) != 0) return 0;
  at.hive->MarkChanged();
  return 1;
}
