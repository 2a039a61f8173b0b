// The exit statuses that deployment tools and scripts act on, in one place
// for scourix-cli, scourix-rescue and scourix-fleet, and for their tests.
#pragma once

// A scan.
constexpr int kExitNothingFound = 0;
constexpr int kExitRemoved = 1;        // found, and everything removed
constexpr int kExitNotAllRemoved = 2;  // something stayed, or the scan was interrupted or failed
// A usage error, another Scourix running, or a volume that cannot be worked
// on: nothing was changed.
constexpr int kExitUsage = 3;
constexpr int kExitRestartNeeded = 3010;  // removed, but Windows must restart to finish

// The fleet summary.
constexpr int kFleetNoneNeedsAttention = 0;
constexpr int kFleetSomeNeedAttention = 1;
constexpr int kFleetCannotSummarise = 2;  // a usage error, no records, or a summary not written
