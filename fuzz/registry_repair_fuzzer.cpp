// Fuzz target: the registry repair over an in-memory registry whose worm
// key, run key, file-type commands and policy values hold arbitrary data of
// any type and size, with and without terminators.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cleaning/registry_repair.h"
#include "engine/scan_state.h"
#include "tests/support/memory_registry.h"
#include "tests/support/worm_registry.h"

namespace {

// The result line is formatted and delivered, to nowhere.
class Silent final : public ProgressReceiver {
 public:
  void ShowObject(const char*) override {}
  void AppendLine(const char*) override {}
};

// Takes a length-prefixed piece of the input (the length is one byte, times 8).
std::vector<uint8_t> Take(const uint8_t*& data, size_t& size) {
  if (size == 0) return {};
  size_t length = static_cast<size_t>(data[0]) * 8;
  ++data;
  --size;
  if (length > size) length = size;
  std::vector<uint8_t> piece(data, data + length);
  data += length;
  size -= length;
  return piece;
}

uint32_t TakeType(const uint8_t*& data, size_t& size) {
  if (size == 0) return MemoryRegistry::kString;
  const uint32_t type = data[0] % 8;
  ++data;
  --size;
  return type;
}

std::string Text(const std::vector<uint8_t>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  return text.substr(0, text.find('\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using worm_registry::kExplorer;
  using worm_registry::kRun;
  constexpr RegistryRoot HKLM = RegistryRoot::LocalMachine;
  MemoryRegistry r;
  const std::string wormKey = std::string(kExplorer) + "\\" + Text(Take(data, size));
  const std::vector<uint8_t> installItem = Take(data, size);
  r.SetRaw(HKLM, wormKey, "Install Item", TakeType(data, size), installItem);
  r.SetRaw(HKLM, kRun, Text(installItem), TakeType(data, size), Take(data, size));
  for (const worm_registry::CommandRow& row : worm_registry::kCommands) {
    r.SetRaw(HKLM, row.key, "", TakeType(data, size), Take(data, size));
  }
  r.SetRaw(RegistryRoot::Users, Text(Take(data, size)) + worm_registry::kPolicy, "DisableRegistryTools",
           TakeType(data, size), Take(data, size));
  static Silent silent;
  AttachProgressReceiver(&silent);
  RepairRegistry(r, "W32/Gibe.F.Worm");
  RepairRegistry(r, "W32/Gibe.F.Worm");
  return 0;
}
