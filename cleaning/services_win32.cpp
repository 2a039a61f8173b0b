#include "cleaning/services.h"

#include <windows.h>

#include <vector>

#include "cleaning/service_path.h"
#include "engine/scan_outcome.h"
#include "engine/scan_state.h"
#include "win32/service.h"

namespace {

constexpr DWORD kStopPollMs = 1000;
constexpr int kMaxStopPolls = 60;  // a service still stopping after a minute is left
constexpr DWORD kEnumerationSlack = 100;
constexpr DWORD kMaxEnumerationBytes = 4 * 1024 * 1024;
}  // namespace

int StopServicesByImagePath(const char* path) {
  const ServiceHandle manager = OpenServiceManager();
  if (!manager) return 0;
  DWORD needed = 0, count = 0, resume = 0;
  EnumServicesStatusA(manager.Get(), SERVICE_WIN32, SERVICE_ACTIVE, nullptr, 0, &needed, &count, &resume);
  if (needed == 0 || needed > kMaxEnumerationBytes) return 0;
  std::vector<ENUM_SERVICE_STATUSA> buffer((needed + kEnumerationSlack) / sizeof(ENUM_SERVICE_STATUSA) + 1);
  const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(ENUM_SERVICE_STATUSA));
  resume = 0;
  if (!EnumServicesStatusA(manager.Get(), SERVICE_WIN32, SERVICE_ACTIVE, buffer.data(), size, &needed, &count,
                           &resume)) {
    return 0;
  }
  int stopped = 0;
  for (DWORD i = 0; i < count && i < buffer.size(); ++i) {
    const ServiceHandle service = OpenServiceByName(manager, buffer[i].lpServiceName, kServiceStopAccess);
    char binary[kPathCapacity * 4] = {};
    if (!service || !QueryServiceBinaryPath(service, binary, sizeof binary)) continue;
    if (lstrcmpiA(binary, path) == 0 && StopServiceAndWait(service, kStopPollMs, kMaxStopPolls)) ++stopped;
  }
  return stopped;
}

int DeleteServiceByName(const char* name, bool stopFirst, const char* wormPath) {
  const ServiceHandle manager = OpenServiceManager();
  ServiceHandle service = OpenServiceByName(manager, name, kServiceStopAccess);
  if (!service) return 0;
  char binary[kPathCapacity * 4] = {};
  if (!QueryServiceBinaryPath(service, binary, sizeof binary) || !ServiceBinaryNamesFile(binary, wormPath)) return 0;
  if (stopFirst) StopServiceAndWait(service, kStopPollMs, kMaxStopPolls);
  service.Reset();
  service = OpenServiceByName(manager, name, DELETE);
  if (!service || !DeleteService(service.Get())) return 0;
  // No line says so (the scan names the file), but the record does.
  ++scanOutcome.servicesRemoved;
  return 1;
}
