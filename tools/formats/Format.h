// What a file format is to the tool: one row (Format), which each format's
// own file defines, naming what it holds, the options it takes, its reader
// and its writers; and the frame reader and writer every format gives.
#pragma once

#include <any>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/Sampling.h"
#include "shared/MemoryBudget.h"
#include "shared/Messages.h"
#include "shared/Names.h"
#include "shared/Picture.h"

namespace cstool {

class InputFile;

// Decoded pictures above this many pixels are refused before any pixel
// memory is allocated, unless --max-pixels says otherwise: 2^27 pixels take
// 512 MiB at 4 bytes each.
inline constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 27;

// The options a run was given, by name ("--quality"), each with the value the
// option table made of it, if any: a format reads the ones it takes.
class GivenOptions {
 public:
  void Set(const std::string& option, std::any value = {}) { values_[option] = std::move(value); }
  bool Given(const std::string& option) const { return values_.count(option) != 0; }
  // The value given, or nothing when the option was not given.
  template <typename T>
  std::optional<T> Get(const std::string& option) const {
    const auto found = values_.find(option);
    const T* value = found == values_.end() ? nullptr : std::any_cast<T>(&found->second);
    return value != nullptr ? std::optional<T>(*value) : std::nullopt;
  }

 private:
  std::map<std::string, std::any> values_;
};

// A frame rate: frames per `denominator` seconds.
struct FrameRate {
  std::uint32_t numerator = 25;
  std::uint32_t denominator = 1;
  bool operator==(const FrameRate&) const = default;
};

// What an input says besides its frames.
struct StreamInfo {
  std::optional<FrameRate> rate;        // a stream's own rate
  char interlace = 'p';                 // YUV4MPEG2's I tag: p, t or b
  std::string aspect = "1:1";           // YUV4MPEG2's A tag: the pixels' shape
  std::optional<std::uint64_t> frames;  // how many, where the size tells
};

// What a reader is given.
struct ReadOptions {
  std::uint64_t maxPixels = kDefaultMaxPixels;
  // Everything the reader holds is taken from this account as it is
  // allocated: the decoder's memory, the metadata, and the picture's share
  // (see AdmitPicture). None: no limit.
  MemoryBudget::Account* memory = nullptr;
  // For the formats that read with options (raw planes say nothing of
  // themselves): see Format::readOptions.
  GivenOptions given;
  // The model the user gave (--from), for an input whose header does not
  // say its range: no note is then due.
  bool modelGiven = false;
};

struct ReadResult {
  std::string error;               // one line naming the file; empty when read
  std::vector<std::string> notes;  // lines naming the file: what was changed or left out
  bool Ok() const { return error.empty(); }
};

// Reads an input's frames in order, one at a time into the same picture.
// Opening it reads the header, so the size is known before any pixel (see
// OpenReader).
class FrameReader {
 public:
  FrameReader(InputFile& input, const ReadOptions& options) : input_(input), options_(options) {}
  virtual ~FrameReader() = default;
  std::uint32_t Width() const { return width_; }
  std::uint32_t Height() const { return height_; }
  const StreamInfo& Info() const { return info_; }
  // The next frame into `picture`: true with one, false at the end or with
  // result.error set (a frame cut short: the frames before it were read).
  virtual bool Next(Picture& picture, ReadResult& result) = 0;
  // Whether another frame follows the one read last, told without reading
  // it (a one-picture format: none).
  virtual bool MoreFrames() { return false; }

 protected:
  InputFile& input_;
  ReadOptions options_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  StreamInfo info_;
};

struct Format;

// How an output is written: its format, and what shapes it.
struct WriteSettings {
  const Format* format = nullptr;  // none: PNG
  GivenOptions given;              // see Format::writeOptions
  int threads = 1;                 // for compressing one large picture
  StreamInfo stream;               // what the first input said: carried to a stream written
};

// What a writer is given besides the picture.
struct WriteContext {
  const WriteSettings& settings;
  MemoryBudget::Account* memory;  // the writer's memory is taken from it; none: no limit
  unsigned keep;                  // the metadata kinds to write (see KeptMetadata)
  NoteList& notes;                // what the writer itself left out
};

// Writes frames to an open stream: one for a picture format, any number
// for a stream format, whose header goes out with the first.
class FrameWriter {
 public:
  virtual ~FrameWriter() = default;
  virtual std::string Write(const Picture& frame, const WriteContext& context) = 0;
};

// What a format holds, as flags.
enum HeldModel : unsigned { kHoldsRgb = 1U << 0, kHoldsYuv = 1U << 1, kHoldsYCbCr = 1U << 2, kHoldsMixed = 1U << 3 };

// One file format, defined at the end of its own file with named fields
// and listed in Formats.cpp. Adding one takes that file, its lines in the
// list and in the build file, and the README's regenerated table.
struct Format {
  const char* name;      // as --format takes it
  const char* title;     // as messages name it
  const char* suffixes;  // space-separated, the first used for made names
  const char* help;      // what it holds, one line for the help and the README
  // The first bytes that tell it apart; empty for a format told only by
  // its suffix or by the option `readWhenGiven`.
  std::string_view signature = {};
  const char* readWhenGiven = nullptr;
  // Opens a reader on the input at its start, reading the header; nothing,
  // with result.error set, when it is refused.
  std::unique_ptr<FrameReader> (*openReader)(InputFile& input, const ReadOptions& options, ReadResult& result);
  std::unique_ptr<FrameWriter> (*openWriter)(std::FILE* stream);
  // Writes a grey picture (the planes command); none: it holds none.
  std::string (*writeGrey)(std::FILE* stream, const GreyPicture& picture, const WriteContext& context) = nullptr;
  unsigned models;             // HeldModel flags; kHoldsMixed also keeps the selection
  const char* modelsWhy = "";  // why it holds only the models it does
  bool alpha = false;          // keeps transparency
  unsigned metadata = 0;       // the MetadataKind flags it holds
  std::uint64_t maxIccBytes = UINT64_MAX;
  std::uint64_t maxExifBytes = UINT64_MAX;
  bool manyFrames = false;                                  // a stream of frames; otherwise one picture a file
  unsigned samplings = SamplingFlag(SamplingChoice::k444);  // SamplingFlag of each it writes
  // The options it takes, space-separated: to write (the commands that
  // write it take them), and to read (the commands that read files do). An
  // option given that no format of a run takes is noted as without effect.
  const char* writeOptions = "";
  const char* readOptions = "";
  // The numbers its help and its options' help name in braces ("{quality}").
  std::span<const Named<std::uint64_t>> helpNumbers = {};
};

}  // namespace cstool
