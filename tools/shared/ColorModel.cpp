#include "shared/ColorModel.h"

#include <ColorSpace/ColorSpace.h>
#include <zlib.h>

namespace cstool {
namespace {

constexpr std::uint8_t kSelectionFormat = 2;        // geometry, then bit per pixel, zlib
constexpr std::uint8_t kSelectionFormatNoSize = 1;  // bit per pixel, zlib: written before the geometry was
constexpr std::size_t kSelectionHeaderBytes = 9;
constexpr const char* kMixedPrefix = "mixed: ";

std::size_t RowBytes(std::int32_t width) { return (static_cast<std::size_t>(width) + 7) / 8; }

}  // namespace

std::int32_t FormatCodeOf(Model model) {
  switch (model) {
    case Model::kYUV:
      return FORMAT_YUV;
    case Model::kYCbCr:
      return FORMAT_YCBCR;
    default:
      return FORMAT_RGB;
  }
}

std::string ModelText(const ModelRecord& record) {
  if (!record.model) return {};
  if (!record.Mixed()) return NameOf(*record.model);
  return std::string(kMixedPrefix) + NameOf(*record.model) + " inside the selection, " + NameOf(*record.outside) +
         " outside";
}

bool ParseModelText(const std::string& text, ModelRecord& record) {
  record.model.reset();
  record.outside.reset();
  if (text.rfind(kMixedPrefix, 0) != 0) {
    record.model = ParseModel(text);
    return record.model.has_value();
  }
  const std::string rest = text.substr(std::string(kMixedPrefix).size());
  const std::size_t inside = rest.find(" inside the selection, ");
  const std::size_t outside = rest.rfind(" outside");
  if (inside == std::string::npos || outside == std::string::npos || outside + 8 != rest.size()) return false;
  const std::size_t second = inside + std::string(" inside the selection, ").size();
  record.model = ParseModel(rest.substr(0, inside));
  record.outside = ParseModel(rest.substr(second, outside - second));
  return record.model.has_value() && record.outside.has_value();
}

std::string Describe(const ModelRecord& record) {
  if (!record.model) return "not recorded (taken as rgb)";
  if (!record.Mixed()) return NameOf(*record.model);
  return "mixed: " + std::string(NameOf(*record.model)) + " inside the recorded selection, " + NameOf(*record.outside) +
         " outside it";
}

std::vector<std::uint8_t> PackSelection(const std::vector<std::uint8_t>& selection, std::int32_t width,
                                        std::int32_t height) {
  const auto w = static_cast<std::size_t>(width);
  const std::size_t rowBytes = RowBytes(width);
  std::vector<std::uint8_t> bits(rowBytes * static_cast<std::size_t>(height), 0);
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
    for (std::size_t x = 0; x < w; ++x) {
      if (selection[y * w + x] != 0) bits[y * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80U >> (x % 8));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(bits.size()));
  std::vector<std::uint8_t> packed(kSelectionHeaderBytes + packedSize);
  packed[0] = kSelectionFormat;
  for (std::size_t i = 0; i < 4; ++i) {
    packed[1 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(width) >> (24 - 8 * i));
    packed[5 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(height) >> (24 - 8 * i));
  }
  if (compress2(packed.data() + kSelectionHeaderBytes, &packedSize, bits.data(), static_cast<uLong>(bits.size()),
                Z_BEST_SPEED) != Z_OK) {
    return {};
  }
  packed.resize(kSelectionHeaderBytes + packedSize);
  return packed;
}

std::vector<std::uint8_t> UnpackSelection(const std::uint8_t* data, std::size_t size, std::int32_t width,
                                          std::int32_t height, std::string& why) {
  if (size >= 1 && data[0] == kSelectionFormatNoSize) {
    why =
        "chunk does not say which picture it belongs to (an older colorspace wrote it): give the selection with "
        "--mask, or --forget-selection";
    return {};
  }
  if (size < kSelectionHeaderBytes || data[0] != kSelectionFormat || width <= 0 || height <= 0) {
    why = "chunk is damaged";
    return {};
  }
  auto bigEndian = [](const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
  };
  const std::uint32_t chunkWidth = bigEndian(data + 1);
  const std::uint32_t chunkHeight = bigEndian(data + 5);
  if (chunkWidth != static_cast<std::uint32_t>(width) || chunkHeight != static_cast<std::uint32_t>(height)) {
    why = "chunk belongs to a " + std::to_string(chunkWidth) + "x" + std::to_string(chunkHeight) + " picture, not " +
          std::to_string(width) + "x" + std::to_string(height);
    return {};
  }
  const std::size_t rowBytes = RowBytes(width);
  std::vector<std::uint8_t> bits(rowBytes * static_cast<std::size_t>(height));
  uLongf bitsSize = static_cast<uLongf>(bits.size());
  if (uncompress(bits.data(), &bitsSize, data + kSelectionHeaderBytes,
                 static_cast<uLong>(size - kSelectionHeaderBytes)) != Z_OK ||
      bitsSize != bits.size()) {
    why = "chunk is damaged";
    return {};
  }
  const auto w = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> selection(w * static_cast<std::size_t>(height));
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
    for (std::size_t x = 0; x < w; ++x) {
      selection[y * w + x] = static_cast<std::uint8_t>((bits[y * rowBytes + x / 8] >> (7 - x % 8)) & 1U);
    }
  }
  return selection;
}

}  // namespace cstool
