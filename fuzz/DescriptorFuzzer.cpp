// Turns fuzz input into image descriptors (sizes, steps, formats, masks,
// null pointers) over guard-banded buffers, calls every image member and
// LinearInPlace on both paths, and checks what must always hold:
// - the result is what the descriptor rules say;
// - a false result changed no byte of pixels, masks or descriptors;
// - a true result wrote the target code, left byte 3, every unselected pixel
//   and the guard bands unchanged, and on the masked path equals the
//   single-pixel conversion (or the clamped matrix sum).
// Descriptors that would describe memory outside the buffers are the
// caller's fault, so only those the checks reject or that fit are built.
#include <ColorSpace/ColorSpace.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "Conversions.h"
#include "FuzzCheck.h"
#include "TestSupport.h"

namespace {

using testing_support::LinearInPlace;
using testing_support::SameDescriptor;

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t Next(std::uint32_t bytes = 1) {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < bytes; ++i) value = (value << 8) | (position_ < size_ ? data_[position_++] : 0);
    return value;
  }
  std::uint32_t Below(std::uint32_t limit) { return Next(limit > 256 ? 2 : 1) % limit; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

constexpr std::uint8_t kCanary = 0xC5;
constexpr std::size_t kGuard = 32;
constexpr std::int64_t kMaxSpan = 1 << 16;

// Memory for one descriptor: guard, described span, guard.
struct Region {
  std::vector<std::uint8_t> bytes;
  std::size_t firstOffset = 0;  // where the descriptor points
  bool fits = false;            // the described memory lies inside
  std::uint8_t* First() { return bytes.data() + firstOffset; }
};

// Span of `rows` rows of `rowBytes` bytes, `step` apart, and where row 0 is.
Region MakeRegion(std::int64_t rows, std::int64_t rowBytes, std::int64_t step, Input& input) {
  Region region;
  const std::int64_t reach = (rows - 1) * (step < 0 ? -step : step);
  const std::int64_t span = reach + rowBytes;
  region.fits = rows > 0 && rowBytes > 0 && span <= kMaxSpan;
  const std::size_t size = 2 * kGuard + static_cast<std::size_t>(region.fits ? span : 64);
  region.bytes.assign(size, kCanary);
  for (std::size_t i = kGuard; i + kGuard < size; ++i) region.bytes[i] = static_cast<std::uint8_t>(input.Next());
  region.firstOffset = kGuard + static_cast<std::size_t>(region.fits && step < 0 ? reach : 0);
  return region;
}

std::int32_t PickDimension(Input& input, std::int32_t usual) {
  switch (input.Below(16)) {
    case 0:
      return 0;
    case 1:
      return -static_cast<std::int32_t>(input.Below(5)) - 1;
    case 2:
      return std::int32_t{1} << (29 + input.Below(2));
    case 3:
      return std::numeric_limits<std::int32_t>::max();
    default:
      return 1 + static_cast<std::int32_t>(input.Below(static_cast<std::uint32_t>(usual)));
  }
}

std::int32_t PickStep(Input& input, std::int32_t width) {
  const std::int64_t row = 4 * static_cast<std::int64_t>(width);
  std::int64_t step = row;
  switch (input.Below(10)) {
    case 0:
      step = row + input.Below(64);
      break;
    case 1:
      step = -row - input.Below(64);
      break;
    case 2:
      step = row - 1 - input.Below(8);
      break;
    case 3:
      step = 0;
      break;
    case 4:
      step = -static_cast<std::int64_t>(4 * (1 + input.Below(8)));
      break;  // rows overlapping backwards
    case 5:
      step = static_cast<std::int32_t>(input.Next(4));
      break;
    case 6:
      step = -row;
      break;
    default:
      break;
  }
  return static_cast<std::int32_t>(step);
}

std::int32_t PickFormat(Input& input) {
  const std::int32_t formats[] = {FORMAT_RGB, FORMAT_YUV, FORMAT_YCBCR, 0, -1, 4096, 4097, 7};
  const std::uint32_t choice = input.Below(12);
  if (choice < 8) return formats[choice];
  return static_cast<std::int32_t>(input.Next(2)) - 100;
}

// The descriptor rules, written out independently of the library.
bool Usable(const tColorInterfaceImage* image) {
  if (image == nullptr || image->pData == nullptr || image->nWidth <= 0 || image->nHeight <= 0) return false;
  if (static_cast<std::uint64_t>(static_cast<std::uint32_t>(image->nStep)) <
      static_cast<std::uint64_t>(image->nWidth) * 4) {
    return false;
  }
  return image->nFormat > 0 && image->nFormat <= 4096;
}

struct Image {
  tColorInterfaceImage descriptor{};
  Region pixels;
  Region mask;
  bool hasData = false;
  bool rowsDisjoint = false;

  // Points the descriptor at this image's own buffers (after a copy).
  void Attach() {
    descriptor.pData = hasData ? pixels.First() : nullptr;
    descriptor.pMask = mask.bytes.empty() ? nullptr : mask.First();
  }
};

Image MakeImage(Input& input, std::int32_t width, std::int32_t height, bool withMask) {
  Image image;
  image.descriptor.nWidth = width;
  image.descriptor.nHeight = height;
  image.descriptor.nStep = PickStep(input, width);
  image.descriptor.nFormat = PickFormat(input);
  const std::int64_t rowBytes = 4 * static_cast<std::int64_t>(width);
  image.pixels = MakeRegion(height, rowBytes, image.descriptor.nStep, input);
  image.hasData = input.Below(20) != 0;
  image.descriptor.pData = image.hasData ? image.pixels.First() : nullptr;
  // Valid apart from its format or pointer (which the caller may change
  // later) but larger than we allocate: make it a plain image instead.
  tColorInterfaceImage anyFormat = image.descriptor;
  anyFormat.nFormat = FORMAT_RGB;
  anyFormat.pData = image.pixels.First();
  if (Usable(&anyFormat) && !image.pixels.fits) {
    image.descriptor.nStep = static_cast<std::int32_t>(rowBytes);
    image.pixels = MakeRegion(height, rowBytes, rowBytes, input);
    image.hasData = true;
    image.descriptor.pData = image.pixels.First();
    if (!image.pixels.fits) image.descriptor.nWidth = 0;  // far too big: rejected, never touched
  }
  const std::int64_t step = image.descriptor.nStep;
  image.rowsDisjoint = height == 1 || (step < 0 ? -step : step) >= rowBytes;
  if (withMask && input.Below(8) != 0) {
    std::int64_t maskStep = width;
    switch (input.Below(6)) {
      case 0:
        maskStep = width + input.Below(9);
        break;
      case 1:
        maskStep = width - 1;
        break;
      case 2:
        maskStep = -width;
        break;
      default:
        break;
    }
    image.mask = MakeRegion(height, width, maskStep, input);
    const bool usable = maskStep >= width;
    if (usable && !image.mask.fits) {
      maskStep = width;
      image.mask = MakeRegion(height, width, maskStep, input);
    }
    image.descriptor.pMask = image.mask.First();
    image.descriptor.nMaskStep = static_cast<std::int32_t>(maskStep);
    // Bias the mask towards runs of zeros and ones.
    if (image.mask.fits && input.Below(2) == 0) {
      for (std::size_t i = kGuard; i + kGuard < image.mask.bytes.size(); ++i) {
        image.mask.bytes[i] = image.mask.bytes[i] < 128 ? 0 : 1;
      }
    }
  } else {
    image.descriptor.nMaskStep = static_cast<std::int32_t>(input.Next(4));
  }
  return image;
}

enum class Operation { kRGBtoYUV, kYUVtoRGB, kRGBtoYCbCr, kYCbCrtoRGB, kLinear };

// In the order of Operation.
const std::array<testing_support::Conversion, 4> kConversions = testing_support::AllConversions();

std::uint8_t ClampTruncate(double sum) {
  if (!(sum > 0.0)) return 0;
  return sum >= 255.0 ? 255 : static_cast<std::uint8_t>(sum);
}

// Expected bytes 0..2 of one pixel on the masked path.
void ExpectedMasked(Operation operation, const float (&matrix)[3][4], const std::uint8_t* in, std::uint8_t* out) {
  CColorSpace converter;
  if (operation != Operation::kLinear) {
    std::uint32_t pixel = (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0];
    (converter.*kConversions[static_cast<std::size_t>(operation)].packed)(pixel);
    out[0] = static_cast<std::uint8_t>(pixel);
    out[1] = static_cast<std::uint8_t>(pixel >> 8);
    out[2] = static_cast<std::uint8_t>(pixel >> 16);
    return;
  }
  for (int i = 0; i < 3; ++i) {
    const double sum =
        ((double{matrix[i][0]} * in[2] + double{matrix[i][1]} * in[1]) + double{matrix[i][2]} * in[0]) + matrix[i][3];
    out[2 - i] = ClampTruncate(sum);
  }
}

bool WithinOneOfExact(const float (&twist)[3][4], const std::uint8_t* in, const std::uint8_t* out) {
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 4; ++j) {
      if (!std::isfinite(twist[k][j]) || std::fabs(twist[k][j]) > 1e6F) return true;  // no meaningful bound
    }
    const double exact =
        double{twist[k][0]} * in[0] + double{twist[k][1]} * in[1] + double{twist[k][2]} * in[2] + twist[k][3];
    if (std::fabs(out[k] - std::fmin(255.0, std::fmax(0.0, exact))) >= 1.0) return false;
  }
  return true;
}

const std::uint8_t* PixelOf(const tColorInterfaceImage& image, std::int32_t row, std::int32_t column) {
  return image.pData + static_cast<std::ptrdiff_t>(row) * image.nStep + 4 * column;
}

void GuardsIntact(const Region& region) {
  for (std::size_t i = 0; i < kGuard; ++i) {
    FUZZ_CHECK(region.bytes[i] == kCanary);
    FUZZ_CHECK(region.bytes[region.bytes.size() - 1 - i] == kCanary);
  }
}

void RunOne(const Image& sourceTemplate, const Image& destinationTemplate, Operation operation, bool inPlace,
            bool useMask, const float (&matrix)[3][4], const float (&twist)[3][4], bool nullSource) {
  Image source = sourceTemplate;
  Image destination = destinationTemplate;
  source.Attach();
  destination.Attach();
  Image before = source;
  Image destinationBefore = destination;
  before.Attach();
  destinationBefore.Attach();
  const tColorInterfaceImage sourceBefore = source.descriptor;
  const tColorInterfaceImage destinationDescriptorBefore = destination.descriptor;
  tColorInterfaceImage* sourceDescriptor = nullSource ? nullptr : &source.descriptor;

  // What the rules say.
  const bool isLinear = operation == Operation::kLinear;
  const testing_support::Conversion* info = isLinear ? nullptr : &kConversions[static_cast<std::size_t>(operation)];
  bool expected = Usable(sourceDescriptor);
  if (expected && !isLinear) expected = source.descriptor.nFormat == info->from;
  if (expected && !inPlace) {
    expected = Usable(&destination.descriptor) && destination.descriptor.nWidth == source.descriptor.nWidth &&
               destination.descriptor.nHeight == source.descriptor.nHeight;
  }
  if (expected && useMask) {
    expected = source.descriptor.pMask != nullptr && source.descriptor.nMaskStep >= source.descriptor.nWidth;
  }

  CColorSpace converter;
  bool result = false;
  if (isLinear) {
    result = LinearInPlace(converter, sourceDescriptor, matrix, twist, useMask);
  } else if (inPlace) {
    result = (converter.*info->inPlace)(sourceDescriptor, useMask);
  } else {
    result = (converter.*info->twoImages)(sourceDescriptor, &destination.descriptor, useMask);
  }
  FUZZ_CHECK(result == expected);

  GuardsIntact(source.pixels);
  if (!source.mask.bytes.empty()) GuardsIntact(source.mask);
  GuardsIntact(destination.pixels);
  FUZZ_CHECK(source.mask.bytes == before.mask.bytes);
  if (!result) {
    FUZZ_CHECK(source.pixels.bytes == before.pixels.bytes);
    FUZZ_CHECK(destination.pixels.bytes == destinationBefore.pixels.bytes);
    FUZZ_CHECK(SameDescriptor(source.descriptor, sourceBefore));
    FUZZ_CHECK(SameDescriptor(destination.descriptor, destinationDescriptorBefore));
    return;
  }

  const bool writesSource = inPlace || isLinear;
  Image& target = writesSource ? source : destination;
  const Image& targetBefore = writesSource ? before : destinationBefore;
  FUZZ_CHECK(target.descriptor.nFormat == (isLinear ? FORMAT_YUV : info->to));
  if (!writesSource) {
    FUZZ_CHECK(source.pixels.bytes == before.pixels.bytes);
    FUZZ_CHECK(SameDescriptor(source.descriptor, sourceBefore));
  }
  // Pixel values are only meaningful when no two rows share memory.
  if (!source.rowsDisjoint || !target.rowsDisjoint) return;
  const float(&unmaskedTwist)[3][4] = isLinear ? twist : info->decimalTwist;
  for (std::int32_t r = 0; r < source.descriptor.nHeight; ++r) {
    for (std::int32_t c = 0; c < source.descriptor.nWidth; ++c) {
      const std::uint8_t* in = PixelOf(before.descriptor, r, c);
      const std::uint8_t* old = PixelOf(targetBefore.descriptor, r, c);
      const std::uint8_t* out = PixelOf(target.descriptor, r, c);
      FUZZ_CHECK(out[3] == old[3]);
      if (!useMask) {
        FUZZ_CHECK(WithinOneOfExact(unmaskedTwist, in, out));
        continue;
      }
      const std::uint8_t selected =
          source.descriptor.pMask[static_cast<std::ptrdiff_t>(r) * source.descriptor.nMaskStep + c];
      if (selected == 0) {
        FUZZ_CHECK(std::memcmp(out, old, 4) == 0);
      } else {
        std::uint8_t want[3];
        ExpectedMasked(operation, matrix, in, want);
        FUZZ_CHECK(std::memcmp(out, want, 3) == 0);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const std::int32_t width = PickDimension(input, 70);
  const std::int32_t height = PickDimension(input, 6);
  Image source = MakeImage(input, width, height, true);
  std::int32_t destinationWidth = width;
  std::int32_t destinationHeight = height;
  switch (input.Below(8)) {
    case 0:
      destinationWidth = width < std::numeric_limits<std::int32_t>::max() ? width + 1 : 1;
      break;
    case 1:
      destinationHeight -= 1;
      break;
    default:
      break;
  }
  Image destination = MakeImage(input, destinationWidth, destinationHeight, false);
  const bool nullSource = input.Below(32) == 0;

  float matrix[3][4];
  float twist[3][4];
  const std::uint32_t matrixKind = input.Below(4);
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 4; ++j) {
      if (matrixKind == 0) {  // raw bits: anything, NaN and infinities included
        const std::uint32_t bits = input.Next(4);
        std::memcpy(&matrix[k][j], &bits, 4);
      } else {  // moderate values on a coarse grid
        matrix[k][j] = (static_cast<float>(input.Next(2)) - 32768.0F) / (j == 3 ? 64.0F : 8192.0F);
      }
    }
  }
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 3; ++j) twist[k][j] = matrix[2 - k][2 - j];
    twist[k][3] = matrix[2 - k][3];
  }

  for (int operation = 0; operation <= static_cast<int>(Operation::kLinear); ++operation) {
    for (bool useMask : {false, true}) {
      const auto op = static_cast<Operation>(operation);
      // Run the conversions on a source of their own model as well as on
      // whatever format the input chose.
      Image ownFormat = source;
      if (op != Operation::kLinear)
        ownFormat.descriptor.nFormat = kConversions[static_cast<std::size_t>(operation)].from;
      for (const Image* image : {&source, &ownFormat}) {
        RunOne(*image, destination, op, true, useMask, matrix, twist, nullSource);
        if (op != Operation::kLinear) RunOne(*image, destination, op, false, useMask, matrix, twist, nullSource);
      }
    }
  }
  return 0;
}
