// scourix-rescue's record of a run, in the form the unattended Windows
// program writes, for scourix-fleet: the machine as its volume names it.
#pragma once

#include <string>

#include "record/record.h"
#include "rescue/volume/hive_registry.h"

// The computer's name (SYSTEM hive, the control set in use) and the Windows
// version ("5.1.2600 Service Pack 3", SOFTWARE hive), where the volume's
// hives say them; empty where they do not. registry: the machine hives
// mounted as Software and System.
void ReadVolumeIdentity(HiveRegistry& registry, std::string& computer, std::string& windows);

// Writes the record to path: a new file beside it, renamed into place, so a
// reader never sees half a record. False with the reason in error.
bool WriteRecordFile(const std::string& path, const ScanRecord& record, std::string& error);
