// PNG through libpng. (libspng was measured too: it decoded and encoded the
// same 7680x5120 photo no faster, so one library stays.)
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "ImageFile.h"
#include "InputFile.h"
#include "Progress.h"

namespace cstool {
namespace {

constexpr const char* kModelKey = "ColorModel";
// The selection of a masked conversion's output: ancillary, private, and
// unsafe to copy (an editor that changes the pixels must drop it).
constexpr png_byte kSelectionChunk[5] = {'c', 's', 'M', 'K', '\0'};

// No chunk but the pixel data above 16 MiB, and none inflating beyond it
// (libpng's limit), and at most 32 text or unknown chunks kept (libpng's
// too), so a file's metadata takes at most 512 MiB whatever it claims; the
// model record, a few words, is refused above 4 KiB.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t{16} << 20;
constexpr png_uint_32 kMaxKeptChunks = 32;
constexpr std::uint32_t kMaxRecordBytes = 4096;
// Besides the pixels: row pointers, zlib's window, the chunk in hand.
constexpr std::uint64_t kDecoderFixedBytes = std::uint64_t{1} << 20;

struct ErrorState {
  std::jmp_buf jump;
  char message[320];
  bool whole = false;  // the message is a full line already, naming the file
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<ErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  std::longjmp(state->jump, 1);
}

void IgnorePngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

std::uint32_t BigEndian(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Follows the chunks as libpng reads them, to know which chunk a warning is
// about and to refuse what libpng would resolve silently: a second model
// record or selection chunk, one after the pixel data, a record too long,
// and a picture above the pixel limit (from its header, before libpng
// reads on).
class ChunkWatch {
 public:
  ChunkWatch(std::string path, std::uint64_t maxPixels) : path_(std::move(path)), maxPixels_(maxPixels) {}

  // Returns false, with the refusal in `problem`, when the file must be
  // refused.
  bool Feed(const unsigned char* data, std::size_t size) {
    while (size > 0) {
      std::size_t take = 0;
      switch (phase_) {
        case Phase::kSignature:
          take = std::min(size, std::size_t{8} - done_);
          if ((done_ += take) == 8) Begin(Phase::kHeader);
          break;
        case Phase::kHeader:
          take = std::min(size, std::size_t{8} - done_);
          std::memcpy(header_ + done_, data, take);
          if ((done_ += take) == 8 && !StartChunk()) return false;
          break;
        case Phase::kData:
          take = static_cast<std::size_t>(std::min<std::uint64_t>(size, length_ - done_));
          if (done_ < sizeof start_) {
            std::memcpy(start_ + done_, data, std::min(take, sizeof start_ - static_cast<std::size_t>(done_)));
          }
          if ((done_ += take) == length_ && !EndData()) return false;
          break;
        case Phase::kCrc:
          take = std::min(size, std::size_t{4} - done_);
          if ((done_ += take) == 4) Begin(Phase::kHeader);
          break;
      }
      data += take;
      size -= take;
    }
    return true;
  }

  // Whether the chunk read last is the model record or the selection.
  bool OnRecordOrSelection() const { return inRecord_ || inSelection_; }
  const std::string& Problem() const { return problem_; }

 private:
  enum class Phase { kSignature, kHeader, kData, kCrc };

  void Begin(Phase phase) {
    phase_ = phase;
    done_ = 0;
  }

  bool StartChunk() {
    length_ = BigEndian(header_);
    std::memcpy(type_, header_ + 4, 4);
    inRecord_ = false;
    inSelection_ = std::memcmp(type_, kSelectionChunk, 4) == 0;
    if (std::memcmp(type_, "IDAT", 4) == 0) {
      seenPixels_ = true;
    } else if (length_ > kMaxChunkBytes) {
      // libpng would allocate what the chunk claims before reading it.
      return Refuse("its " + Printable(std::string(reinterpret_cast<const char*>(type_), 4), 4) + " chunk claims " +
                    std::to_string(length_) + " bytes, more than the " + std::to_string(kMaxChunkBytes >> 20) +
                    " MiB any chunk but the pixel data may have");
    }
    if (inSelection_ && seenPixels_) return Refuse("its selection chunk comes after the pixel data");
    if (inSelection_ && ++selections_ > 1) return Refuse("it has more than one selection chunk");
    std::memset(start_, 0, sizeof start_);
    Begin(Phase::kData);
    return length_ > 0 || EndData();
  }

  bool EndData() {
    Begin(Phase::kCrc);
    if (std::memcmp(type_, "IHDR", 4) == 0 && length_ >= 8) {
      const std::string refusal = CheckPixelLimit(path_, BigEndian(start_), BigEndian(start_ + 4), maxPixels_);
      if (!refusal.empty()) {
        problem_ = refusal;
        return false;
      }
    }
    const bool text =
        std::memcmp(type_, "tEXt", 4) == 0 || std::memcmp(type_, "zTXt", 4) == 0 || std::memcmp(type_, "iTXt", 4) == 0;
    if (!text) return true;
    const std::size_t keyLength = std::strlen(kModelKey);
    inRecord_ = length_ > keyLength && std::memcmp(start_, kModelKey, keyLength + 1) == 0;
    if (!inRecord_) return true;
    if (seenPixels_) return Refuse("its colour model record comes after the pixel data");
    if (++records_ > 1) return Refuse("it has more than one colour model record");
    if (length_ > kMaxRecordBytes) {
      return Refuse("its colour model record is " + std::to_string(length_) + " bytes long, more than a record can be");
    }
    return true;
  }

  bool Refuse(const std::string& why) {
    problem_ = path_ + ": " + why;
    return false;
  }

  std::string path_;
  std::uint64_t maxPixels_;
  Phase phase_ = Phase::kSignature;
  std::uint64_t done_ = 0;
  unsigned char header_[8] = {};
  unsigned char type_[4] = {};
  std::uint64_t length_ = 0;
  unsigned char start_[80] = {};  // the data's start: a text chunk's keyword
  bool inRecord_ = false;
  bool inSelection_ = false;
  bool seenPixels_ = false;
  int records_ = 0;
  int selections_ = 0;
  std::string problem_;
};

struct Source {
  InputFile* input;
  ChunkWatch* watch;
  ErrorState* state;
};

void ReadFromSource(png_structp png, png_bytep data, std::size_t length) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  const std::size_t got = source->input->Read(data, length);
  if (got != length) {
    if (source->input->Failed()) {
      std::snprintf(source->state->message, sizeof source->state->message, "cannot read it: %s",
                    source->input->Reason().c_str());
      std::longjmp(source->state->jump, 1);
    }
    png_error(png, "the file ends early");
  }
  if (!source->watch->Feed(data, length)) {
    std::snprintf(source->state->message, sizeof source->state->message, "%s", source->watch->Problem().c_str());
    source->state->whole = true;
    std::longjmp(source->state->jump, 1);
  }
}

// A warning on the model record or the selection (a bad CRC, a record too
// large to inflate, no room left to keep it) would lose what the pixels
// are: that is an error. Other warnings concern metadata the tool drops.
void OnReadWarning(png_structp png, png_const_charp message) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (!source->watch->OnRecordOrSelection()) return;
  std::snprintf(source->state->message, sizeof source->state->message,
                "damaged colour model record or selection chunk (%s)", message);
  std::longjmp(source->state->jump, 1);
}

// What the reader found besides the pixels.
struct ReadExtras {
  Metadata metadata;
  bool reduced16 = false;
  bool hasSelection = false;
  std::string modelText;
  std::vector<std::uint8_t> selection;  // the packed chunk, if present
};

void CollectMetadata(png_structp png, png_infop info, Metadata& metadata) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileLength = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) != 0) {
    metadata.iccName = name != nullptr ? name : "ICC profile";
    metadata.icc.assign(profile, profile + profileLength);
  }
  int intent = 0;
  if (png_get_sRGB(png, info, &intent) != 0) metadata.srgbIntent = intent;
  png_fixed_point gamma = 0;
  if (png_get_valid(png, info, PNG_INFO_gAMA) != 0 && png_get_gAMA_fixed(png, info, &gamma) != 0) {
    metadata.gamma = gamma;
  }
  std::vector<png_fixed_point> points(8);
  if (png_get_valid(png, info, PNG_INFO_cHRM) != 0 &&
      png_get_cHRM_fixed(png, info, &points[0], &points[1], &points[2], &points[3], &points[4], &points[5], &points[6],
                         &points[7]) != 0) {
    metadata.chromaticities.emplace(points.begin(), points.end());
  }
  png_uint_32 x = 0;
  png_uint_32 y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit) != 0) metadata.density = Metadata::Density{x, y, unit};
  png_uint_32 exifLength = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &exifLength, &exif) != 0 && exif != nullptr) {
    metadata.exif.assign(exif, exif + exifLength);
  }
}

bool CollectExtras(png_structp png, png_infop info, ReadExtras& extras) {
  try {
    png_textp text = nullptr;
    int count = 0;
    png_get_text(png, info, &text, &count);
    for (int i = 0; i < count; ++i) {
      const std::size_t length = text[i].compression > 0 ? text[i].itxt_length : text[i].text_length;
      if (std::strcmp(text[i].key, kModelKey) == 0) {
        extras.modelText.assign(text[i].text, length);
        continue;
      }
      Metadata::Text kept;
      kept.compression = text[i].compression;
      kept.key = text[i].key;
      kept.text.assign(text[i].text, length);
      if (text[i].compression > 0) {
        kept.language = text[i].lang != nullptr ? text[i].lang : "";
        kept.translatedKey = text[i].lang_key != nullptr ? text[i].lang_key : "";
      }
      extras.metadata.texts.push_back(std::move(kept));
    }
    CollectMetadata(png, info, extras.metadata);
    png_unknown_chunkp unknowns = nullptr;
    const int unknownCount = png_get_unknown_chunks(png, info, &unknowns);
    for (int i = 0; i < unknownCount; ++i) {
      if (std::memcmp(unknowns[i].name, kSelectionChunk, 4) == 0) {
        extras.hasSelection = true;
        extras.selection.assign(unknowns[i].data, unknowns[i].data + unknowns[i].size);
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Takes the picture's memory once admitted; false when there is none.
bool TakeMemory(const ReadLimits& limits, png_uint_32 width, png_uint_32 height, Picture& picture,
                std::vector<png_bytep>& rows, ErrorState& state) {
  try {
    if (limits.admit) {
      const std::uint64_t pixels = std::uint64_t{width} * height;
      const std::string refusal = limits.admit(pixels, kDecoderFixedBytes + sizeof(png_bytep) * std::uint64_t{height});
      if (!refusal.empty()) {
        std::snprintf(state.message, sizeof state.message, "%s", refusal.c_str());
        state.whole = true;
        return false;
      }
    }
    picture.bgra.resize(std::size_t{4} * width * height);
    rows.resize(height);
    return true;
  } catch (const std::bad_alloc&) {
    std::snprintf(state.message, sizeof state.message, "out of memory while reading it");
    return false;
  }
}

// libpng reports errors by long jump, so this function keeps no object with
// a destructor between the jump target and the calls that may jump; the
// caller owns the buffers.
bool ReadWithLibpng(Source& source, const ReadLimits& limits, Picture& picture, std::vector<png_bytep>& rows,
                    ReadExtras& extras) {
  ErrorState& state = *source.state;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnReadWarning);
  png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    std::snprintf(state.message, sizeof state.message, "out of memory");
    return false;
  }
  if (setjmp(state.jump) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &source, ReadFromSource);
  // The pixel limit, not libpng's default of a million a side, decides.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_chunk_cache_max(png, kMaxKeptChunks);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kSelectionChunk, 1);
  png_read_info(png, info);

  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info);
  const int colourType = png_get_color_type(png, info);
  extras.reduced16 = depth == 16;
  picture.hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (depth == 16) png_set_strip_16(png);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != std::size_t{4} * width) png_error(png, "unsupported pixel layout");

  if (!TakeMemory(limits, width, height, picture, rows, state)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  picture.width = static_cast<std::int32_t>(width);
  picture.height = static_cast<std::int32_t>(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = picture.bgra.data() + std::size_t{4} * width * y;
  png_read_image(png, rows.data());
  png_read_end(png, info);
  const bool collected = CollectExtras(png, info, extras);
  png_destroy_read_struct(&png, &info, nullptr);
  if (!collected) std::snprintf(state.message, sizeof state.message, "out of memory while reading it");
  return collected;
}

struct ZlibSettings {
  int level;
  int strategy;
  int filters;
};
// Measured on a 7680x5120 photograph and a 1920x1080 screenshot converted to
// YCbCr: photographs encode about three times faster, and smaller, with
// run-length matching and the Sub filter at level 1 than with libpng's
// defaults (level 6, adaptive filters), while screenshots come out twice as
// large that way; so the default measures the picture first.
constexpr ZlibSettings kFastSettings{1, Z_RLE, PNG_FILTER_SUB};
constexpr ZlibSettings kThoroughSettings{Z_DEFAULT_COMPRESSION, Z_FILTERED, PNG_ALL_FILTERS};
constexpr ZlibSettings kBestSettings{Z_BEST_COMPRESSION, Z_FILTERED, PNG_ALL_FILTERS};
// The default takes the thorough setting only where it makes the sample at
// least this much smaller (in percent).
constexpr int kThoroughSavingPercent = 10;
// The sample: this many bands of consecutive rows, spread over the picture.
constexpr std::int32_t kSampleBands = 16;
constexpr std::int32_t kRowsPerBand = 4;

int Paeth(int left, int up, int upLeft) {
  const int estimate = left + up - upLeft;
  const int toLeft = std::abs(estimate - left);
  const int toUp = std::abs(estimate - up);
  const int toUpLeft = std::abs(estimate - upLeft);
  if (toLeft <= toUp && toLeft <= toUpLeft) return left;
  return toUp <= toUpLeft ? up : upLeft;
}

// One row filtered as PNG does (type byte first): Sub, or with `adaptive`
// the filter of the five whose output has the smallest sum of magnitudes
// (libpng's choice). `previous` is the row above, or null.
void FilterRow(const std::vector<std::uint8_t>& row, const std::vector<std::uint8_t>* previous, int step, bool adaptive,
               std::vector<std::uint8_t>& out) {
  const std::size_t n = row.size();
  const auto stepBytes = static_cast<std::size_t>(step);
  if (!adaptive) {
    const std::size_t at = out.size();
    out.resize(at + n + 1);
    out[at] = 1;
    for (std::size_t i = 0; i < n; ++i) {
      out[at + 1 + i] = static_cast<std::uint8_t>(row[i] - (i >= stepBytes ? row[i - stepBytes] : 0));
    }
    return;
  }
  std::vector<std::uint8_t> best;
  std::uint64_t bestCost = UINT64_MAX;
  std::vector<std::uint8_t> candidate(n + 1);
  for (int type = 0; type <= 4; ++type) {
    candidate[0] = static_cast<std::uint8_t>(type);
    std::uint64_t cost = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const int left = i >= stepBytes ? row[i - stepBytes] : 0;
      const int up = previous != nullptr ? (*previous)[i] : 0;
      const int upLeft = previous != nullptr && i >= stepBytes ? (*previous)[i - stepBytes] : 0;
      int predicted = 0;
      if (type == 1) predicted = left;
      if (type == 2) predicted = up;
      if (type == 3) predicted = (left + up) / 2;
      if (type == 4) predicted = Paeth(left, up, upLeft);
      const auto value = static_cast<std::uint8_t>(row[i] - predicted);
      candidate[i + 1] = value;
      cost += value < 128 ? value : 256 - value;
    }
    if (cost < bestCost) {
      bestCost = cost;
      best.swap(candidate);
      candidate.resize(n + 1);
    }
  }
  out.insert(out.end(), best.begin(), best.end());
}

std::uint64_t DeflatedSize(const std::vector<std::uint8_t>& data, const ZlibSettings& settings) {
  z_stream stream{};
  if (deflateInit2(&stream, settings.level, Z_DEFLATED, 15, 8, settings.strategy) != Z_OK) return UINT64_MAX;
  std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(data.size())));
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  const std::uint64_t size = status == Z_STREAM_END ? stream.total_out : UINT64_MAX;
  deflateEnd(&stream);
  return size;
}

// Bytes a pixel takes in the file: grey, RGB, or RGBA.
int FileStep(int bytesPerPixel, bool keepAlpha) { return bytesPerPixel == 1 ? 1 : (keepAlpha ? 4 : 3); }

// Row `y` of the picture as the file holds it (R, G, B and A when kept).
void FileRow(std::int32_t width, const std::uint8_t* pixels, int bytesPerPixel, int fileStep, std::int32_t y,
             std::vector<std::uint8_t>& row) {
  const auto pixelsPerRow = static_cast<std::size_t>(width);
  row.resize(pixelsPerRow * static_cast<std::size_t>(fileStep));
  const std::uint8_t* source =
      pixels + static_cast<std::size_t>(y) * pixelsPerRow * static_cast<std::size_t>(bytesPerPixel);
  for (std::size_t x = 0; x < pixelsPerRow; ++x) {
    const std::uint8_t* pixel = source + x * static_cast<std::size_t>(bytesPerPixel);
    std::uint8_t* to = row.data() + x * static_cast<std::size_t>(fileStep);
    if (fileStep == 1) {
      to[0] = pixel[0];
    } else {
      to[0] = pixel[2];
      to[1] = pixel[1];
      to[2] = pixel[0];
      if (fileStep == 4) to[3] = pixel[3];
    }
  }
}

// The default's rule: a sample of rows, filtered and compressed both ways;
// the thorough setting only where it saves kThoroughSavingPercent.
ZlibSettings MeasuredSettings(std::int32_t width, std::int32_t height, const std::uint8_t* pixels, int bytesPerPixel,
                              bool keepAlpha) {
  const int fileStep = FileStep(bytesPerPixel, keepAlpha);
  std::vector<std::uint8_t> fast;
  std::vector<std::uint8_t> thorough;
  std::vector<std::uint8_t> previous;
  std::vector<std::uint8_t> row;
  const std::int32_t bands = std::min(kSampleBands, std::max(1, height / kRowsPerBand));
  for (std::int32_t band = 0; band < bands; ++band) {
    const std::int32_t first = std::max<std::int32_t>(
        0, static_cast<std::int32_t>(static_cast<std::int64_t>(height - kRowsPerBand) * band / std::max(1, bands - 1)));
    for (std::int32_t y = first; y < std::min(height, first + kRowsPerBand); ++y) {
      FileRow(width, pixels, bytesPerPixel, fileStep, y, row);
      const bool continues = y > first;
      FilterRow(row, continues ? &previous : nullptr, fileStep, false, fast);
      FilterRow(row, continues ? &previous : nullptr, fileStep, true, thorough);
      previous = row;
    }
  }
  const std::uint64_t fastSize = DeflatedSize(fast, kFastSettings);
  const std::uint64_t thoroughSize = DeflatedSize(thorough, kThoroughSettings);
  return thoroughSize * 100 <= fastSize * (100 - kThoroughSavingPercent) ? kThoroughSettings : kFastSettings;
}

ZlibSettings SettingsFor(Compression compression, std::int32_t width, std::int32_t height, const std::uint8_t* pixels,
                         int bytesPerPixel, bool keepAlpha) {
  switch (compression) {
    case Compression::kFast:
      return kFastSettings;
    case Compression::kBest:
      return kBestSettings;
    default:
      return MeasuredSettings(width, height, pixels, bytesPerPixel, keepAlpha);
  }
}

struct WriteJob {
  std::int32_t width;
  std::int32_t height;
  const std::uint8_t* pixels;
  int bytesPerPixel;  // 1 (grey) or 4 (BGRA)
  bool keepAlpha;
  Compression compression;
  std::string modelText;
  std::vector<std::uint8_t> selection;  // packed, or empty
  const Metadata* metadata = nullptr;
  int threads = 1;
};

// Pictures smaller than this are compressed in one piece.
constexpr std::uint64_t kMinSlicedBytes = std::uint64_t{4} << 20;
constexpr std::size_t kIdatChunkBytes = std::size_t{1} << 20;

// Feeds `size` bytes to the deflater with `flush`, appending what comes out.
bool Deflate(z_stream& stream, const std::uint8_t* data, std::size_t size, int flush, std::vector<std::uint8_t>& out) {
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  do {
    const std::size_t had = out.size();
    out.resize(had + (std::size_t{1} << 16));
    stream.next_out = out.data() + had;
    stream.avail_out = static_cast<uInt>(out.size() - had);
    const int status = deflate(&stream, flush);
    out.resize(out.size() - stream.avail_out);
    if (status == Z_STREAM_ERROR) return false;
  } while (stream.avail_out == 0 || stream.avail_in > 0);
  return true;
}

// One slice of rows: a raw deflate stream ended by a sync flush (the last
// one finished), and the Adler-32 and length of the filtered bytes.
struct Slice {
  std::int32_t first = 0;
  std::int32_t end = 0;
  std::vector<std::uint8_t> deflated;
  uLong adler = 0;
  uLong length = 0;
  bool ok = false;
};

void CompressSlice(const WriteJob& job, const ZlibSettings& settings, bool last, Slice& slice) noexcept {
  try {
    z_stream stream{};
    if (deflateInit2(&stream, settings.level, Z_DEFLATED, -15, 8, settings.strategy) != Z_OK) return;
    const int fileStep = FileStep(job.bytesPerPixel, job.keepAlpha);
    const bool adaptive = settings.filters != PNG_FILTER_SUB;
    std::vector<std::uint8_t> row;
    std::vector<std::uint8_t> previous;
    std::vector<std::uint8_t> filtered;
    if (slice.first > 0) FileRow(job.width, job.pixels, job.bytesPerPixel, fileStep, slice.first - 1, previous);
    slice.adler = adler32(0, nullptr, 0);
    bool ok = true;
    for (std::int32_t y = slice.first; y < slice.end && ok; ++y) {
      FileRow(job.width, job.pixels, job.bytesPerPixel, fileStep, y, row);
      filtered.clear();
      FilterRow(row, y > 0 ? &previous : nullptr, fileStep, adaptive, filtered);
      slice.adler = adler32(slice.adler, filtered.data(), static_cast<uInt>(filtered.size()));
      slice.length += static_cast<uLong>(filtered.size());
      ok = Deflate(stream, filtered.data(), filtered.size(), Z_NO_FLUSH, slice.deflated);
      previous.swap(row);
    }
    ok = ok && Deflate(stream, nullptr, 0, last ? Z_FINISH : Z_SYNC_FLUSH, slice.deflated);
    deflateEnd(&stream);
    slice.ok = ok;
  } catch (const std::bad_alloc&) {
    slice.ok = false;
  }
}

// The picture's zlib stream, compressed in `slices` pieces at once (as
// parallel gzip tools do): a zlib header, the slices, the combined Adler-32.
bool CompressSliced(const WriteJob& job, const ZlibSettings& settings, int slices, std::vector<std::uint8_t>& out) {
  std::vector<Slice> parts(static_cast<std::size_t>(slices));
  for (int k = 0; k < slices; ++k) {
    parts[static_cast<std::size_t>(k)].first =
        static_cast<std::int32_t>(static_cast<std::int64_t>(job.height) * k / slices);
    parts[static_cast<std::size_t>(k)].end =
        static_cast<std::int32_t>(static_cast<std::int64_t>(job.height) * (k + 1) / slices);
  }
  std::vector<std::thread> threads;
  try {
    for (std::size_t k = 1; k < parts.size(); ++k) {
      threads.emplace_back(CompressSlice, std::cref(job), std::cref(settings), k + 1 == parts.size(),
                           std::ref(parts[k]));
    }
  } catch (const std::system_error&) {
    // Fewer threads than asked: the slices left over are done here.
  }
  CompressSlice(job, settings, parts.size() == 1, parts[0]);
  for (std::size_t k = threads.size() + 1; k < parts.size(); ++k) {
    CompressSlice(job, settings, k + 1 == parts.size(), parts[k]);
  }
  for (std::thread& thread : threads) thread.join();
  const int level = settings.level == Z_DEFAULT_COMPRESSION ? 6 : settings.level;
  const std::uint8_t flags = level <= 1 ? 0x01 : level <= 5 ? 0x5E : level == 6 ? 0x9C : 0xDA;
  out = {0x78, flags};
  uLong adler = adler32(0, nullptr, 0);
  for (const Slice& part : parts) {
    if (!part.ok) return false;
    out.insert(out.end(), part.deflated.begin(), part.deflated.end());
    adler = adler32_combine(adler, part.adler, static_cast<z_off_t>(part.length));
  }
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(adler >> shift));
  return true;
}

// Sets the picture's metadata for writing; `texts` holds what libpng
// points at until the end.
void SetMetadata(png_structp png, png_infop info, const Metadata& metadata, std::vector<png_text>& texts) {
  if (!metadata.icc.empty()) {
    png_set_iCCP(png, info, metadata.iccName.c_str(), PNG_COMPRESSION_TYPE_BASE, metadata.icc.data(),
                 static_cast<png_uint_32>(metadata.icc.size()));
  } else if (metadata.srgbIntent) {
    png_set_sRGB(png, info, *metadata.srgbIntent);
  }
  if (metadata.gamma) png_set_gAMA_fixed(png, info, *metadata.gamma);
  if (metadata.chromaticities) {
    const std::vector<std::int32_t>& c = *metadata.chromaticities;
    png_set_cHRM_fixed(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  }
  if (metadata.density) png_set_pHYs(png, info, metadata.density->x, metadata.density->y, metadata.density->unit);
  if (!metadata.exif.empty()) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(metadata.exif.size()),
                   const_cast<png_bytep>(metadata.exif.data()));
  }
  for (const Metadata::Text& kept : metadata.texts) {
    png_text text{};
    text.compression = kept.compression;
    text.key = const_cast<char*>(kept.key.c_str());
    text.text = const_cast<char*>(kept.text.c_str());
    if (kept.compression > 0) {
      text.itxt_length = kept.text.size();
      text.lang = const_cast<char*>(kept.language.c_str());
      text.lang_key = const_cast<char*>(kept.translatedKey.c_str());
    } else {
      text.text_length = kept.text.size();
    }
    texts.push_back(text);
  }
  if (!texts.empty()) png_set_text(png, info, texts.data(), static_cast<int>(texts.size()));
}

bool WriteWithLibpng(std::FILE* file, const WriteJob& job, const ZlibSettings& settings,
                     const std::vector<std::uint8_t>& idat, std::vector<png_bytep>& rows, std::vector<png_text>& texts,
                     ErrorState& state) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, IgnorePngWarning);
  png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::snprintf(state.message, sizeof state.message, "out of memory");
    return false;
  }
  if (setjmp(state.jump) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  // A profile or value libpng finds inconsistent is left out, not fatal.
  png_set_benign_errors(png, 1);
  const bool grey = job.bytesPerPixel == 1;
  const int colourType = grey ? PNG_COLOR_TYPE_GRAY : (job.keepAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(job.width), static_cast<png_uint_32>(job.height), 8, colourType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, settings.level);
  png_set_compression_strategy(png, settings.strategy);
  png_set_filter(png, 0, settings.filters);
  png_text text{};
  if (!job.modelText.empty()) {
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>(kModelKey);
    text.text = const_cast<char*>(job.modelText.c_str());
    png_set_text(png, info, &text, 1);
  }
  if (job.metadata != nullptr) SetMetadata(png, info, *job.metadata, texts);
  png_unknown_chunk chunk{};
  if (!job.selection.empty()) {
    std::memcpy(chunk.name, kSelectionChunk, sizeof chunk.name);
    chunk.data = const_cast<png_bytep>(job.selection.data());
    chunk.size = job.selection.size();
    chunk.location = PNG_HAVE_IHDR;
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kSelectionChunk, 1);
    png_set_unknown_chunks(png, info, &chunk, 1);
  }
  png_write_info(png, info);
  if (!idat.empty()) {
    // The pixel data compressed already: written as it is, then the end.
    for (std::size_t at = 0; at < idat.size(); at += kIdatChunkBytes) {
      png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), idat.data() + at,
                      std::min(kIdatChunkBytes, idat.size() - at));
    }
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    png_write_flush(png);
    png_destroy_write_struct(&png, &info);
    return true;
  }
  if (!grey) {
    png_set_bgr(png);
    if (!job.keepAlpha) png_set_filler(png, 0, PNG_FILLER_AFTER);  // drops the fourth byte
  }
  const std::size_t rowBytes = static_cast<std::size_t>(job.width) * static_cast<std::size_t>(job.bytesPerPixel);
  for (std::int32_t y = 0; y < job.height; ++y) {
    rows[static_cast<std::size_t>(y)] = const_cast<std::uint8_t*>(job.pixels) + rowBytes * static_cast<std::size_t>(y);
  }
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

std::string Write(std::FILE* stream, const WriteJob& job) {
  std::vector<png_bytep> rows(static_cast<std::size_t>(job.height));
  std::vector<png_text> texts;
  if (job.metadata != nullptr) texts.reserve(job.metadata->texts.size());
  const ZlibSettings settings =
      SettingsFor(job.compression, job.width, job.height, job.pixels, job.bytesPerPixel, job.keepAlpha);
  std::vector<std::uint8_t> idat;
  const std::uint64_t bytes = std::uint64_t{static_cast<std::uint32_t>(job.width)} *
                              static_cast<std::uint32_t>(job.height) *
                              static_cast<std::uint32_t>(FileStep(job.bytesPerPixel, job.keepAlpha));
  const int slices = std::min(job.threads, job.height / 16);
  if (slices > 1 && bytes >= kMinSlicedBytes && !CompressSliced(job, settings, slices, idat)) {
    return "out of memory while compressing";
  }
  ErrorState state{};
  if (!WriteWithLibpng(stream, job, settings, idat, rows, texts, state)) return state.message;
  return {};
}

}  // namespace

ReadResult ReadPng(InputFile& input, const ReadLimits& limits, Picture& picture) {
  ReadResult result;
  const std::string& path = input.Path();
  std::vector<png_bytep> rows;
  ReadExtras extras;
  ErrorState state{};
  ChunkWatch watch(path, limits.maxPixels);
  Source source{&input, &watch, &state};
  if (!ReadWithLibpng(source, limits, picture, rows, extras)) {
    picture = Picture{};
    result.error = state.whole ? std::string(state.message) : path + ": " + state.message;
    return result;
  }
  if (!extras.modelText.empty() && !ParseModelText(extras.modelText, picture.record)) {
    result.error = path + " records an unknown colour model '" + Printable(extras.modelText, 64) + "'";
    return result;
  }
  if (picture.record.Mixed() && extras.hasSelection) {
    std::string why;
    picture.record.selection =
        UnpackSelection(extras.selection.data(), extras.selection.size(), picture.width, picture.height, why);
    if (picture.record.selection.empty()) {
      result.error = path + " is recorded as mixed, but its selection " + why;
      return result;
    }
  }
  picture.metadata = std::move(extras.metadata);
  if (extras.reduced16) result.note = path + ": 16-bit samples reduced to 8 bits";
  result.ok = true;
  return result;
}

std::string WritePng(std::FILE* stream, const Picture& picture, Compression compression, int threads) {
  WriteJob job{picture.width,    picture.height, picture.bgra.data(),       4,
               picture.hasAlpha, compression,    ModelText(picture.record), {}};
  if (picture.record.Mixed()) job.selection = PackSelection(picture.record.selection, picture.width, picture.height);
  job.metadata = &picture.metadata;
  job.threads = threads;
  return Write(stream, job);
}

std::string WriteGreyPng(std::FILE* stream, const GreyPicture& picture, Compression compression) {
  return Write(stream, {picture.width, picture.height, picture.grey.data(), 1, false, compression, {}, {}});
}

}  // namespace cstool
