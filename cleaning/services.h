// Services that run the worm (NT family).
#pragma once

// Stops every running Win32 service whose binary path is path (whole text,
// without regard to case). Returns how many ended stopped.
int StopServicesByImagePath(const char* path);

// Deletes the service called name, stopping it first when stopFirst is set,
// but only when its configured program is wormPath: a service that merely
// shares the file's base name is never touched. 1 when it was deleted.
int DeleteServiceByName(const char* name, bool stopFirst, const char* wormPath);
