#include "engine/report.h"

#include "engine/result_log.h"
#include "engine/scan_state.h"
#include "engine/text.h"

void ReportStatistics() {
  scanState.reportStarted = 1;
  if (scanState.filesInfected > 0) AppendResultLine(" ");
  AppendResultLine("Scanning statistics\t\t:");
  AppendResultLine("Total files scanned\t\t:  %d", scanState.filesScanned);
  AppendResultLine("Total files infected\t\t:  %d", scanState.filesInfected);
  AppendResultLine("Total files deleted\t\t:  %d", scanState.filesDeleted);
}

void ReportFinalStatus() {
  CopyText(scanState.currentObject, sizeof scanState.currentObject,
           scanState.scanCancelled ? "Scanning terminated" : "Scanning completed");
  resultLog.Add(scanState.currentObject);
  ShowCurrentObject();
}
