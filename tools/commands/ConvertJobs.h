// Planning a convert run: which inputs go to which output, and how each
// output is written, all checked before anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands/Commands.h"
#include "commands/FrameSink.h"

namespace cstool {

// Inputs whose frames go, in order, to one target.
struct Job {
  std::vector<std::string> inputs;
  Target target;
};

// Lists the jobs the options and operands ask for, refusing before anything
// is written (the output directory included) what no job could do (see
// ChooseSettings, ProbeSizes) and an output that is an input or another
// job's. Counts the frames of one job where its inputs tell (else 0).
CommandError PlanJobs(const Options& options, std::vector<Job>& jobs, std::uint64_t& totalFrames);

// One note for each option given that has no effect in this run.
void NoteOptionsWithoutEffect(const Options& options, const std::vector<Job>& jobs, Progress& progress);

}  // namespace cstool
