// Feeds fuzz input to the tool's PNG, JPEG and YUV4MPEG2 readers, as a file would
// reach them, and checks what must always hold: a refusal says why and
// leaves no picture; a picture read has the size it claims, its selection
// (for a mixed record) one byte a pixel, and stays within the limits.
// Run it on fuzz/image-corpus.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzCheck.h"
#include "formats/Formats.h"
#include "shared/InputFile.h"
#include "shared/MemoryBudget.h"

namespace {

// Small enough that a claimed picture costs little; the limits under test
// are the readers' own.
constexpr std::uint64_t kFuzzMaxPixels = std::uint64_t{1} << 22;
constexpr std::uint64_t kFuzzMemoryBytes = std::uint64_t{256} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::FILE* stream = ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  if (stream == nullptr) return 0;
  cstool::InputFile input = cstool::InputFile::FromStream(stream, "fuzz");
  // Everything a read holds is counted: it never holds more than the budget.
  cstool::MemoryBudget budget(kFuzzMemoryBytes);
  cstool::ReadResult result;
  cstool::Picture picture;
  {
    cstool::MemoryBudget::Account account(&budget);
    cstool::ReadOptions limits;
    limits.maxPixels = kFuzzMaxPixels;
    limits.memory = &account;
    result = cstool::ReadImage(input, limits, picture);
    if (result.Ok()) FUZZ_CHECK(account.Held() >= picture.bgra.size());
  }
  std::fclose(stream);
  for (const std::string& note : result.notes) FUZZ_CHECK(note.find('\n') == std::string::npos);
  if (!result.Ok()) {
    FUZZ_CHECK(result.error.find('\n') == std::string::npos);
    return 0;
  }
  FUZZ_CHECK(picture.width > 0 && picture.height > 0);
  FUZZ_CHECK(picture.Pixels() <= kFuzzMaxPixels);
  FUZZ_CHECK(picture.bgra.size() == 4 * picture.Pixels());
  if (picture.record.Mixed() && !picture.record.selection.empty()) {
    FUZZ_CHECK(picture.record.selection.size() == picture.Pixels());
  }
  return 0;
}
