// The directory walker: offers every file under a search pattern to the virus
// table, files of a folder before its subfolders, and keeps the user
// interface alive between files.
#pragma once

// pattern: a folder, a separator and "*.*" (C:\dir\*.*), or with
// memoryScanActive set the full path of one file.
// Returns filesScanned when the walk ends, 0 when it was cancelled, -1 when a
// pattern held no '.' (the walk is abandoned at every level).
int WalkDirectory(const char* pattern);

// Handles at most one pending message of the thread. Escape asks whether to
// end the scan; a quit or destroy message ends it without asking. After
// finding the queue empty it looks again only at the next clock tick.
void PumpMessages();
