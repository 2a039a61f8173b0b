#include "rescue/volume/backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "posix/fd_io.h"
#include "record/sha256.h"
#include "rescue/volume/folder_listing.h"

namespace {

constexpr char kManifestHeader[] = "Scourix backup 1";
constexpr size_t kCopyChunk = 64 * 1024;
constexpr size_t kLargestManifest = 16 * 1024 * 1024;
constexpr int kStampTries = 10;

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Bytes that would break the manifest's lines or fields, and '%' itself,
// as %HH: names on the volume may hold anything but '/' and NUL.
std::string EncodePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : path) {
    if (c < 0x20 || c == 0x7F || c == '%') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool DecodePath(const std::string& text, std::string& path) {
  path.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      path += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    path += static_cast<char>(high << 4 | low);
    i += 2;
  }
  return true;
}

// A path below the volume's root: names without '.', '..', empty ones or NUL.
bool IsRelativePath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::istringstream names(path);
  for (std::string name; std::getline(names, name, '/');) {
    if (name.empty() || name == "." || name == "..") return false;
  }
  return path.back() != '/';
}

bool IsSha256(const std::string& text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsStoredName(const std::string& name) {
  const size_t dash = name.find('-');
  if (dash == std::string::npos || (name.compare(0, dash, "hive") != 0 && name.compare(0, dash, "file") != 0)) {
    return false;
  }
  const std::string number = name.substr(dash + 1);
  return !number.empty() && number.size() <= 6 && number.find_first_not_of("0123456789") == std::string::npos;
}

bool ParseUnsigned(const std::string& text, int base, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (const char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0 || digit >= base || (c >= 'a' && c <= 'f') || value > (limit - static_cast<uint64_t>(digit)) / base) {
      return false;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  return true;
}

bool ParseItem(const std::string& line, BackupItem& item) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
    fields.push_back(line.substr(start, tab - start));
  }
  fields.push_back(line.substr(start));
  if (fields.size() != 8) return false;
  uint64_t mode = 0;
  if (fields[0] == "hive") {
    item.kind = BackupItem::Kind::Hive;
  } else if (fields[0] == "file") {
    item.kind = BackupItem::Kind::File;
  } else {
    return false;
  }
  item.stored = fields[1];
  item.sha256 = fields[3];
  item.outcome = fields[5];
  item.sha256After = fields[6] == "-" ? std::string() : fields[6];
  return IsStoredName(item.stored) && ParseUnsigned(fields[2], 10, INT64_MAX, item.size) && IsSha256(item.sha256) &&
         ParseUnsigned(fields[4], 8, 0777, mode) && (item.mode = static_cast<unsigned>(mode), true) &&
         (item.outcome == "replaced" || item.outcome == "deleted" || item.outcome == "kept") &&
         (item.sha256After.empty() || (item.kind == BackupItem::Kind::Hive && IsSha256(item.sha256After))) &&
         DecodePath(fields[7], item.relative) &&
         IsRelativePath(item.relative);
}

// A new folder name in parent (never an existing one), opened.
UniqueFd MakeFolder(int parent, const std::string& name) {
  if (::mkdirat(parent, name.c_str(), 0700) != 0) return UniqueFd();
  return UniqueFd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

}  // namespace

bool CopyToNewFile(int source, int folder, const std::string& name, unsigned mode, unsigned char key, uint64_t& size,
                   std::string& sha256) {
  const UniqueFd copy(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!copy) return false;
  Sha256 hash;
  size = 0;
  unsigned char buffer[kCopyChunk];
  bool ok = true;
  for (size_t got = sizeof buffer; ok && got == sizeof buffer;) {
    ok = ReadFullyAt(source, size, buffer, sizeof buffer, got);
    if (!ok) break;
    hash.Update(buffer, got);
    size += got;
    for (size_t i = 0; i < got; ++i) buffer[i] ^= key;
    ok = WriteAll(copy.Get(), buffer, got);
  }
  ok = ok && (::fchmod(copy.Get(), mode) == 0 || errno == EPERM || errno == ENOTSUP) && ::fsync(copy.Get()) == 0;
  if (!ok) {
    const int failure = errno;
    ::unlinkat(folder, name.c_str(), 0);
    errno = failure;
    return false;
  }
  sha256 = hash.HexDigest();
  return true;
}

bool HashFile(int fd, std::string& sha256, unsigned char key, uint64_t* size) {
  Sha256 hash;
  unsigned char buffer[kCopyChunk];
  uint64_t at = 0;
  for (size_t got = sizeof buffer; got == sizeof buffer;) {
    if (!ReadFullyAt(fd, at, buffer, sizeof buffer, got)) return false;
    for (size_t i = 0; i < got; ++i) buffer[i] ^= key;
    hash.Update(buffer, got);
    at += got;
  }
  sha256 = hash.HexDigest();
  if (size != nullptr) *size = at;
  return true;
}

bool Backup::Create(int volumeRoot, const std::string& mountPoint, const std::string& dir, const std::string& stamp,
                    std::string& error) {
  if (!dir.empty()) {
    // A folder the user named: made when missing, else it must be empty.
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return (error = ErrnoText("cannot make " + dir)), false;
    folder_.Reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    int listingError = 0;
    if (!folder_) return (error = ErrnoText("cannot open " + dir)), false;
    if (!ListFolder(folder_.Get(), &listingError).empty() || listingError != 0) {
      error = dir + " is not an empty folder";
      return false;
    }
    path_ = dir;
    return true;
  }
  if (::mkdirat(volumeRoot, "Scourix", 0755) != 0 && errno != EEXIST) {
    return (error = ErrnoText("cannot make " + mountPoint + "/Scourix")), false;
  }
  UniqueFd scourix(::openat(volumeRoot, "Scourix", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!scourix) return (error = ErrnoText(mountPoint + "/Scourix is not a folder")), false;
  for (int n = 1; n <= kStampTries && !folder_; ++n) {
    name_ = "backup-" + stamp + (n == 1 ? std::string() : "-" + std::to_string(n));
    folder_ = MakeFolder(scourix.Get(), name_);
    if (!folder_ && errno != EEXIST) return (error = ErrnoText("cannot make a backup folder")), false;
    path_ = mountPoint + "/Scourix/" + name_;
  }
  if (!folder_) return (error = ErrnoText("cannot make a backup folder")), false;
  parent_ = std::move(scourix);
  return true;
}

void Backup::Discard() {
  if (!folder_) return;
  for (const BackupItem& item : items_) ::unlinkat(folder_.Get(), item.stored.c_str(), 0);
  ::unlinkat(folder_.Get(), kManifestName, 0);
  ::unlinkat(folder_.Get(), (std::string(kManifestName) + ".new").c_str(), 0);
  if (parent_) ::unlinkat(parent_.Get(), name_.c_str(), AT_REMOVEDIR);
  items_.clear();
  folder_.Reset();
}

bool Backup::Add(BackupItem::Kind kind, int source, const std::string& relative, std::string& error) {
  struct stat st {};
  if (::fstat(source, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "cannot back up " + relative + ": not a regular file";
    return false;
  }
  BackupItem item;
  item.kind = kind;
  item.relative = relative;
  // Permission bits only: a restore never makes a set-id file.
  item.mode = st.st_mode & 0777;
  item.stored = (kind == BackupItem::Kind::Hive ? "hive-" : "file-") + std::to_string(items_.size() + 1);
  const unsigned char key = kind == BackupItem::Kind::File ? kDefangKey : 0;
  if (!CopyToNewFile(source, folder_.Get(), item.stored, 0600, key, item.size, item.sha256)) {
    error = ErrnoText("cannot back up " + relative + " in " + path_);
    return false;
  }
  items_.push_back(item);
  return true;
}

BackupItem* Backup::Find(BackupItem::Kind kind, const std::string& relative) {
  for (BackupItem& item : items_) {
    if (item.kind == kind && item.relative == relative) return &item;
  }
  return nullptr;
}

bool Backup::Save(std::string& error) {
  std::ostringstream text;
  text << kManifestHeader << '\n'
       << "# kind, copy, size, SHA-256, mode, what was done, SHA-256 afterwards, path below the volume's root\n";
  for (const BackupItem& item : items_) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", item.mode);
    text << (item.kind == BackupItem::Kind::Hive ? "hive" : "file") << '\t' << item.stored << '\t' << item.size << '\t'
         << item.sha256 << '\t' << mode << '\t' << item.outcome << '\t'
         << (item.sha256After.empty() ? "-" : item.sha256After) << '\t' << EncodePath(item.relative) << '\n';
  }
  const std::string bytes = text.str();
  const std::string fresh = std::string(kManifestName) + ".new";
  ::unlinkat(folder_.Get(), fresh.c_str(), 0);  // a leftover of our own: the folder is ours
  if (!ReplaceFileAt(folder_.Get(), kManifestName, fresh.c_str(), bytes.data(), bytes.size(), 0600)) {
    error = ErrnoText("cannot write the backup's manifest in " + path_);
    return false;
  }
  return true;
}

bool LoadManifest(int folder, std::vector<BackupItem>& items, std::string& error) {
  items.clear();
  const UniqueFd file(::openat(folder, kManifestName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!file || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) > kLargestManifest) {
    error = std::string("no readable ") + kManifestName + " in the backup folder";
    return false;
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  if (!ReadFullyAt(file.Get(), 0, &text[0], text.size(), got) || got != text.size()) {
    return (error = "the manifest cannot be read"), false;
  }
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kManifestHeader) return (error = "not a Scourix backup manifest"), false;
  for (int number = 2; std::getline(lines, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    BackupItem item;
    if (!ParseItem(line, item)) {
      error = "line " + std::to_string(number) + " of the manifest is malformed";
      return false;
    }
    items.push_back(item);
  }
  return true;
}
