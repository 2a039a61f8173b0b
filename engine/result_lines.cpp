#include "engine/result_lines.h"

#include "engine/scan_state.h"

void ReportFileDeleted(const char* path, const char* virus) { AppendResultLine("%s     %s deleted", path, virus); }

void ReportFileDeleteFailed(const char* path, const char* virus) {
  AppendResultLine("%s     %s Delete failed", path, virus);
}

void ReportFileFound(const char* path, const char* virus) {
  AppendResultLine("%s     %s found (report only: not deleted)", path, virus);
}

void ReportFileKeptForRepair(const char* path, const char* virus) {
  AppendResultLine("%s     %s Delete failed: kept until the registry can be repaired", path, virus);
}

void ReportRegistryWriteFailed(const char* virus) {
  AppendResultLine("System Registry     %s Repair failed: the registry could not be written", virus);
}

void ReportProfileHiveFailed(const char* file, const char* virus, const char* what, unsigned long error) {
  AppendResultLine("%s     %s Repair failed: the profile's hive could not be %s (error %lu)", file, virus, what, error);
}

void ReportRegistryRemoved(const char* virus) { AppendResultLine("System Registry     %s removed", virus); }

void ReportRegistryFound(const char* virus) {
  AppendResultLine("System Registry     %s found (report only: not repaired)", virus);
}

void ReportServiceRemoved(const char* service, const char* virus) {
  AppendResultLine("Service %s     %s removed", service, virus);
}

void ReportServiceDeleteFailed(const char* service, const char* virus) {
  AppendResultLine("Service %s     %s Delete failed", service, virus);
}

void ReportServiceFound(const char* service, const char* virus) {
  AppendResultLine("Service %s     %s found (report only: not removed)", service, virus);
}

// Four blanks, not five: the line as the program has always shown it.
void ReportMemoryRemoved(const char* virus) { AppendResultLine("System Memory    %s removed", virus); }

void ReportMemoryFound(const char* virus) { AppendResultLine("System Memory    %s found (report only: not ended)", virus); }

void ReportNothingChanged() { AppendResultLine("Report only: nothing is ended, deleted, repaired or queued"); }
