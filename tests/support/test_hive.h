// A hive file the tests fill in and read back through libhivex, addressed by
// key paths such as "Microsoft\Windows\CurrentVersion\Run" (relative to the
// hive's root; names compare without regard to case).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct hive_h;

class TestHive {
 public:
  // Creates an empty hive at path (Create) or opens an existing one.
  static TestHive Create(const std::string& path);
  explicit TestHive(const std::string& path);
  ~TestHive();
  TestHive(TestHive&& other) noexcept;
  TestHive(const TestHive&) = delete;
  TestHive& operator=(const TestHive&) = delete;

  bool Ok() const { return handle_ != nullptr; }
  // Creates the key and any missing key above it.
  void CreateKey(const std::string& path);
  // A REG_SZ (UTF-16 with its terminator) or REG_DWORD; name "" is the
  // default value. The key is created when missing.
  void SetString(const std::string& path, const std::string& name, const std::string& text);
  void SetDword(const std::string& path, const std::string& name, uint32_t value);
  // Any data under any 32-bit type, including ones hivex's hive_type does
  // not name (Windows keeps device properties under types such as
  // 0xFFFF0011). The key is created when missing.
  void SetRaw(const std::string& path, const std::string& name, uint32_t type, const std::string& data);
  // Writes the hive back to its file.
  void Save();

  bool KeyExists(const std::string& path) const;
  // A string value as text (UTF-16 read back as 8-bit, up to its
  // terminator), or nothing when the key or value is missing.
  std::optional<std::string> GetString(const std::string& path, const std::string& name) const;
  // The value's registry type, or nothing when it is missing.
  std::optional<int> GetType(const std::string& path, const std::string& name) const;
  // The value's type as the 32-bit number stored, whatever it is.
  std::optional<uint32_t> GetRawType(const std::string& path, const std::string& name) const;
  // The value's data exactly as stored.
  std::optional<std::string> GetRaw(const std::string& path, const std::string& name) const;

 private:
  size_t Find(const std::string& path) const;
  size_t FindValue(const std::string& path, const std::string& name) const;

  std::string path_;
  hive_h* handle_ = nullptr;
};
