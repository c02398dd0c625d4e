#include "PngFile.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>

namespace cstool {
namespace {

constexpr const char* kModelKey = "ColorModel";
// Larger pictures than this are refused rather than allocated blindly.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

struct ErrorState {
  std::jmp_buf jump;
  char message[256];
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<ErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  std::longjmp(state->jump, 1);
}

void OnPngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

class File {
 public:
  File(const std::string& path, const char* mode) : file_(std::fopen(path.c_str(), mode)) {}
  ~File() {
    if (file_ != nullptr) std::fclose(file_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return file_; }
  // Closes now, reporting whether everything reached the file.
  bool Close() {
    const bool ok = file_ != nullptr && std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }

 private:
  std::FILE* file_;
};

// libpng reports errors by long jump, so this function keeps no object with
// a destructor between the jump target and the calls that may jump; the
// caller owns the buffers.
bool ReadWithLibpng(std::FILE* file, Picture& picture, std::vector<png_bytep>& rows, ErrorState& state,
                    bool& reduced16) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
  if (png == nullptr) {
    std::snprintf(state.message, sizeof state.message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
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
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);

  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info);
  const int colourType = png_get_color_type(png, info);
  if (std::uint64_t{width} * height > kMaxPixels || width > std::numeric_limits<std::int32_t>::max() / 4) {
    png_error(png, "image too large");
  }
  reduced16 = depth == 16;
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

  png_textp text = nullptr;
  int count = 0;
  png_get_text(png, info, &text, &count);
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(text[i].key, kModelKey) == 0) picture.model = text[i].text;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool WriteWithLibpng(std::FILE* file, std::int32_t width, std::int32_t height, const std::uint8_t* pixels, bool grey,
                     const char* model, std::vector<png_bytep>& rows, ErrorState& state) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
  if (png == nullptr) {
    std::snprintf(state.message, sizeof state.message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
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
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_text text{};
  if (model != nullptr && model[0] != '\0') {
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>(kModelKey);
    text.text = const_cast<char*>(model);
    png_set_text(png, info, &text, 1);
  }
  png_write_info(png, info);
  if (!grey) png_set_bgr(png);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * (grey ? 1 : 4);
  for (std::int32_t y = 0; y < height; ++y) {
    rows[static_cast<std::size_t>(y)] = const_cast<std::uint8_t*>(pixels) + rowBytes * static_cast<std::size_t>(y);
  }
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

std::string TemporaryNameFor(const std::string& path) {
  std::random_device device;
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".tmp-%08x", static_cast<unsigned>(device()));
  return path + suffix;
}

std::string WriteAtomically(const std::string& path, std::int32_t width, std::int32_t height,
                            const std::uint8_t* pixels, bool grey, const std::string& model) {
  const std::string temporary = TemporaryNameFor(path);
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  ErrorState state{};
  {
    File file(temporary, "wb");
    if (file.get() == nullptr) return "cannot create " + temporary + ": " + std::strerror(errno);
    const bool written = WriteWithLibpng(file.get(), width, height, pixels, grey, model.c_str(), rows, state);
    if (!file.Close() || !written) {
      std::remove(temporary.c_str());
      return "cannot write " + path + (written ? std::string(": disk full?") : ": " + std::string(state.message));
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::remove(temporary.c_str());
    return "cannot replace " + path + ": " + error.message();
  }
  return {};
}

}  // namespace

ReadResult ReadPng(const std::string& path, Picture& picture) {
  ReadResult result;
  File file(path, "rb");
  if (file.get() == nullptr) {
    result.error = "cannot open " + path + ": " + std::strerror(errno);
    return result;
  }
  png_byte signature[8] = {};
  if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
      png_sig_cmp(signature, 0, sizeof signature) != 0) {
    result.error = path + " is not a PNG file";
    return result;
  }
  std::vector<png_bytep> rows;
  ErrorState state{};
  bool reduced16 = false;
  if (!ReadWithLibpng(file.get(), picture, rows, state, reduced16)) {
    picture = Picture{};
    result.error = path + ": unreadable PNG (" + state.message + ")";
    return result;
  }
  if (reduced16) result.note = path + ": 16-bit samples reduced to 8 bits";
  result.ok = true;
  return result;
}

std::string WritePng(const std::string& path, const Picture& picture) {
  return WriteAtomically(path, picture.width, picture.height, picture.bgra.data(), false, picture.model);
}

std::string WriteGreyPng(const std::string& path, const GreyPicture& picture) {
  return WriteAtomically(path, picture.width, picture.height, picture.grey.data(), true, "");
}

}  // namespace cstool
