#include "engine/check_file.h"

#include "cleaning/profile_hives.h"
#include "cleaning/registry_repair.h"
#include "cleaning/registry_win32.h"
#include "engine/files_win32.h"
#include "engine/pe_signature.h"
#include "engine/remedy.h"
#include "engine/scan_state.h"
#include "engine/text.h"

const VirusTableEntry virusTable[] = {
    {kVirusName, CheckFile},
    {nullptr, nullptr},
};

namespace {

// What follows a match, in this order: count it, repair the registry, then
// either leave the file to the memory scan or remedy it.
// Returns true when the memory scan takes the file over.
bool HandleMatch(const VirusSignature& record, const char* path) {
  ++scanState.filesInfected;
  if (scanState.reportOnly) {
    // The key stays, so it would be found at every match: said once.
    if (scanState.filesInfected == 1) ReportWormRegistry(SystemRegistry(), record.name);
  } else {
    // Once per match; only the first call of a scan finds the worm's key.
    if (RepairRegistry(SystemRegistry(), record.name) && scanState.repairProfileHives) {
      RepairUnloadedProfileHives(SystemProfileHiveCalls());
    }
  }
  if (scanState.memoryScanActive) {
    CopyText(scanState.currentVirusName, sizeof scanState.currentVirusName, record.name);
    CopyText(scanState.currentObject, sizeof scanState.currentObject, path);
    scanState.memoryMatchPending = 1;
    return true;
  }
  DecideRemedy(record.name, path);
  CarryOutRemedy(record.name, path);
  return false;
}

}  // namespace

int CheckFile(const char* name, const char* path) {
  // A file the memory scan already recognised: remedied without a second look.
  if (scanState.memoryRemedyAction != kRemedyNone && scanState.progressWindow != nullptr) {
    RemedyMemoryFile(name, path);
    return 0;
  }
  // Report only: a running copy's file, already counted by the memory scan.
  if (scanState.reportOnly && ReportedBefore(path)) return 0;
  SignatureVerdict verdict;
  {
    Win32FileSource file(path);
    if (!file.Ok()) return 0;
    verdict = ExamineFile(file);
  }  // closed here: nothing below reads the file
  for (size_t i = 0; i < verdict.count; ++i) {
    if (HandleMatch(*verdict.matches[i], path)) return 1;
  }
  return verdict.count > 0 ? 1 : 0;
}
