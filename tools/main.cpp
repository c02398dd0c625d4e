// colorspace: converts pictures and single colours between RGB, YUV and
// YCbCr with the ColorSpace library, and shows what a conversion does.
#include <malloc.h>

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "commands/Commands.h"
#include "shared/CommandLine.h"
#include "shared/OutputFile.h"
#include "shared/StandardStreams.h"

namespace {

constexpr int kLargeBlockBytes = 256 << 10;

int Run(int argc, char** argv) {
  using namespace cstool;
  if (argc < 2) {
    // Writes nothing: the demo only runs as `colorspace demo`.
    std::fputs(ShortUsage().c_str(), stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(HelpFor("").c_str(), stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("colorspace %s\n", COLORSPACE_VERSION);
    return kExitOk;
  }
  if (!IsCommand(command)) {
    std::fprintf(stderr, "colorspace: unknown command '%s'\n%s", WithoutControls(command).c_str(),
                 ShortUsage().c_str());
    return kExitUsage;
  }
  Options options;
  const std::string error = ParseCommandLine(argc, argv, options);
  if (options.help) {
    std::fputs(HelpFor(command).c_str(), stdout);
    return kExitOk;
  }
  if (!error.empty()) return Fail(error, kExitUsage);
  return RunCommand(command, options);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything opens a file: see StandardStreams.h.
  cstool::ReserveStandardDescriptors();
  // Large blocks go back to the system when freed, whichever thread freed
  // them, so that the process's memory follows the budget.
  ::mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
  const std::string note = cstool::PrepareOutputs();
  if (!note.empty()) std::fprintf(stderr, "colorspace: note: %s\n", note.c_str());
  int status = cstool::kExitFailure;
  try {
    status = Run(argc, argv);
  } catch (const std::bad_alloc&) {
    status = cstool::Fail("out of memory");
  } catch (const std::exception& error) {
    status = cstool::Fail(error.what());
  }
  return cstool::FinishStandardStreams(status);
}
