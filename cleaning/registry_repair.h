// Undoes what the worm wrote into the registry: its configuration key and
// start-up entry, the open commands of seven program file types, and the
// policy that disables the registry tools.
#pragma once

#include "cleaning/registry_access.h"

struct RegistryRepairOutcome {
  int found = 0;         // the worm's configuration key was found and the repair ran
  bool removed = false;  // its key was removed
};

// The registry tools' policy of one user's hive (HKEY_USERS\userKey) set
// back to allowed, where the hive has the policy key. 1 when it was written.
int RestoreRegistryTools(RegistryAccess& registry, const char* userKey);

// The repair itself, without the result line: for callers that report it
// their own way (after writing the registry back, for instance).
RegistryRepairOutcome RepairWormRegistry(RegistryAccess& registry);

// The repair and its result line "System Registry     <virusName> removed".
// virusName is used only in the result line. Returns 1 when the worm's
// configuration key was found and the repair ran to its end, 0 when there
// was nothing to repair (and nothing was changed).
int RepairRegistry(RegistryAccess& registry, const char* virusName);

// Report only: the repair over a read-only view, and the line "System
// Registry     <virusName> found (report only: not repaired)" when it would
// have removed the worm's key. Nothing is changed. Returns as RepairRegistry.
int ReportWormRegistry(RegistryAccess& registry, const char* virusName);
