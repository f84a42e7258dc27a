// vocrel-clean's batch form: many files and folders cleaned into a mirrored
// tree, several at once.
#pragma once

#include "clean_options.h"

namespace vocrel::tool {

// Cleans every input of opts (files, and the files of folders walked
// recursively) into opts.outDir, opts.jobs at a time, each by a run of the
// single-file form of `self` (the tool's own executable). Outputs newer than
// their inputs are kept as they are, so that an interrupted run resumes.
// Returns the exit status: 0 when no file failed, 1 otherwise.
int run_batch(const Options& opts, const char* self);

}  // namespace vocrel::tool
