// What happens to an infected file: disinfection, carried out as deletion.
// A file in use is freed by ending its owner or, failing that, queued for
// deletion at the next start of Windows.
#pragma once

// Names the file and its virus as the current object and sets the action
// (always disinfect).
void DecideRemedy(const char* virusName, const char* path);

// Carries out scanState.currentAction on path and reports it in exactly one
// result line. name is the virus name.
void CarryOutRemedy(const char* name, const char* path);

// The "System Memory" branch: a file whose process the memory scan already
// ended gets memoryRemedyAction, after its line and a pause.
void RemedyMemoryFile(const char* name, const char* path);

// Asks Windows to delete the file at its next start. Returns 1 when that
// was recorded, 0 otherwise.
int QueueRemovalAtRestart(const char* path);

// Report only: names the file found, once, and remembers it, so that the
// file scan does not count again a file the memory scan reported.
void ReportFoundOnly(const char* name, const char* path);
bool ReportedBefore(const char* path);
