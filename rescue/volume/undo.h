// scourix-rescue --undo: puts back, byte for byte, every hive and file that
// a cleaning run changed, from the backup it made.
#pragma once

#include <string>

// Restores the items of the backup folder onto the volume whose root is
// open as root (mountPoint names it in messages). A hive that has changed
// since the run, or a file that is there again with other content, is left
// alone unless force. Returns the exit status: 0 everything is as backed up,
// 2 something was left or could not be restored, 3 the backup is missing,
// malformed or damaged (nothing was changed).
int UndoCleaning(const std::string& backupDir, int root, bool force);
