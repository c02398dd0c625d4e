// PNG through libpng. (libspng was measured too: it decoded and encoded the
// same 7680x5120 photo no faster, so one library stays.)
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "ImageFile.h"

namespace cstool {
namespace {

constexpr const char* kModelKey = "ColorModel";
// The selection of a masked conversion's output: ancillary, private, and
// unsafe to copy (an editor that changes the pixels must drop it).
constexpr png_byte kSelectionChunk[5] = {'c', 's', 'M', 'K', '\0'};

struct ErrorState {
  std::jmp_buf jump;
  char message[320];
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<ErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  std::longjmp(state->jump, 1);
}

void OnPngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// What the reader found besides the pixels.
struct ReadExtras {
  bool reduced16 = false;
  std::string modelText;
  std::vector<std::uint8_t> selection;  // the packed chunk, if present
};

void CollectExtras(png_structp png, png_infop info, ReadExtras& extras) {
  png_textp text = nullptr;
  int count = 0;
  png_get_text(png, info, &text, &count);
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(text[i].key, kModelKey) == 0) extras.modelText = text[i].text;
  }
  png_unknown_chunkp unknowns = nullptr;
  const int unknownCount = png_get_unknown_chunks(png, info, &unknowns);
  for (int i = 0; i < unknownCount; ++i) {
    if (std::memcmp(unknowns[i].name, kSelectionChunk, 4) == 0) {
      extras.selection.assign(unknowns[i].data, unknowns[i].data + unknowns[i].size);
    }
  }
}

// libpng reports errors by long jump, so this function keeps no object with
// a destructor between the jump target and the calls that may jump; the
// caller owns the buffers.
bool ReadWithLibpng(std::FILE* file, Picture& picture, std::vector<png_bytep>& rows, ReadExtras& extras,
                    ErrorState& state) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
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
  png_init_io(png, file);
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

  picture.width = static_cast<std::int32_t>(width);
  picture.height = static_cast<std::int32_t>(height);
  picture.bgra.resize(std::size_t{4} * width * height);
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = picture.bgra.data() + std::size_t{4} * width * y;
  png_read_image(png, rows.data());
  png_read_end(png, info);
  CollectExtras(png, info, extras);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// How much of a sample of rows repeats its left neighbour exactly: high for
// screenshots and drawings, low for photographs.
double RepeatedPixelShare(std::int32_t width, std::int32_t height, const std::uint8_t* pixels, int bytesPerPixel) {
  const std::int32_t step = height > 64 ? height / 64 : 1;
  std::uint64_t repeats = 0;
  std::uint64_t total = 0;
  for (std::int32_t y = 0; y < height; y += step) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) *
                                           static_cast<std::size_t>(bytesPerPixel);
    for (std::int32_t x = 1; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(x) * static_cast<std::size_t>(bytesPerPixel);
      repeats += std::memcmp(row + at, row + at - static_cast<std::size_t>(bytesPerPixel),
                             static_cast<std::size_t>(bytesPerPixel)) == 0
                     ? 1
                     : 0;
      ++total;
    }
  }
  return total == 0 ? 1.0 : static_cast<double>(repeats) / static_cast<double>(total);
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
// large that way; so the default looks at the picture first.
constexpr ZlibSettings kFastSettings{1, Z_RLE, PNG_FILTER_SUB};
constexpr ZlibSettings kDrawingSettings{Z_DEFAULT_COMPRESSION, Z_FILTERED, PNG_ALL_FILTERS};
constexpr ZlibSettings kBestSettings{Z_BEST_COMPRESSION, Z_FILTERED, PNG_ALL_FILTERS};
constexpr double kDrawingRepeatShare = 0.3;

ZlibSettings SettingsFor(Compression compression, std::int32_t width, std::int32_t height, const std::uint8_t* pixels,
                         int bytesPerPixel) {
  switch (compression) {
    case Compression::kFast:
      return kFastSettings;
    case Compression::kBest:
      return kBestSettings;
    default:
      return RepeatedPixelShare(width, height, pixels, bytesPerPixel) < kDrawingRepeatShare ? kFastSettings
                                                                                            : kDrawingSettings;
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
};

bool WriteWithLibpng(std::FILE* file, const WriteJob& job, std::vector<png_bytep>& rows, ErrorState& state) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
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
  const bool grey = job.bytesPerPixel == 1;
  const int colourType = grey ? PNG_COLOR_TYPE_GRAY : (job.keepAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(job.width), static_cast<png_uint_32>(job.height), 8, colourType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  const ZlibSettings settings = SettingsFor(job.compression, job.width, job.height, job.pixels, job.bytesPerPixel);
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
  ErrorState state{};
  if (!WriteWithLibpng(stream, job, rows, state)) return state.message;
  return {};
}

// The size from the header chunk, which the signature check has shown to
// come first: a picture too large is refused before libpng reads further.
bool SizeFromHeader(std::FILE* file, std::uint64_t& width, std::uint64_t& height) {
  unsigned char start[24] = {};
  const bool read = std::fread(start, 1, sizeof start, file) == sizeof start;
  std::rewind(file);
  if (!read || std::memcmp(start + 12, "IHDR", 4) != 0) return false;
  auto bigEndian = [](const unsigned char* p) {
    return (std::uint64_t{p[0]} << 24) | (std::uint64_t{p[1]} << 16) | (std::uint64_t{p[2]} << 8) | p[3];
  };
  width = bigEndian(start + 16);
  height = bigEndian(start + 20);
  return true;
}

}  // namespace

ReadResult ReadPng(std::FILE* file, const std::string& path, std::uint64_t maxPixels, Picture& picture) {
  ReadResult result;
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  if (SizeFromHeader(file, width, height) && width * height > maxPixels) {
    result.error = path + ": " + std::to_string(width) + "x" + std::to_string(height) + " is " +
                   std::to_string(width * height) + " pixels, above the limit of " + std::to_string(maxPixels) +
                   " (--max-pixels)";
    return result;
  }
  std::vector<png_bytep> rows;
  ReadExtras extras;
  ErrorState state{};
  if (!ReadWithLibpng(file, picture, rows, extras, state)) {
    picture = Picture{};
    result.error = path + ": " + state.message;
    return result;
  }
  if (!extras.modelText.empty() && !ParseModelText(extras.modelText, picture.record)) {
    result.error = path + " records an unknown colour model '" + extras.modelText + "'";
    return result;
  }
  if (picture.record.Mixed()) {
    picture.record.selection =
        UnpackSelection(extras.selection.data(), extras.selection.size(), picture.width, picture.height);
    if (picture.record.selection.empty()) {
      result.error = path + " is recorded as mixed, but its selection is missing or damaged";
      return result;
    }
  }
  if (extras.reduced16) result.note = path + ": 16-bit samples reduced to 8 bits";
  result.ok = true;
  return result;
}

std::string WritePng(std::FILE* stream, const Picture& picture, Compression compression) {
  WriteJob job{picture.width,    picture.height, picture.bgra.data(),       4,
               picture.hasAlpha, compression,    ModelText(picture.record), {}};
  if (picture.record.Mixed()) job.selection = PackSelection(picture.record.selection, picture.width, picture.height);
  return Write(stream, job);
}

std::string WriteGreyPng(std::FILE* stream, const GreyPicture& picture, Compression compression) {
  return Write(stream, {picture.width, picture.height, picture.grey.data(), 1, false, compression, {}, {}});
}

}  // namespace cstool
