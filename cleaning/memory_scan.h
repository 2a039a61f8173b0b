// The memory scan: before any folder is walked, running copies of the worm
// are found, ended and deleted; on the NT family a service that runs the
// worm is stopped and deleted.
#pragma once

// Runs once per scan, before the file scan. Leaves memoryScanActive at 0.
void ScanMemory();

// Windows 95/98/Me: processes from the toolhelp snapshot.
void ScanMemoryToolhelp();
// NT family: processes from psapi.
void ScanMemoryPsapi();

// The NT versions whose services the memory scan may use to end a worm.
constexpr int kNtVersionUpTo4 = 5;  // NT 4.0 and older
constexpr int kNtVersion5 = 6;      // 2000, XP, Server 2003
// kNtVersionUpTo4, kNtVersion5, or 0 for any other system.
int GetNtVersionClass();
