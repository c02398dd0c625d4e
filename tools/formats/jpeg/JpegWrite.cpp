// JPEG output through libjpeg: baseline, with Huffman tables optimised for
// the picture where the memory budget holds the coefficients that takes.
// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <cmath>
#include <csetjmp>
#include <string>
#include <vector>

#include "formats/Formats.h"
#include "formats/jpeg/JpegFormat.h"

namespace cstool {
namespace {

struct WriteState {
  jpeg_error_mgr errors{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void OnWriteError(j_common_ptr common) {
  auto* state = static_cast<WriteState*>(common->client_data);
  (*common->err->format_message)(common, state->message);
  std::longjmp(state->jump, 1);
}

struct Source {
  std::int32_t width;
  std::int32_t height;
  const std::uint8_t* pixels;
  int bytesPerPixel;  // 1: grey; 4: B, G, R and a byte left out
  int quality;
  const Metadata* metadata;
  unsigned keep;  // the metadata kinds written
  bool optimise;  // Huffman tables made for the picture
};

// Optimised tables take a second pass over every coefficient of the
// picture, which libjpeg keeps in memory: 128 bytes per 8x8 block of each
// component (all of them full size at 4:4:4; chroma a quarter at 4:2:0).
std::uint64_t OptimisingBytes(std::int32_t width, std::int32_t height, bool grey, bool fullChroma) {
  const std::uint64_t blocks =
      ((static_cast<std::uint64_t>(width) + 15) / 8) * ((static_cast<std::uint64_t>(height) + 15) / 8);
  const std::uint64_t components = grey ? 4 : (fullChroma ? 12 : 6);  // in quarters of the luma blocks
  return blocks * 128 * components / 4;
}

constexpr char kExifHeader[6] = {'E', 'x', 'i', 'f', '\0', '\0'};

// The density in the JFIF marker: PNG's pixels per metre become dots per
// inch (11811 are 300).
void SetDensity(jpeg_compress_struct& encoder, const Metadata::Density& density) {
  const double scale = density.unit == 1 ? 0.0254 : 1.0;
  const long x = std::lround(density.x * scale);
  const long y = std::lround(density.y * scale);
  if (x < 1 || y < 1 || x > 65535 || y > 65535) return;
  encoder.density_unit = density.unit == 1 ? 1 : 0;
  encoder.X_density = static_cast<UINT16>(x);
  encoder.Y_density = static_cast<UINT16>(y);
}

// The ICC profile (in as many segments as it needs) and EXIF, written back
// where kept (KeptMetadata has checked that they fit).
void WriteMarkers(jpeg_compress_struct& encoder, const Metadata& metadata, unsigned keep, std::vector<JOCTET>& exif) {
  if ((keep & kIccProfile) != 0 && !metadata.icc.empty()) {
    jpeg_write_icc_profile(&encoder, metadata.icc.data(), static_cast<unsigned int>(metadata.icc.size()));
  }
  if ((keep & kExif) != 0 && !metadata.exif.empty()) {
    exif.assign(kExifHeader, kExifHeader + sizeof kExifHeader);
    exif.insert(exif.end(), metadata.exif.begin(), metadata.exif.end());
    jpeg_write_marker(&encoder, JPEG_APP0 + 1, exif.data(), static_cast<unsigned int>(exif.size()));
  }
}

// libjpeg reports errors by long jump: no object with a destructor lives
// here (the caller owns `exif`).
bool Encode(std::FILE* stream, const Source& source, std::vector<JOCTET>& exif, WriteState& state) {
  jpeg_compress_struct encoder{};
  encoder.err = jpeg_std_error(&state.errors);
  state.errors.error_exit = OnWriteError;
  encoder.client_data = &state;
  if (setjmp(state.jump) != 0) {
    jpeg_destroy_compress(&encoder);
    return false;
  }
  jpeg_create_compress(&encoder);
  encoder.client_data = &state;
  jpeg_stdio_dest(&encoder, stream);
  encoder.image_width = static_cast<JDIMENSION>(source.width);
  encoder.image_height = static_cast<JDIMENSION>(source.height);
  const bool grey = source.bytesPerPixel == 1;
  encoder.input_components = grey ? 1 : 4;
  encoder.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGRX;
  jpeg_set_defaults(&encoder);
  jpeg_set_quality(&encoder, source.quality, TRUE);
  encoder.optimize_coding = source.optimise ? TRUE : FALSE;
  if (!grey && source.quality >= kFullChromaQuality) {
    for (int c = 0; c < encoder.num_components; ++c) {
      encoder.comp_info[c].h_samp_factor = 1;
      encoder.comp_info[c].v_samp_factor = 1;
    }
  }
  if (source.metadata != nullptr && (source.keep & kDensity) != 0 && source.metadata->density) {
    SetDensity(encoder, *source.metadata->density);
  }
  jpeg_start_compress(&encoder, TRUE);
  if (source.metadata != nullptr) WriteMarkers(encoder, *source.metadata, source.keep, exif);
  const std::size_t rowBytes = static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.bytesPerPixel);
  while (encoder.next_scanline < encoder.image_height) {
    // libjpeg takes rows as writable pointers but only reads them.
    JSAMPROW row = const_cast<std::uint8_t*>(source.pixels) + rowBytes * encoder.next_scanline;
    jpeg_write_scanlines(&encoder, &row, 1);
  }
  jpeg_finish_compress(&encoder);
  jpeg_destroy_compress(&encoder);
  return true;
}

std::string Write(std::FILE* stream, Source source, MemoryBudget::Account* memory) {
  const bool fullChroma = source.quality >= kFullChromaQuality;
  const std::uint64_t optimising = OptimisingBytes(source.width, source.height, source.bytesPerPixel == 1, fullChroma);
  MemoryBudget::Account::Reservation optimisingMemory(memory);
  source.optimise = optimisingMemory.Grow(optimising, false);
  WriteState state;
  std::vector<JOCTET> exif;
  if (!Encode(stream, source, exif, state)) return state.message;
  return std::fflush(stream) == 0 ? std::string() : std::string("write failed");
}

int QualityOf(const WriteSettings& settings) {
  return settings.given.Get<int>("--quality").value_or(kDefaultJpegQuality);
}

}  // namespace

std::string WriteJpeg(std::FILE* stream, const Picture& picture, const WriteContext& context) {
  return Write(stream,
               {picture.width, picture.height, picture.bgra.data(), 4, QualityOf(context.settings), &picture.metadata,
                context.keep, true},
               context.memory);
}

std::string WriteGreyJpeg(std::FILE* stream, const GreyPicture& picture, const WriteContext& context) {
  return Write(stream,
               {picture.width, picture.height, picture.grey.data(), 1, QualityOf(context.settings), nullptr, 0, true},
               context.memory);
}

}  // namespace cstool
