// Disk images and block devices, through libguestfs: the Windows
// installations on the disk are found by inspection, and each is cleaned by
// this program itself, run inside the libguestfs appliance on the volume
// mounted there (a scan across the appliance's channel, file by file, would
// be many times slower). libguestfs is loaded when a disk is first given, so
// folders need nothing of it.
#pragma once

#include <cstdio>
#include <string>

#include "rescue/options.h"

// The shared libraries this program runs with; noted at its start, before
// libguestfs is loaded, and copied into the appliance with the program.
void NoteOwnLibraries();

// Cleans (or, with undo, restores) every Windows installation on the disk
// image or block device target. Lines go to out, messages to err. Returns
// the exit status: the worst of the installations', 3 when the disk cannot
// be opened or holds no Windows (why, in problem; nothing was run then, and
// no record written).
int CleanDisk(const std::string& target, const RescueOptions& options, std::FILE* out, std::FILE* err,
              std::string& problem);
