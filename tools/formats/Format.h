// What a file format is to the tool: one row (Format) that owns its name,
// suffixes, first bytes, reader, writers, what it can hold and its line of
// help; and the frame reader and writer every format gives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/ChromaSampling.h"
#include "formats/jpeg/JpegSettings.h"
#include "formats/png/PngCompression.h"
#include "shared/MemoryBudget.h"
#include "shared/Messages.h"
#include "shared/Picture.h"

namespace cstool {

class InputFile;

// Decoded pictures above this many pixels are refused before any pixel
// memory is allocated, unless --max-pixels says otherwise: 2^27 pixels take
// 512 MiB at 4 bytes each.
inline constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 27;

// How a stream's chroma planes are laid out: sampled how, sited where (for
// 4:2:0), and for raw 4:2:0 whether U and V are interleaved in one plane
// (NV12) rather than one after the other.
struct PlaneLayout {
  ChromaSampling sampling = ChromaSampling::k444;
  ChromaSiting siting = ChromaSiting::kCenter;
  bool interleaved = false;
};

// The samplings --sampling and --input-sampling name.
enum class SamplingChoice { k444, k422, k420, kNv12 };
PlaneLayout LayoutOf(SamplingChoice choice, ChromaSiting siting);
// "444", "422", "420" or "nv12", as the options name it.
const char* SamplingName(SamplingChoice choice);

// A frame rate as YUV4MPEG2 writes it: frames per `denominator` seconds.
struct FrameRate {
  std::uint32_t numerator = 25;
  std::uint32_t denominator = 1;
};

// What an input says besides its frames.
struct StreamInfo {
  std::optional<FrameRate> rate;        // a stream's own rate
  char interlace = 'p';                 // YUV4MPEG2's I tag: p, t or b
  std::string aspect = "1:1";           // YUV4MPEG2's A tag: the pixels' shape
  PlaneLayout layout;                   // as its planes are stored
  std::optional<std::uint64_t> frames;  // how many, where the size tells
};

// What a reader is given.
struct ReadOptions {
  std::uint64_t maxPixels = kDefaultMaxPixels;
  // Everything the reader holds is taken from this account as it is
  // allocated: the decoder's memory, the metadata, and the picture's share
  // (see AdmitPicture). None: no limit.
  MemoryBudget::Account* memory = nullptr;
  // For raw planes, which say nothing of themselves.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> inputSize;
  std::optional<SamplingChoice> inputSampling;
  ChromaSiting siting = ChromaSiting::kCenter;
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
// Opening it reads the header, so the size is known before any pixel.
class FrameReader {
 public:
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
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  StreamInfo info_;
};

struct Format;

// How an output is written: its format, and that format's settings.
struct WriteSettings {
  const Format* format = nullptr;  // none: PNG
  Compression compression = Compression::kDefault;
  int quality = kDefaultJpegQuality;
  int threads = 1;  // for compressing one large PNG
  PlaneLayout layout;
  FrameRate rate;
  char interlace = 'p';
  std::string aspect = "1:1";
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
unsigned HeldFlagOf(Model model);
inline constexpr unsigned SamplingFlag(SamplingChoice choice) { return 1U << static_cast<unsigned>(choice); }

// One file format. Adding one takes a reader and writers in a file of its
// own, a row in the table (Formats.cpp), a line in the build file, and the
// README's regenerated table of formats.
struct Format {
  const char* name;      // as --format takes it
  const char* title;     // as messages name it
  const char* suffixes;  // space-separated, the first used for made names
  const char* help;      // what it holds, one line for the help and the README
  // The first bytes that tell it apart; empty for a format told only by
  // its name or the options (raw planes).
  std::string_view signature;
  // Opens a reader on the input at its start, reading the header; nothing,
  // with result.error set, when it is refused.
  std::unique_ptr<FrameReader> (*openReader)(InputFile& input, const ReadOptions& options, ReadResult& result);
  std::unique_ptr<FrameWriter> (*openWriter)(std::FILE* stream);
  // Writes a grey picture (the planes command); none: it holds none.
  std::string (*writeGrey)(std::FILE* stream, const GreyPicture& picture, const WriteContext& context);
  unsigned models;    // HeldModel flags; kHoldsMixed also keeps the selection
  bool alpha;         // keeps transparency
  unsigned metadata;  // the MetadataKind flags it holds
  std::uint64_t maxIccBytes;
  std::uint64_t maxExifBytes;
  bool manyFrames;        // a stream of frames; otherwise one picture a file
  unsigned samplings;     // SamplingFlag of each it writes
  const char* modelsWhy;  // why it holds only the models it does, or ""
  const char* shapedBy;   // the options that shape what it writes, space-separated
};

// Whether `option` shapes what `format` writes.
bool Shapes(const Format& format, const std::string& option);

}  // namespace cstool
