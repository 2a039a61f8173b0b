#include "engine/result_lines.h"

#include "engine/scan_outcome.h"
#include "engine/scan_state.h"

namespace {

void NoteFile(const char* path, FileFate fate) { scanOutcome.files.push_back({path, fate}); }

}  // namespace

void ReportFileDeleted(const char* path, const char* virus) {
  NoteFile(path, FileFate::Deleted);
  AppendResultLine("%s     %s deleted", path, virus);
}

void ReportFileDeleteFailed(const char* path, const char* virus) {
  NoteFile(path, FileFate::DeleteFailed);
  AppendResultLine("%s     %s Delete failed", path, virus);
}

void ReportFileFound(const char* path, const char* virus) {
  NoteFile(path, FileFate::Found);
  AppendResultLine("%s     %s found (report only: not deleted)", path, virus);
}

void ReportFileIsHive(const char* path, const char* virus) {
  NoteFile(path, FileFate::DeleteFailed);
  AppendResultLine("%s     %s Delete failed: it is one of the registry's hives", path, virus);
}

void ReportFileKeptForRepair(const char* path, const char* virus) {
  NoteFile(path, FileFate::Kept);
  AppendResultLine("%s     %s Delete failed: kept until the registry can be repaired", path, virus);
}

void ReportRegistryWriteFailed(const char* virus) {
  scanOutcome.registryFailed = true;
  AppendResultLine("System Registry     %s Repair failed: the registry could not be written", virus);
}

void ReportProfileHiveFailed(const char* file, const char* virus, const char* what, unsigned long error) {
  ++scanOutcome.profileHivesFailed;
  AppendResultLine("%s     %s Repair failed: the profile's hive could not be %s (error %lu)", file, virus, what, error);
}

void ReportRegistryRemoved(const char* virus) {
  scanOutcome.registryRepaired = true;
  AppendResultLine("System Registry     %s removed", virus);
}

void ReportRegistryFound(const char* virus) {
  scanOutcome.registryFound = true;
  AppendResultLine("System Registry     %s found (report only: not repaired)", virus);
}

void ReportServiceRemoved(const char* service, const char* virus) {
  ++scanOutcome.servicesRemoved;
  AppendResultLine("Service %s     %s removed", service, virus);
}

void ReportServiceDeleteFailed(const char* service, const char* virus) {
  ++scanOutcome.servicesFailed;
  AppendResultLine("Service %s     %s Delete failed", service, virus);
}

void ReportServiceFound(const char* service, const char* virus) {
  ++scanOutcome.servicesFound;
  AppendResultLine("Service %s     %s found (report only: not removed)", service, virus);
}

// Four blanks, not five: the line as the program has always shown it.
void ReportMemoryRemoved(const char* virus) {
  scanOutcome.memoryEnded = true;
  AppendResultLine("System Memory    %s removed", virus);
}

void ReportMemoryFound(const char* virus) {
  scanOutcome.memoryFound = true;
  AppendResultLine("System Memory    %s found (report only: not ended)", virus);
}

void ReportNothingChanged() { AppendResultLine("Report only: nothing is ended, deleted, repaired or queued"); }
