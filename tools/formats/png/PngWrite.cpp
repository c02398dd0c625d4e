// PNG output through libpng: the picture (grey, RGB or RGBA), its colour
// model record and selection, and the metadata the output keeps. libpng's
// memory and the slices of a sliced compression are taken from the job's
// account; a warning from libpng (metadata it will not write) becomes a
// note.
#include <png.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "formats/Formats.h"
#include "formats/png/PngCompression.h"
#include "formats/png/PngFormat.h"

namespace cstool {
namespace {

// The pixel data of a sliced compression goes out in chunks of this size.
constexpr std::size_t kIdatChunkBytes = std::size_t{1} << 20;

// What is written besides the rows: a colour picture's record, selection
// and metadata.
struct WriteJob {
  PixelRows rows;
  std::string modelText;
  std::vector<std::uint8_t> selection;  // packed, or empty
  const Metadata* metadata = nullptr;
  unsigned keep = 0;  // the metadata kinds written
};

struct WriteState {
  PngErrorState error{};
  PngMemory memory;
  NoteList* notes = nullptr;
};

void OnWriteWarning(png_structp png, png_const_charp message) {
  auto* state = static_cast<WriteState*>(static_cast<PngErrorState*>(png_get_error_ptr(png))->owner);
  try {
    state->notes->Add(std::string("libpng left out what it would not write: ") + message);
  } catch (const std::bad_alloc&) {
    // A note lost for want of memory: the picture is unaffected.
  }
}

// Sets the picture's metadata for writing; `texts` holds what libpng
// points at until the end.
void SetMetadata(png_structp png, png_infop info, const Metadata& metadata, unsigned keep,
                 std::vector<png_text>& texts) {
  if ((keep & kIccProfile) != 0 && !metadata.icc.empty()) {
    png_set_iCCP(png, info, metadata.iccName.c_str(), PNG_COMPRESSION_TYPE_BASE, metadata.icc.data(),
                 static_cast<png_uint_32>(metadata.icc.size()));
  } else if ((keep & kSrgb) != 0 && metadata.srgbIntent) {
    png_set_sRGB(png, info, *metadata.srgbIntent);
  }
  if ((keep & kGamma) != 0 && metadata.gamma) png_set_gAMA_fixed(png, info, *metadata.gamma);
  if ((keep & kChromaticities) != 0 && metadata.chromaticities) {
    const std::vector<std::int32_t>& c = *metadata.chromaticities;
    png_set_cHRM_fixed(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  }
  if ((keep & kDensity) != 0 && metadata.density) {
    png_set_pHYs(png, info, metadata.density->x, metadata.density->y, metadata.density->unit);
  }
  if ((keep & kExif) != 0 && !metadata.exif.empty()) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(metadata.exif.size()),
                   const_cast<png_bytep>(metadata.exif.data()));
  }
  if ((keep & kTexts) == 0) return;
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

// libpng reports errors by long jump: no object with a destructor lives
// here (the caller owns `texts` and `parts`).
bool WriteWithLibpng(std::FILE* file, const WriteJob& job, const ZlibSettings& settings,
                     std::vector<std::vector<std::uint8_t>>& parts, std::vector<png_text>& texts, WriteState& state) {
  png_structp png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &state.error, OnPngError, OnWriteWarning,
                                              &state.memory, AllocateForPng, FreeForPng);
  png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::snprintf(state.error.message, sizeof state.error.message, "out of memory");
    return false;
  }
  state.error.ready = true;
  if (setjmp(state.error.jump) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  // A profile or value libpng finds inconsistent is left out with a
  // warning, not fatal.
  png_set_benign_errors(png, 1);
  const bool grey = job.rows.bytesPerPixel == 1;
  const int colourType =
      grey ? PNG_COLOR_TYPE_GRAY : (job.rows.keepAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(job.rows.width), static_cast<png_uint_32>(job.rows.height), 8,
               colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
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
  if (job.metadata != nullptr) SetMetadata(png, info, *job.metadata, job.keep, texts);
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
  if (!parts.empty()) {
    // The pixel data compressed already: written as it is, each slice
    // freed once written, then the end.
    for (std::vector<std::uint8_t>& part : parts) {
      for (std::size_t at = 0; at < part.size(); at += kIdatChunkBytes) {
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), part.data() + at,
                        std::min(kIdatChunkBytes, part.size() - at));
      }
      std::vector<std::uint8_t>().swap(part);
    }
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    png_write_flush(png);
    png_destroy_write_struct(&png, &info);
    return true;
  }
  if (!grey) {
    png_set_bgr(png);
    if (!job.rows.keepAlpha) png_set_filler(png, 0, PNG_FILLER_AFTER);  // drops the fourth byte
  }
  const std::size_t rowBytes =
      static_cast<std::size_t>(job.rows.width) * static_cast<std::size_t>(job.rows.bytesPerPixel);
  // Row by row (nothing is interlaced): no table of rows to hold.
  for (std::int32_t y = 0; y < job.rows.height; ++y) {
    png_write_row(png, job.rows.pixels + rowBytes * static_cast<std::size_t>(y));
  }
  // Everything was written before the pixels; an info here would write the
  // EXIF chunk a second time.
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

// Writes `rows`, and with them what `picture` (none: a grey picture) records.
std::string Write(std::FILE* stream, const PixelRows& rows, const Picture* picture, const WriteContext& context) {
  WriteJob job{rows, {}, {}, nullptr, context.keep};
  if (picture != nullptr) {
    job.modelText = ModelText(picture->record);
    job.metadata = &picture->metadata;
    if (picture->record.Mixed()) job.selection = PackSelection(picture->record.selection, rows.width, rows.height);
  }
  std::vector<png_text> texts;
  if (job.metadata != nullptr && (job.keep & kTexts) != 0) texts.reserve(job.metadata->texts.size());
  const ZlibSettings settings =
      SettingsFor(context.settings.given.Get<Compression>("--compression").value_or(Compression::kDefault), job.rows);
  std::vector<std::vector<std::uint8_t>> parts;
  // Slices only where the budget holds them; otherwise libpng compresses
  // in one piece, in constant memory.
  const int slices = SliceCount(job.rows, context.settings.threads);
  MemoryBudget::Account::Reservation slicesMemory(context.memory);
  if (slices > 1 && slicesMemory.Grow(SlicedBound(job.rows, slices), false) &&
      !CompressSliced(job.rows, settings, slices, parts)) {
    return "out of memory while compressing";
  }
  WriteState state;
  state.error.owner = &state;
  state.memory.account = context.memory;
  state.notes = &context.notes;
  if (!WriteWithLibpng(stream, job, settings, parts, texts, state)) {
    if (state.memory.refused) return context.memory->Refusal();
    return state.error.message;
  }
  return {};
}

}  // namespace

std::string WritePng(std::FILE* stream, const Picture& picture, const WriteContext& context) {
  return Write(stream, {picture.width, picture.height, picture.bgra.data(), 4, picture.hasAlpha}, &picture, context);
}

std::string WriteGreyPng(std::FILE* stream, const GreyPicture& picture, const WriteContext& context) {
  return Write(stream, {picture.width, picture.height, picture.grey.data(), 1, false}, nullptr, context);
}

}  // namespace cstool
