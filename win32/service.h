// The service control manager.
#pragma once

#include <windows.h>

#include "win32/handle.h"

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle h) { return CloseServiceHandle(h) != FALSE; }
};
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;

// The access the service steps open services with: query config and status, stop, read control.
constexpr DWORD kServiceStopAccess = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_STOP | READ_CONTROL;

ServiceHandle OpenServiceManager();
ServiceHandle OpenServiceByName(const ServiceHandle& manager, const char* name, DWORD access);

// The configured binary path of the service into path (capacity bytes).
bool QueryServiceBinaryPath(const ServiceHandle& service, char* path, size_t capacity);

// Sends the stop control; when it is accepted, polls every pollMs while the
// service is stopping (at most maxPolls times). True when it ended stopped.
bool StopServiceAndWait(const ServiceHandle& service, DWORD pollMs, int maxPolls);
