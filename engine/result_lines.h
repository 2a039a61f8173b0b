// What a scan says, in one place: the worm's name, the cancel question and
// every result line a front end shows (the Windows program's list, the
// consoles of the rescue program), formatted through AppendResultLine.
// Portable.
#pragma once

constexpr char kVirusName[] = "W32/Gibe.F.Worm";

// Asked before a scan is cancelled (Cancel button, Escape key).
constexpr char kCancelQuestion[] = "Terminate the Scan now?";
constexpr char kCancelQuestionTitle[] = "Warning";

// An infected file.
void ReportFileDeleted(const char* path, const char* virus);       // "<path>     <virus> deleted"
void ReportFileDeleteFailed(const char* path, const char* virus);  // "<path>     <virus> Delete failed"
void ReportFileFound(const char* path, const char* virus);         // report only: not deleted
// A hive of the registry (offline): never deleted.
void ReportFileIsHive(const char* path, const char* virus);
// Kept because the registry repair could not be written: deleting it would
// lose the repair, which a second run finds again with the file.
void ReportFileKeptForRepair(const char* path, const char* virus);

// The worm's registry entries.
void ReportRegistryRemoved(const char* virus);  // "System Registry     <virus> removed"
void ReportRegistryFound(const char* virus);    // report only: not repaired
void ReportRegistryWriteFailed(const char* virus);
// A user's hive file the repair could not reach: what failed ("loaded",
// "unloaded") and the system's error code.
void ReportProfileHiveFailed(const char* file, const char* virus, const char* what, unsigned long error);

// A service that runs the worm.
void ReportServiceRemoved(const char* service, const char* virus);
void ReportServiceDeleteFailed(const char* service, const char* virus);
void ReportServiceFound(const char* service, const char* virus);  // report only: not removed

// A running copy ended by the memory scan: "System Memory    <virus> removed".
void ReportMemoryRemoved(const char* virus);
void ReportMemoryFound(const char* virus);  // report only: not ended

// Heads a report-only scan's lines.
void ReportNothingChanged();
