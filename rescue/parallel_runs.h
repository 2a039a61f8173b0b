// Several targets at once: each is cleaned by a run of this program of its
// own (a child process), at most jobs at a time; each one's output comes out
// whole, headed by its target, when it ends.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct TargetRun {
  std::string target;
  std::vector<std::string> arguments;  // the child's, without the program's name
};

// Runs program once per run and prints each one's output (standard output
// and error together) to out as "==> TARGET <==" and its lines. Returns
// the worst (highest) exit status; a child that did not end by itself
// counts as 2.
int RunTargetsInParallel(const std::string& program, const std::vector<TargetRun>& runs, int jobs, std::FILE* out);

// A file name for a target's own record, log or backup folder: its path with
// '/' as '_' ("/vm/pc 1.qcow2" gives "vm_pc 1.qcow2").
std::string TargetFileName(const std::string& target);
