// The memory scan: before any folder is walked, running copies of the worm
// are found, ended and deleted.
#pragma once

// Runs once per scan, before the file scan. Leaves memoryScanActive at 0.
void ScanMemory();
