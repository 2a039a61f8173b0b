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

// 5 for NT 4.0 and older, 6 for NT 5.x (2000, XP, 2003), 0 otherwise: the
// versions whose services the memory scan may use to end a worm.
int GetNtVersionClass();
