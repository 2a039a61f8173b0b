#include "win32/service.h"

#include <cstring>
#include <vector>

ServiceHandle OpenServiceManager() {
  return ServiceHandle(OpenSCManagerA(nullptr, nullptr, GENERIC_READ | SC_MANAGER_ENUMERATE_SERVICE));
}

ServiceHandle OpenServiceByName(const ServiceHandle& manager, const char* name, DWORD access) {
  if (!manager) return ServiceHandle();
  return ServiceHandle(OpenServiceA(manager.Get(), name, access));
}

bool QueryServiceBinaryPath(const ServiceHandle& service, char* path, size_t capacity) {
  // The configuration with its strings, in a buffer of the documented maximum.
  constexpr DWORD kConfigBuffer = 8196;
  std::vector<unsigned char> buffer(kConfigBuffer);
  DWORD needed = 0;
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!QueryServiceConfigA(service.Get(), config, kConfigBuffer, &needed) || config->lpBinaryPathName == nullptr) {
    return false;
  }
  const size_t length = strnlen(config->lpBinaryPathName, kConfigBuffer);
  if (capacity == 0 || length >= capacity) return false;
  std::memcpy(path, config->lpBinaryPathName, length + 1);
  return true;
}

bool StopServiceAndWait(const ServiceHandle& service, DWORD pollMs, int maxPolls) {
  SERVICE_STATUS status{};
  if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) return false;
  for (int poll = 0; poll < maxPolls && status.dwCurrentState == SERVICE_STOP_PENDING; ++poll) {
    Sleep(pollMs);
    if (!QueryServiceStatus(service.Get(), &status)) return false;
  }
  return status.dwCurrentState == SERVICE_STOPPED;
}
