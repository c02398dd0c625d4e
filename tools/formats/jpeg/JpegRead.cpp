// JPEG input through libjpeg-turbo's libjpeg interface, trusting nothing
// the file says: any decoder warning (a cut file, damaged data) refuses it
// in the decoder's own words, the header is read from the stream before
// anything else (so limits apply before the rest is read), the number of
// scans and the decoder's own memory are bounded, and of the markers before
// the first scan the EXIF (APP1) and ICC profile (APP2) ones are kept.
// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "formats/Formats.h"
#include "formats/jpeg/JpegFormat.h"
#include "shared/InputFile.h"

namespace cstool {
namespace {

constexpr std::size_t kBufferBytes = 1 << 16;
// Markers are kept whole; more than this before the first scan is refused,
// so that the markers' memory stays bounded whatever the file's size.
constexpr std::uint64_t kMaxHeaderBytes = std::uint64_t{64} << 20;
// Room for the decoder's small allocations besides the coefficients.
constexpr std::uint64_t kDecoderSlackBytes = std::uint64_t{16} << 20;

// The decoder and its managers, for their callbacks. libjpeg reports errors
// by long jump: the callbacks write their message here and jump back.
struct Decoder {
  jpeg_decompress_struct decoder{};
  jpeg_error_mgr errors{};
  jpeg_source_mgr source{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX + 64] = {};
  InputFile* input = nullptr;
  // What is read before the first scan, the markers kept among it, is taken
  // from this account as it is read (none: no limit).
  MemoryBudget::Account* memory = nullptr;
  bool refusedByBudget = false;  // the message is then the budget's
  bool created = false;
  bool inHeader = true;
  std::uint64_t bytesRead = 0;
  JOCTET buffer[kBufferBytes] = {};
};

Decoder* DecoderOf(j_common_ptr common) { return static_cast<Decoder*>(common->client_data); }

[[noreturn]] void Refuse(Decoder* state) { std::longjmp(state->jump, 1); }

[[noreturn]] void OnError(j_common_ptr common) {
  Decoder* state = DecoderOf(common);
  (*common->err->format_message)(common, state->message);
  Refuse(state);
}

// Level -1 is a warning: the data is damaged, and what the decoder would
// make of it is a guess, so the file is refused.
void OnMessage(j_common_ptr common, int level) {
  if (level >= 0) return;
  OnError(common);
}

void OnProgress(j_common_ptr common) {
  Decoder* state = DecoderOf(common);
  if (state->decoder.input_scan_number > kMaxJpegScans) {
    std::snprintf(state->message, sizeof state->message, "more than %d scans", kMaxJpegScans);
    Refuse(state);
  }
}

void InitSource(j_decompress_ptr /*decoder*/) {}

boolean FillInputBuffer(j_decompress_ptr decoder) {
  Decoder* state = DecoderOf(reinterpret_cast<j_common_ptr>(decoder));
  std::size_t got = state->input->Read(state->buffer, sizeof state->buffer);
  state->bytesRead += got;
  if (state->inHeader && state->bytesRead > kMaxHeaderBytes) {
    std::snprintf(state->message, sizeof state->message, "more than %llu MiB of markers before the picture",
                  static_cast<unsigned long long>(kMaxHeaderBytes >> 20));
    Refuse(state);
  }
  // What is read of the header is counted: the markers kept are part of it.
  if (state->inHeader && state->memory != nullptr && !state->memory->Grow(got)) {
    state->refusedByBudget = true;
    try {
      std::snprintf(state->message, sizeof state->message, "%s", state->memory->Refusal().c_str());
    } catch (const std::bad_alloc&) {
      std::snprintf(state->message, sizeof state->message, "out of memory");
    }
    Refuse(state);
  }
  if (got == 0) {
    if (state->input->Failed()) {
      std::snprintf(state->message, sizeof state->message, "cannot read it: %s", state->input->Reason().c_str());
      Refuse(state);
    }
    WARNMS(decoder, JWRN_JPEG_EOF);  // refuses: "Premature end of JPEG file"
    // Not reached while warnings refuse; an end of picture, should one
    // ever not, so that the decoder never spins on an empty buffer.
    state->buffer[0] = 0xFF;
    state->buffer[1] = JPEG_EOI;
    got = 2;
  }
  state->source.next_input_byte = state->buffer;
  state->source.bytes_in_buffer = got;
  return TRUE;
}

void SkipInputData(j_decompress_ptr decoder, long count) {
  jpeg_source_mgr& source = *decoder->src;
  while (count > static_cast<long>(source.bytes_in_buffer)) {
    count -= static_cast<long>(source.bytes_in_buffer);
    FillInputBuffer(decoder);
  }
  if (count > 0) {
    source.next_input_byte += count;
    source.bytes_in_buffer -= static_cast<std::size_t>(count);
  }
}

void TermSource(j_decompress_ptr /*decoder*/) {}

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; }

// What the decoder needs besides the pixels: for progressive and other
// multi-scan files, every coefficient of the picture.
std::uint64_t DecoderBytes(jpeg_decompress_struct& decoder) {
  std::uint64_t bytes = 0;
  if (jpeg_has_multiple_scans(&decoder) != 0) {
    for (int c = 0; c < decoder.num_components; ++c) {
      const jpeg_component_info& component = decoder.comp_info[c];
      bytes += RoundUp(component.width_in_blocks, static_cast<std::uint64_t>(component.h_samp_factor)) *
               RoundUp(component.height_in_blocks, static_cast<std::uint64_t>(component.v_samp_factor)) *
               sizeof(JBLOCK);
    }
  }
  return bytes;
}

// The EXIF data: the first APP1 segment that holds it, from its TIFF header
// on.
std::vector<std::uint8_t> Exif(const jpeg_decompress_struct& decoder) {
  static constexpr char kExifHeader[6] = {'E', 'x', 'i', 'f', '\0', '\0'};
  for (jpeg_saved_marker_ptr marker = decoder.marker_list; marker != nullptr; marker = marker->next) {
    if (marker->marker == JPEG_APP0 + 1 && marker->data_length > sizeof kExifHeader &&
        std::memcmp(marker->data, kExifHeader, sizeof kExifHeader) == 0) {
      return {marker->data + sizeof kExifHeader, marker->data + marker->data_length};
    }
  }
  return {};
}

// The ICC profile (APP2, possibly in several segments), or nothing when
// there is none or it is damaged (`damaged` then set).
std::vector<std::uint8_t> IccProfile(Decoder& state, bool& damaged) {
  damaged = false;
  JOCTET* data = nullptr;
  unsigned int length = 0;
  // A damaged profile is a warning, which the error manager turns into a
  // jump; the profile is then dropped and the picture kept.
  if (setjmp(state.jump) != 0) {
    damaged = true;
    return {};
  }
  const bool found = jpeg_read_icc_profile(&state.decoder, &data, &length) != 0;
  std::vector<std::uint8_t> profile;
  if (found && data != nullptr) {
    profile.assign(data, data + length);
  }
  std::free(data);
  return profile;
}

// What a JPEG's markers say, as PNG keeps it; a note when part of it was
// dropped.
Metadata JpegMetadata(Decoder& state, std::string& note) {
  Metadata metadata;
  bool damaged = false;
  metadata.icc = IccProfile(state, damaged);
  if (!metadata.icc.empty()) metadata.iccName = "ICC profile";
  if (damaged) note = "its ICC profile is damaged and was dropped";
  const jpeg_decompress_struct& decoder = state.decoder;
  metadata.exif = Exif(decoder);
  // The JFIF density: unit 0 aspect ratio, 1 dots per inch, 2 per centimetre.
  const int x = decoder.X_density;
  const int y = decoder.Y_density;
  if (decoder.saw_JFIF_marker != 0 && x > 0 && y > 0) {
    // PNG counts pixels per metre: 300 dots per inch are 11811.
    if (decoder.density_unit == 1) {
      metadata.density = Metadata::Density{static_cast<std::uint32_t>(std::lround(x / 0.0254)),
                                           static_cast<std::uint32_t>(std::lround(y / 0.0254)), 1};
    } else if (decoder.density_unit == 2) {
      metadata.density = Metadata::Density{static_cast<std::uint32_t>(x) * 100, static_cast<std::uint32_t>(y) * 100, 1};
    } else if (x != y) {
      metadata.density = Metadata::Density{static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0};
    }
  }
  return metadata;
}

// A JPEG as a reader of one picture: the header on opening (so that the
// size and the limits are known before the pixels), the pixels on Next.
class JpegPicture : public OnePictureReader {
 public:
  JpegPicture(InputFile& input, const ReadOptions& options) : OnePictureReader(input, options) {
    state_.input = &input;
    state_.memory = options.memory;
    state_.decoder.err = jpeg_std_error(&state_.errors);
    state_.errors.error_exit = OnError;
    state_.errors.emit_message = OnMessage;
    state_.source.init_source = InitSource;
    state_.source.fill_input_buffer = FillInputBuffer;
    state_.source.skip_input_data = SkipInputData;
    state_.source.resync_to_restart = jpeg_resync_to_restart;
    state_.source.term_source = TermSource;
    state_.progress.progress_monitor = OnProgress;
  }
  JpegPicture(const JpegPicture&) = delete;
  JpegPicture& operator=(const JpegPicture&) = delete;
  ~JpegPicture() override {
    if (state_.created) jpeg_destroy_decompress(&state_.decoder);
  }

  std::string Open(ReadResult& /*result*/) {
    const std::string& path = input_.Path();
    const std::string error = ReadHeader();
    if (!error.empty()) return state_.refusedByBudget ? path + " " + error : path + ": unreadable JPEG (" + error + ")";
    const J_COLOR_SPACE space = state_.decoder.jpeg_color_space;
    if (space == JCS_CMYK || space == JCS_YCCK) {
      return path + " is a CMYK JPEG; only colour (RGB) and grey JPEG files are read";
    }
    width_ = state_.decoder.image_width;
    height_ = state_.decoder.image_height;
    return CheckPixelLimit(path, width_, height_, options_.maxPixels);
  }

 private:
  // Reads up to the first scan. Returns the reason the file is refused
  // (without its name), or nothing.
  std::string ReadHeader() {
    if (setjmp(state_.jump) != 0) return state_.message;
    state_.decoder.client_data = &state_;  // kept by jpeg_create_decompress
    jpeg_create_decompress(&state_.decoder);
    state_.created = true;
    state_.decoder.src = &state_.source;
    state_.decoder.progress = &state_.progress;
    // Only what is kept: EXIF (APP1) and the ICC profile (APP2).
    jpeg_save_markers(&state_.decoder, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&state_.decoder, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&state_.decoder, TRUE);
    state_.inHeader = false;
    // The decoder asks for its big buffers all at once; beyond this it
    // refuses the file instead of allocating.
    state_.decoder.mem->max_memory_to_use = static_cast<long>(DecoderBytes(state_.decoder) + kDecoderSlackBytes);
    return {};
  }

  // Decodes every pixel into `bgra` (4 * width bytes a row, alpha 255) and
  // reads on to the end of the picture. Returns the reason for a refusal,
  // or nothing.
  std::string ReadPixels(std::uint8_t* bgra) {
    if (setjmp(state_.jump) != 0) return state_.message;
    jpeg_decompress_struct& decoder = state_.decoder;
    decoder.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&decoder);
    const std::size_t rowBytes = std::size_t{4} * decoder.output_width;
    while (decoder.output_scanline < decoder.output_height) {
      JSAMPROW row = bgra + rowBytes * decoder.output_scanline;
      jpeg_read_scanlines(&decoder, &row, 1);
    }
    jpeg_finish_decompress(&decoder);
    return {};
  }

  bool ReadPicture(Picture& picture, ReadResult& result) override {
    const std::string& path = input_.Path();
    result.error = AdmitPicture(options_, path, width_, height_, DecoderBytes(state_.decoder));
    if (!result.error.empty()) return false;
    std::string note;
    picture.metadata = JpegMetadata(state_, note);
    if (!note.empty()) result.notes.push_back(path + ": " + note);
    const std::uint64_t metadataBytes = picture.metadata.icc.size() + picture.metadata.exif.size();
    if (options_.memory != nullptr && !options_.memory->Grow(metadataBytes)) {
      picture = Picture{};
      result.error = path + " " + options_.memory->Refusal();
      return false;
    }
    picture.width = static_cast<std::int32_t>(width_);
    picture.height = static_cast<std::int32_t>(height_);
    picture.hasAlpha = false;
    picture.lossy = true;
    picture.record = ModelRecord{};
    picture.needsModel = false;
    picture.bgra.resize(std::size_t{4} * width_ * height_);
    const std::string error = ReadPixels(picture.bgra.data());
    if (!error.empty()) {
      picture = Picture{};
      result.error = path + ": unreadable JPEG (" + error + ")";
      return false;
    }
    return true;
  }

  Decoder state_;
};

}  // namespace

std::unique_ptr<FrameReader> OpenJpegReader(InputFile& input, const ReadOptions& options, ReadResult& result) {
  return OpenReader<JpegPicture>(input, options, result);
}

}  // namespace cstool
