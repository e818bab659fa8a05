// tavrion-convert --jobs N: up to N checked entries of the batch convert at once, each by a
// worker of this program (tav::SimultaneousRun, converter/engine/simultaneousrun.h, keeps the
// batch and hands the workers their entries; RunWorker below is a worker's side).
#pragma once

#include <string>
#include <vector>

#include "converter/cli/cli.h"
#include "converter/engine/simultaneousrun.h"

namespace tav::cli {

// Workers for --jobs: requested (0 for one a core), never more than the checked entries,
// at least 1.
int LanesFor(int requested, int checkedEntries, int cores);
// The same for the --jobs of options on this machine's cores.
int LanesFor(const Options& options, int checkedEntries);

// How this program starts a worker: itself with "--worker" and what a worker takes over
// from the command line.
std::vector<std::string> WorkerCommand(const Options& options);

// Forks the workers a --jobs run of these options will want (one a lane, as far as the
// inputs tell before they are read) with the component libraries loaded already, so that no
// worker loads them again; SimultaneousRun::AdoptWorkers takes them. None when one lane is
// enough, or when this process runs more than one thread (a fork would copy only this one).
// Call before the platform's objects of this process exist: a worker makes its own.
std::vector<StartedWorker> StartWorkersAhead(const Options& options);

// The worker's program (tavrion-convert --worker FD): converts the batch files named on its
// standard input one after the other ("convert PATH RESUME-AT NEXT-PART" a line; the end of
// the input ends it), telling the running program about each entry on FD. Returns the exit
// status.
int RunWorker(const Options& options);

}  // namespace tav::cli
