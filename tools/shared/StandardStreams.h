// The tool owns descriptors 0, 1 and 2: one that was closed when it
// started is held open on /dev/null, so that no file the tool opens takes
// its number, but the wrong way round (for writing where it would be read,
// for reading where it would be written), so that reading or writing
// through it fails with "Bad file descriptor", as it would have, and
// nothing goes silently into /dev/null.
#pragma once

#include <string>

namespace cstool {

// Call first, before anything else opens a file.
void ReserveStandardDescriptors();

// Flushes standard output and standard error at the end of a command.
// Returns `status`, or 1 (kExitFailure) when what the command wrote to
// standard output did not all arrive (a full disk, a closed descriptor):
// that is then said on standard error. A lost message makes the run fail
// too.
int FinishStandardStreams(int status);

// "cannot write to standard output: REASON": the one wording. The failure
// is then told: FinishStandardStreams does not tell it again.
std::string StandardOutputError(int error);

}  // namespace cstool
