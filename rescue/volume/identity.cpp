#include "rescue/volume/identity.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/little_endian.h"
#include "posix/fd_io.h"
#include "posix/unique_fd.h"

namespace {

constexpr uint32_t kMostControlSets = 999;

// The control set Windows starts with ("Select\Current"), else the first.
std::string CurrentControlSet(HiveRegistry& registry) {
  char data[8] = {};
  uint32_t current = 1;
  if (registry.ReadRegValue(RegistryRoot::LocalMachine, "System\\Select", "Current", data, sizeof data)) {
    const uint32_t value = ReadLe32(reinterpret_cast<const uint8_t*>(data));
    if (value >= 1 && value <= kMostControlSets) current = value;
  }
  char name[32];
  std::snprintf(name, sizeof name, "System\\ControlSet%03u", static_cast<unsigned>(current));
  return name;
}

}  // namespace

void ReadVolumeIdentity(HiveRegistry& registry, std::string& computer, std::string& windows) {
  computer.clear();
  windows.clear();
  registry.ReadString(RegistryRoot::LocalMachine,
                      CurrentControlSet(registry) + "\\Control\\ComputerName\\ComputerName", "ComputerName", computer);
  const std::string version = "Software\\Microsoft\\Windows NT\\CurrentVersion";
  std::string number, build, servicePack;
  if (!registry.ReadString(RegistryRoot::LocalMachine, version, "CurrentVersion", number)) return;
  windows = number;
  if (registry.ReadString(RegistryRoot::LocalMachine, version, "CurrentBuildNumber", build)) windows += "." + build;
  if (registry.ReadString(RegistryRoot::LocalMachine, version, "CSDVersion", servicePack) && !servicePack.empty()) {
    windows += " " + servicePack;
  }
}

bool WriteRecordFile(const std::string& path, const ScanRecord& record, std::string& error) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    error = path + " is not a file name";
    return false;
  }
  const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::string fresh = name + ".tmp-" + std::to_string(::getpid());
  const std::string json = RecordJson(record);
  if (!dir || !ReplaceFileAt(dir.Get(), name.c_str(), fresh.c_str(), json.data(), json.size(), 0644)) {
    error = "cannot write the record " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
