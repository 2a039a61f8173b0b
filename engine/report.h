// The report that ends a scan.
#pragma once

// Sends the statistics block as result lines; from here on the result list
// is no longer cleared.
void ReportStatistics();

// Puts "Scanning completed" or "Scanning terminated" on the status line and
// in the results log.
void ReportFinalStatus();
