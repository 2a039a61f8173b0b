#include "rescue/volume/hive_registry.h"

#include <fcntl.h>
#include <hivex.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/little_endian.h"
#include "posix/fd_io.h"

namespace {

// hivex hands out malloc'd arrays and strings.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

constexpr size_t kHeaderSize = 4096;
constexpr size_t kSequence1 = 4, kSequence2 = 8;

// Base block fields.
constexpr size_t kMinorVersion = 0x18;

// Windows keeps a value over this many bytes in a hive of format 1.4 or
// later as a big-data record: a list of segments of at most this size.
constexpr size_t kLargestPlainValue = 16344;

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// The base block, read before hivex is asked: a hive whose two sequence
// numbers differ was being written when Windows stopped, and its newest
// state is in the log files beside it, which only Windows replays.
bool CheckBaseBlock(int fd, uint32_t& minorVersion, std::string& error) {
  unsigned char header[kHeaderSize];
  size_t got = 0;
  if (!ReadFullyAt(fd, 0, header, sizeof header, got) || got < sizeof header || std::memcmp(header, "regf", 4) != 0) {
    error = "is not a registry hive, or is truncated";
    return false;
  }
  if (ReadLe32(header + kSequence1) != ReadLe32(header + kSequence2)) {
    error = "holds changes Windows had not finished writing (they are in its log files); start Windows, "
            "shut it down normally, and run again";
    return false;
  }
  minorVersion = ReadLe32(header + kMinorVersion);
  return true;
}

// A name hivex can open or write the file behind an open descriptor by: the
// descriptor's own entry, so that no path on the volume is looked up again.
std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

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

// A value's type is a 32-bit number; hivex's enum names only some of them
// (Windows uses others, such as 0xFFFF0011 for device properties), so it is
// never loaded as the enum.
uint32_t RawType(const hive_type& type) {
  static_assert(sizeof(hive_type) == sizeof(uint32_t), "hivex keeps types in 32 bits");
  uint32_t raw = 0;
  std::memcpy(&raw, &type, sizeof raw);
  return raw;
}
void SetRawType(hive_set_value& value, uint32_t raw) { std::memcpy(&value.t, &raw, sizeof raw); }

constexpr uint32_t kRegSz = 1, kRegExpandSz = 2, kRegMultiSz = 7;
bool IsStringType(uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

// A folder's fsync; some file systems cannot flush a folder, and the rename
// is then as durable as they make it.
bool SyncFolder(int folder) { return ::fsync(folder) == 0 || errno == EINVAL || errno == ENOTSUP; }

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

std::unique_ptr<Hive> Hive::Open(UniqueFd folder, const std::string& name, const std::string& path,
                                 std::string& error) {
  if (!folder) {
    error = ErrnoText("cannot be reached (its folder cannot be opened without following a link)");
    return nullptr;
  }
  // Only the regular file at that name: a link is not followed, and a FIFO
  // or device is never waited on.
  const UniqueFd file(::openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!file || ::fstat(file.Get(), &st) != 0) {
    error = ErrnoText(errno == ELOOP ? "is a symbolic link; it is never written" : "cannot be opened");
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "is not a regular file";
    return nullptr;
  }
  uint32_t minorVersion = 0;
  if (!CheckBaseBlock(file.Get(), minorVersion, error)) return nullptr;
  // Write mode reads the whole file into memory and closes it: edits stay
  // in memory until Commit.
  hive_h* handle = hivex_open(DescriptorPath(file.Get()).c_str(), HIVEX_OPEN_WRITE);
  if (handle == nullptr) {
    error = ErrnoText("is damaged and cannot be read");
    return nullptr;
  }
  std::unique_ptr<Hive> hive(new Hive(std::move(folder), name, path, handle));
  hive->minorVersion_ = minorVersion;
  hive->mode_ = st.st_mode & 07777;
  hive->device_ = st.st_dev;
  hive->inode_ = st.st_ino;
  return hive;
}

std::unique_ptr<Hive> Hive::Open(const std::string& path, std::string& error) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return Open(UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), name, path, error);
}

Hive::~Hive() {
  Unstage();
  hivex_close(handle_);
}

UniqueFd Hive::OpenFile() const {
  UniqueFd file(::openat(folder_.Get(), name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!file || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != device_ ||
      st.st_ino != inode_) {
    return UniqueFd();
  }
  return file;
}

bool Hive::Stage(std::string& error) {
  if (!changed_) return true;
  Unstage();
  // A new file, never one that is already there: whatever was planted at a
  // name (a link, a FIFO, a folder) is left alone and the next name tried.
  UniqueFd fresh;
  std::string freshName;
  for (int n = 1; n <= kNewHiveNames && !fresh; ++n) {
    freshName = name_ + ".scourix-new" + (n == 1 ? std::string() : std::to_string(n));
    fresh.Reset(::openat(folder_.Get(), freshName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         0600));
    if (!fresh && errno != EEXIST) break;
  }
  if (!fresh) {
    error = ErrnoText("could not write the new hive");
    return false;
  }
  staged_ = freshName;
  stagedFile_ = std::move(fresh);
  struct stat written {};
  const bool ok = hivex_commit(handle_, DescriptorPath(stagedFile_.Get()).c_str(), 0) == 0 &&
                  ::fstat(stagedFile_.Get(), &written) == 0 && written.st_size >= static_cast<off_t>(kHeaderSize) &&
                  // The hive's own permissions; a file system without them
                  // (FAT, ntfs-3g without a user mapping) keeps its own.
                  (::fchmod(stagedFile_.Get(), mode_) == 0 || errno == EPERM || errno == ENOTSUP) &&
                  ::fsync(stagedFile_.Get()) == 0;
  if (!ok) {
    error = ErrnoText("could not write the new hive");
    Unstage();
    return false;
  }
  return true;
}

void Hive::Unstage() {
  if (staged_.empty()) return;
  ::unlinkat(folder_.Get(), staged_.c_str(), 0);  // best effort: the hive itself is intact either way
  staged_.clear();
  stagedFile_.Reset();
}

bool Hive::Install(std::string& error) {
  if (!changed_) return true;
  if (staged_.empty()) {
    errno = EINVAL;
    error = "was not written";
    return false;
  }
  // Replaced only while the name still holds the hive that was read.
  struct stat written {};
  if (!OpenFile() || ::fstat(stagedFile_.Get(), &written) != 0) {
    errno = ESTALE;
    error = ErrnoText("was replaced while Scourix ran");
    Unstage();
    return false;
  }
  if (::renameat(folder_.Get(), staged_.c_str(), folder_.Get(), name_.c_str()) != 0) {
    error = ErrnoText("could not replace the hive");
    Unstage();
    return false;
  }
  staged_.clear();
  stagedFile_.Reset();
  device_ = written.st_dev;
  inode_ = written.st_ino;
  changed_ = false;
  if (!SyncFolder(folder_.Get())) {
    error = ErrnoText("could not flush the hive's folder");
    return false;
  }
  return true;
}

void HiveRegistry::Mount(RegistryRoot root, const std::string& name, Hive* hive) {
  mounted_.push_back({root, name, hive});
}

bool HiveRegistry::AnyChanged() const {
  return std::any_of(mounted_.begin(), mounted_.end(), [](const Mounted& m) { return m.hive->Changed(); });
}

std::vector<Hive*> HiveRegistry::ChangedHives() const {
  std::vector<Hive*> changed;
  for (const Mounted& m : mounted_) {
    if (m.hive->Changed()) changed.push_back(m.hive);
  }
  return changed;
}

bool HiveRegistry::CommitChanged(std::string& error) { return StageChanged(error) && InstallStaged(error); }

bool HiveRegistry::StageChanged(std::string& error) {
  for (const Mounted& m : mounted_) {
    std::string reason;
    if (!m.hive->Stage(reason)) {
      error = m.hive->Path() + " " + reason;
      UnstageAll();
      return false;
    }
  }
  return true;
}

bool HiveRegistry::InstallStaged(std::string& error) {
  for (auto m = mounted_.rbegin(); m != mounted_.rend(); ++m) {
    std::string reason;
    if (!m->hive->Install(reason)) {
      error = m->hive->Path() + " " + reason;
      UnstageAll();
      return false;
    }
  }
  return true;
}

void HiveRegistry::UnstageAll() {
  for (const Mounted& m : mounted_) m.hive->Unstage();
}

bool HiveRegistry::IsHiveFile(dev_t device, ino_t inode) const {
  return std::any_of(mounted_.begin(), mounted_.end(),
                     [&](const Mounted& m) { return m.hive->IsFile(device, inode); });
}

std::vector<const HiveRegistry::Mounted*> HiveRegistry::MountedAt(RegistryRoot root) const {
  std::vector<const Mounted*> found;
  for (const Mounted& m : mounted_) {
    if (m.root == root) found.push_back(&m);
  }
  return found;
}

HiveRegistry::Location HiveRegistry::Find(RegistryRoot root, const std::string& path) const {
  if (path.empty()) return {};
  size_t end = path.find('\\');
  const std::string first = path.substr(0, end);
  Location at;
  for (const Mounted* m : MountedAt(root)) {
    if (strcasecmp(m->name.c_str(), first.c_str()) == 0) {
      at = {m->hive, hivex_root(m->hive->Handle())};
      break;  // mount names are unique; the first is the one meant
    }
  }
  while (at.hive != nullptr && end != std::string::npos) {
    const size_t start = end + 1;
    end = path.find('\\', start);
    const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (name.empty()) return {};
    at.node = hivex_node_get_child(at.hive->Handle(), at.node, name.c_str());
    if (at.node == 0) return {};
  }
  return at;
}

HiveRegistry::Location HiveRegistry::FindAnsi(RegistryRoot root, const char* path) const {
  return path == nullptr ? Location{} : Find(root, Latin1ToUtf8(path));
}

int HiveRegistry::QueryKeyCounts(RegistryRoot root, const char* path, uint32_t* subKeys, uint32_t* values) {
  if (path == nullptr || *path == '\0') {
    *subKeys = static_cast<uint32_t>(MountedAt(root).size());
    *values = 0;
    return 1;
  }
  const Location at = FindAnsi(root, path);
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
    found = Utf8ToLatin1(hives[index]->name);
  } else {
    const Location at = FindAnsi(root, path);
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

void HiveRegistry::NoteFailure(const Location& at, const char* path, const char* why) {
  failures_.push_back(at.hive->Path() + " key " + (path != nullptr ? path : "") + ": " + why);
}

bool HiveRegistry::MayRewriteValues(const Location& at, const char* path) {
  if (!at.hive->KeepsBigData()) return true;
  hive_h* h = at.hive->Handle();
  const Owned<hive_value_h> values(hivex_node_values(h, at.node));
  if (!values) {
    NoteFailure(at, path, "its values cannot be read");
    return false;
  }
  for (const hive_value_h* v = values.get(); *v != 0; ++v) {
    hive_type type;
    size_t length = 0;
    if (hivex_value_type(h, *v, &type, &length) != 0 || length > kLargestPlainValue) {
      NoteFailure(at, path,
                  "it holds a value over 16,344 bytes, which Windows keeps as big data and this program cannot "
                  "write");
      return false;
    }
  }
  return true;
}

// hivex rewrites a key's values as a whole: every value is kept as it is
// (its raw type included) except the one named skipName, which is left out,
// or replaced by added when that is given (added at the end when missing).
bool HiveRegistry::SetValues(const Location& at, const char* path, const char* skipName,
                             const hive_set_value* added) {
  if (!MayRewriteValues(at, path)) return false;
  hive_h* h = at.hive->Handle();
  const auto fail = [&](const char* why) {
    NoteFailure(at, path, why);
    return false;
  };
  const Owned<hive_value_h> values(hivex_node_values(h, at.node));
  if (!values) return fail("its values cannot be read");
  const std::string target = Latin1ToUtf8(skipName != nullptr ? skipName : "");
  std::vector<Owned<char>> keys, data;
  std::vector<hive_set_value> kept;
  bool found = false;
  for (const hive_value_h* v = values.get(); *v != 0; ++v) {
    Owned<char> key(hivex_value_key(h, *v));
    if (!key) return fail("a value's name cannot be read");
    if (!found && strcasecmp(key.get(), target.c_str()) == 0) {
      found = true;
      if (added != nullptr) kept.push_back(*added);
      continue;
    }
    hive_type type;
    size_t length = 0;
    Owned<char> bytes(hivex_value_value(h, *v, &type, &length));
    if (!bytes) return fail("a value's data cannot be read");
    hive_set_value value{key.get(), {}, length, bytes.get()};
    SetRawType(value, RawType(type));
    kept.push_back(value);
    keys.push_back(std::move(key));
    data.push_back(std::move(bytes));
  }
  if (!found && added == nullptr) return false;  // nothing to delete: not a failure
  if (!found) kept.push_back(*added);
  if (hivex_node_set_values(h, at.node, kept.size(), kept.data(), 0) != 0) return fail("its values cannot be written");
  at.hive->MarkChanged();
  return true;
}

int HiveRegistry::DeleteRegValue(RegistryRoot root, const char* path, const char* valueName) {
  const Location at = FindAnsi(root, path);
  return at.hive != nullptr && SetValues(at, path, valueName, nullptr) ? 1 : 0;
}

int HiveRegistry::ReadRegValue(RegistryRoot root, const char* path, const char* valueName, char* buffer,
                               size_t capacity) {
  const Location at = FindAnsi(root, path);
  if (at.hive == nullptr) return 0;
  hive_h* h = at.hive->Handle();
  const hive_value_h value = hivex_node_get_value(h, at.node, Latin1ToUtf8(valueName != nullptr ? valueName : "").c_str());
  if (value == 0) return 0;
  hive_type type;
  size_t length = 0;
  const Owned<char> bytes(hivex_value_value(h, value, &type, &length));
  if (!bytes) return 0;
  // Strings are kept in UTF-16: the ANSI view has one byte per character.
  const bool text = IsStringType(RawType(type));
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
  if (path == nullptr) return 0;
  const std::string utf8 = Latin1ToUtf8(path);
  const Location at = Find(root, utf8);
  // Like the live registry: a key with subkeys stays.
  if (at.hive == nullptr || hivex_node_nr_children(at.hive->Handle(), at.node) != 0) return 0;
  return DeleteKeyTree(root, utf8);
}

int HiveRegistry::DeleteKeyTree(RegistryRoot root, const std::string& path) {
  const Location at = Find(root, path);
  // A hive's root is the mount point itself and is never deleted.
  if (at.hive == nullptr || at.node == hivex_root(at.hive->Handle())) return 0;
  if (hivex_node_delete_child(at.hive->Handle(), at.node) != 0) {
    NoteFailure(at, path.c_str(), "it cannot be deleted");
    return 0;
  }
  at.hive->MarkChanged();
  return 1;
}

int HiveRegistry::WriteRegString(RegistryRoot root, const char* path, const char* valueName, const char* text) {
  const Location at = FindAnsi(root, path);
  if (at.hive == nullptr) return 0;
  std::string key = Latin1ToUtf8(valueName != nullptr ? valueName : "");
  std::string data = ToRegistryString(text);
  hive_set_value value{key.data(), {}, data.size(), data.data()};
  SetRawType(value, kRegSz);
  return SetValues(at, path, valueName, &value) ? 1 : 0;
}

std::vector<std::string> HiveRegistry::SubKeyNames(RegistryRoot root, const std::string& path) const {
  std::vector<std::string> names;
  const Location at = Find(root, path);
  if (at.hive == nullptr) return names;
  const Owned<hive_node_h> children(hivex_node_children(at.hive->Handle(), at.node));
  for (const hive_node_h* child = children.get(); child != nullptr && *child != 0; ++child) {
    const Owned<char> name(hivex_node_name(at.hive->Handle(), *child));
    if (name) names.push_back(name.get());
  }
  return names;
}

bool HiveRegistry::ReadString(RegistryRoot root, const std::string& path, const char* valueName,
                              std::string& text) const {
  const Location at = Find(root, path);
  if (at.hive == nullptr) return false;
  hive_h* h = at.hive->Handle();
  const hive_value_h value = hivex_node_get_value(h, at.node, valueName);
  if (value == 0) return false;
  hive_type type;
  size_t length = 0;
  if (hivex_value_type(h, value, &type, &length) != 0) return false;
  const uint32_t raw = RawType(type);
  if (raw != kRegSz && raw != kRegExpandSz) return false;
  const Owned<char> utf8(hivex_value_string(h, value));
  if (!utf8) return false;
  text = utf8.get();
  return true;
}
