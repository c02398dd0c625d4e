#include "formats/jpeg/JpegReader.h"

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

}  // namespace

struct JpegReader::State {
  jpeg_decompress_struct decoder{};
  jpeg_error_mgr errors{};
  jpeg_source_mgr source{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX + 64] = {};
  InputFile* input = nullptr;
  MemoryBudget::Account* memory = nullptr;
  bool refusedByBudget = false;
  int maxScans = 0;
  bool created = false;
  bool headerRead = false;
  bool inHeader = true;
  std::uint64_t bytesRead = 0;
  JOCTET buffer[kBufferBytes] = {};
};

namespace {

JpegReader::State* StateOf(j_common_ptr common) { return static_cast<JpegReader::State*>(common->client_data); }

[[noreturn]] void Refuse(JpegReader::State* state) { std::longjmp(state->jump, 1); }

[[noreturn]] void OnError(j_common_ptr common) {
  JpegReader::State* state = StateOf(common);
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
  JpegReader::State* state = StateOf(common);
  if (state->decoder.input_scan_number > state->maxScans) {
    std::snprintf(state->message, sizeof state->message, "more than %d scans", state->maxScans);
    Refuse(state);
  }
}

void InitSource(j_decompress_ptr /*decoder*/) {}

boolean FillInputBuffer(j_decompress_ptr decoder) {
  JpegReader::State* state = StateOf(reinterpret_cast<j_common_ptr>(decoder));
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

}  // namespace

JpegReader::JpegReader(InputFile& input, int maxScans, MemoryBudget::Account* memory)
    : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.input = &input;
  state.memory = memory;
  state.maxScans = maxScans;
  state.decoder.err = jpeg_std_error(&state.errors);
  state.errors.error_exit = OnError;
  state.errors.emit_message = OnMessage;
  state.source.init_source = InitSource;
  state.source.fill_input_buffer = FillInputBuffer;
  state.source.skip_input_data = SkipInputData;
  state.source.resync_to_restart = jpeg_resync_to_restart;
  state.source.term_source = TermSource;
  state.progress.progress_monitor = OnProgress;
}

JpegReader::~JpegReader() {
  if (state_->created) jpeg_destroy_decompress(&state_->decoder);
}

std::string JpegReader::ReadHeader() {
  State& state = *state_;
  if (setjmp(state.jump) != 0) return state.message;
  state.decoder.client_data = &state;  // kept by jpeg_create_decompress
  jpeg_create_decompress(&state.decoder);
  state.created = true;
  state.decoder.src = &state.source;
  state.decoder.progress = &state.progress;
  // Only what is kept: EXIF (APP1) and the ICC profile (APP2).
  jpeg_save_markers(&state.decoder, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(&state.decoder, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&state.decoder, TRUE);
  state.inHeader = false;
  state.headerRead = true;
  // The decoder asks for its big buffers all at once; beyond this it
  // refuses the file instead of allocating.
  state.decoder.mem->max_memory_to_use = static_cast<long>(DecoderBytes() + kDecoderSlackBytes);
  return {};
}

bool JpegReader::RefusedByBudget() const { return state_->refusedByBudget; }

std::uint32_t JpegReader::Width() const { return state_->decoder.image_width; }
std::uint32_t JpegReader::Height() const { return state_->decoder.image_height; }

bool JpegReader::Cmyk() const {
  return state_->decoder.jpeg_color_space == JCS_CMYK || state_->decoder.jpeg_color_space == JCS_YCCK;
}

std::uint64_t JpegReader::DecoderBytes() const {
  const jpeg_decompress_struct& decoder = state_->decoder;
  std::uint64_t bytes = 0;
  if (jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&decoder)) != 0) {
    for (int c = 0; c < decoder.num_components; ++c) {
      const jpeg_component_info& component = decoder.comp_info[c];
      bytes += RoundUp(component.width_in_blocks, static_cast<std::uint64_t>(component.h_samp_factor)) *
               RoundUp(component.height_in_blocks, static_cast<std::uint64_t>(component.v_samp_factor)) *
               sizeof(JBLOCK);
    }
  }
  return bytes;
}

std::string JpegReader::ReadPixels(std::uint8_t* bgra) {
  State& state = *state_;
  if (setjmp(state.jump) != 0) return state.message;
  state.decoder.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&state.decoder);
  const std::size_t rowBytes = std::size_t{4} * state.decoder.output_width;
  while (state.decoder.output_scanline < state.decoder.output_height) {
    JSAMPROW row = bgra + rowBytes * state.decoder.output_scanline;
    jpeg_read_scanlines(&state.decoder, &row, 1);
  }
  jpeg_finish_decompress(&state.decoder);
  return {};
}

std::vector<std::uint8_t> JpegReader::Exif() const {
  static constexpr char kExifHeader[6] = {'E', 'x', 'i', 'f', '\0', '\0'};
  if (!state_->headerRead) return {};
  for (jpeg_saved_marker_ptr marker = state_->decoder.marker_list; marker != nullptr; marker = marker->next) {
    if (marker->marker == JPEG_APP0 + 1 && marker->data_length > sizeof kExifHeader &&
        std::memcmp(marker->data, kExifHeader, sizeof kExifHeader) == 0) {
      return {marker->data + sizeof kExifHeader, marker->data + marker->data_length};
    }
  }
  return {};
}

std::vector<std::uint8_t> JpegReader::IccProfile(bool& damaged) {
  State& state = *state_;
  damaged = false;
  if (!state.headerRead) return {};
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

bool JpegReader::Density(int& unit, int& x, int& y) const {
  const jpeg_decompress_struct& decoder = state_->decoder;
  if (!state_->headerRead || decoder.saw_JFIF_marker == 0) return false;
  unit = decoder.density_unit;
  x = decoder.X_density;
  y = decoder.Y_density;
  return true;
}

namespace {

// What a JPEG's markers say, as PNG keeps it; a note when part of it was
// dropped.
Metadata JpegMetadata(JpegReader& reader, std::string& note) {
  Metadata metadata;
  bool damaged = false;
  metadata.icc = reader.IccProfile(damaged);
  if (!metadata.icc.empty()) metadata.iccName = "ICC profile";
  if (damaged) note = "its ICC profile is damaged and was dropped";
  metadata.exif = reader.Exif();
  int unit = 0;
  int x = 0;
  int y = 0;
  if (reader.Density(unit, x, y) && x > 0 && y > 0) {
    // PNG counts pixels per metre: 300 dots per inch are 11811.
    if (unit == 1) {
      metadata.density = Metadata::Density{static_cast<std::uint32_t>(std::lround(x / 0.0254)),
                                           static_cast<std::uint32_t>(std::lround(y / 0.0254)), 1};
    } else if (unit == 2) {
      metadata.density = Metadata::Density{static_cast<std::uint32_t>(x) * 100, static_cast<std::uint32_t>(y) * 100, 1};
    } else if (x != y) {
      metadata.density = Metadata::Density{static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0};
    }
  }
  return metadata;
}

// A JPEG as a reader of one frame: the header on opening (so that the size
// and the limits are known before the pixels), the pixels on Next.
class JpegFrame : public OnePictureReader {
 public:
  JpegFrame(InputFile& input, const ReadOptions& options)
      : input_(input), options_(options), reader_(input, kMaxJpegScans, options.memory) {}

  std::string Open() {
    const std::string& path = input_.Path();
    const std::string error = reader_.ReadHeader();
    if (!error.empty())
      return reader_.RefusedByBudget() ? path + " " + error : path + ": unreadable JPEG (" + error + ")";
    if (reader_.Cmyk()) return path + " is a CMYK JPEG; only colour (RGB) and grey JPEG files are read";
    width_ = reader_.Width();
    height_ = reader_.Height();
    return CheckPixelLimit(path, width_, height_, options_.maxPixels);
  }

 private:
  bool ReadPicture(Picture& picture, ReadResult& result) override {
    const std::string& path = input_.Path();
    result.error = AdmitPicture(options_, path, width_, height_, reader_.DecoderBytes());
    if (!result.error.empty()) return false;
    std::string note;
    picture.metadata = JpegMetadata(reader_, note);
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
    const std::string error = reader_.ReadPixels(picture.bgra.data());
    if (!error.empty()) {
      picture = Picture{};
      result.error = path + ": unreadable JPEG (" + error + ")";
      return false;
    }
    return true;
  }

  InputFile& input_;
  ReadOptions options_;
  JpegReader reader_;
};

}  // namespace

std::unique_ptr<FrameReader> OpenJpegReader(InputFile& input, const ReadOptions& options, ReadResult& result) {
  auto frame = std::make_unique<JpegFrame>(input, options);
  result.error = frame->Open();
  if (!result.error.empty()) return nullptr;
  return frame;
}

}  // namespace cstool
