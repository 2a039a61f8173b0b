// The scan: memory first, then the four folder trees, then the report.
#pragma once

// Runs inside the progress dialog's timer handler. Always returns 1.
int RunScan();
