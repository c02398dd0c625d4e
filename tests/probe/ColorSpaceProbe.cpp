// Runs every member of CColorSpace over all 2^24 colours, over images of
// several shapes and over invalid descriptors guarded by canaries, and every
// kernel level over the same colours; prints one line per result. The same
// source is built for every target, and its lines must equal the Linux
// build's (ProbeDigests.txt); lines that start with '#' describe the machine
// and are not compared. It runs on one thread with about 13 MiB of buffers,
// so that it also runs where 32-bit programs are emulated.
#include <ColorSpace/ColorSpace.h>

#include <cstdint>
#include <cstring>

#include "ColorTables.h"
#include "ColorTwist.h"
#include "Conversions.h"
#include "HostPlatform.h"
#include "Members.h"
#include "TwistKernels.h"

namespace {

// FNV-1a over 32-bit words: every step is a bijection of the state, so any
// single changed word changes the result.
class Digest {
 public:
  void AddWord(std::uint32_t word) { state_ = (state_ ^ word) * 0x100000001B3ULL; }
  void AddBytes(const std::uint8_t* bytes, std::size_t count) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
      std::uint32_t word = 0;
      std::memcpy(&word, bytes + i, 4);
      AddWord(word);
    }
    for (; i < count; ++i) AddWord(bytes[i]);
  }
  std::uint64_t Value() const { return state_; }

 private:
  std::uint64_t state_ = 0xCBF29CE484222325ULL;
};

std::uint32_t Scramble(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352DU;
  x ^= x >> 15;
  x *= 0x846CA68BU;
  x ^= x >> 16;
  return x;
}

void PrintDigest(const char* conversion, const char* what, std::uint64_t digest) {
  host::Write(conversion);
  host::Write(" ");
  host::Write(what);
  host::Write(" ");
  host::WriteHex(digest, 16);
  host::Write("\n");
}

void PrintCount(const char* what, std::uint32_t count) {
  host::Write(what);
  host::Write(" ");
  host::WriteDecimal(count);
  host::Write("\n");
}

using testing_support::Conversion;

// Byte 3 of every test pixel varies, so that keeping it is checked too.
std::uint32_t PixelWord(std::uint32_t colour) { return colour | (Scramble(colour) & 0xFF000000U); }

// ---- Single pixels: both forms over every colour -------------------------

std::uint32_t SinglePixels(const Conversion& conversion) {
  CColorSpace converter;
  Digest digest;
  std::uint32_t disagreements = 0;
  for (std::uint32_t colour = 0; colour < (1U << 24); ++colour) {
    std::uint32_t word = PixelWord(colour);
    (converter.*conversion.packed)(word);
    auto a = static_cast<std::uint8_t>(colour >> 16);
    auto b = static_cast<std::uint8_t>(colour >> 8);
    auto c = static_cast<std::uint8_t>(colour);
    (converter.*conversion.components)(a, b, c);
    if (word != ((std::uint32_t{a} << 16) | (std::uint32_t{b} << 8) | c)) ++disagreements;
    digest.AddWord(word);
  }
  PrintDigest(conversion.name, "pixels", digest.Value());
  return disagreements;
}

// ---- Every colour as images, in chunks of 1024 x 1024 --------------------

constexpr std::int32_t kChunkSide = 1024;
constexpr std::uint32_t kChunkPixels = 1U << 20;
constexpr std::uint32_t kChunks = (1U << 24) / kChunkPixels;
constexpr std::uint8_t kUntouched = 0xC3;

enum Variant { kUnmasked, kUnmaskedInPlace, kMasked, kMaskedInPlace, kVariants };
const char* const kVariantNames[kVariants] = {"image", "image-in-place", "image-masked", "image-masked-in-place"};

struct ChunkBuffers {
  std::uint8_t* colours;  // the chunk as laid out, kept to start every variant afresh
  std::uint8_t* source;
  std::uint8_t* destination;
  std::uint8_t* mask;
};

// Lays out chunk `chunk` of every colour and a mask that selects about half
// of it, with varied non-zero selection bytes.
void FillChunk(const ChunkBuffers& buffers, std::uint32_t chunk) {
  for (std::uint32_t i = 0; i < kChunkPixels; ++i) {
    const std::uint32_t colour = (chunk << 20) | i;
    const std::uint32_t word = PixelWord(colour);
    std::memcpy(buffers.colours + std::size_t{4} * i, &word, 4);
    const std::uint32_t scrambled = Scramble(colour ^ 0x5A5A5A5AU);
    buffers.mask[i] = (scrambled & 0x100U) != 0 ? 0 : static_cast<std::uint8_t>(scrambled | 1U);
  }
}

// The destination starts out filled with a marker, which unselected pixels
// keep.
void ResetChunk(const ChunkBuffers& buffers) {
  std::memcpy(buffers.source, buffers.colours, std::size_t{4} * kChunkPixels);
  std::memset(buffers.destination, kUntouched, std::size_t{4} * kChunkPixels);
}

tColorInterfaceImage ChunkImage(std::uint8_t* pixels, std::int32_t format, std::uint8_t* mask) {
  tColorInterfaceImage image{};
  image.pData = pixels;
  image.nWidth = kChunkSide;
  image.nHeight = kChunkSide;
  image.nStep = 4 * kChunkSide;
  image.nFormat = format;
  image.pMask = mask;
  image.nMaskStep = kChunkSide;
  return image;
}

// The pixels a variant leaves behind (the destination for two images, the
// source in place), or null when the call failed.
const std::uint8_t* ConvertChunkThroughLibrary(const Conversion& conversion, Variant variant,
                                               const ChunkBuffers& buffers) {
  CColorSpace converter;
  tColorInterfaceImage source = ChunkImage(buffers.source, conversion.from, buffers.mask);
  tColorInterfaceImage destination = ChunkImage(buffers.destination, 4096, nullptr);
  const bool masked = variant == kMasked || variant == kMaskedInPlace;
  if (variant == kUnmasked || variant == kMasked) {
    const bool succeeded = (converter.*conversion.twoImages)(&source, &destination, masked) &&
                           destination.nFormat == conversion.to && source.nFormat == conversion.from;
    return succeeded ? buffers.destination : nullptr;
  }
  const bool succeeded = (converter.*conversion.inPlace)(&source, masked) && source.nFormat == conversion.to;
  return succeeded ? buffers.source : nullptr;
}

const std::uint8_t* ConvertChunkThroughKernels(const Conversion& conversion, Variant variant,
                                               const ChunkBuffers& buffers) {
  const colortwist::TwistSize size{kChunkSide, kChunkSide};
  const std::int32_t step = 4 * kChunkSide;
  const bool twoImages = variant == kUnmasked || variant == kMasked;
  std::uint8_t* out = twoImages ? buffers.destination : buffers.source;
  const int status =
      variant == kUnmasked || variant == kUnmaskedInPlace
          ? colortwist::ColorTwist(buffers.source, step, out, step, size, *conversion.twist)
          : colortwist::MaskedTwist(buffers.source, step, out, step, buffers.mask, kChunkSide, size, *conversion.exact);
  return status == 0 ? out : nullptr;
}

constexpr int kMaxKernelSets = 8;

struct ColourResults {
  std::uint64_t library[kVariants];
  std::uint32_t failedCalls;
  std::uint32_t levelMismatches;
};

// Every colour through every variant, by the library and by every kernel set
// this processor runs; each chunk is laid out once.
ColourResults EveryColour(const Conversion& conversion, const ChunkBuffers& buffers) {
  Digest library[kVariants];
  Digest levels[kVariants][kMaxKernelSets];
  ColourResults results{};
  for (std::uint32_t chunk = 0; chunk < kChunks; ++chunk) {
    FillChunk(buffers, chunk);
    for (int variant = 0; variant < kVariants; ++variant) {
      const auto which = static_cast<Variant>(variant);
      ResetChunk(buffers);
      const std::uint8_t* result = ConvertChunkThroughLibrary(conversion, which, buffers);
      if (result == nullptr) {
        ++results.failedCalls;
      } else {
        library[variant].AddBytes(result, std::size_t{4} * kChunkPixels);
      }
      for (int level = 0; level < colortwist::KernelSetCount(); ++level) {
        if (!colortwist::RunsHere(colortwist::KernelSets()[level])) continue;
        colortwist::UseKernelSetForTesting(level);
        ResetChunk(buffers);
        result = ConvertChunkThroughKernels(conversion, which, buffers);
        colortwist::ResetKernelSetForTesting();
        if (result == nullptr) {
          ++results.failedCalls;
        } else {
          levels[variant][level].AddBytes(result, std::size_t{4} * kChunkPixels);
        }
      }
    }
  }
  for (int variant = 0; variant < kVariants; ++variant) {
    results.library[variant] = library[variant].Value();
    for (int level = 0; level < colortwist::KernelSetCount(); ++level) {
      if (!colortwist::RunsHere(colortwist::KernelSets()[level])) continue;
      if (levels[variant][level].Value() != results.library[variant]) ++results.levelMismatches;
    }
  }
  return results;
}

// ---- Images of several shapes --------------------------------------------

constexpr std::size_t kGuard = 64;
constexpr std::uint8_t kCanary = 0xA5;

struct Shape {
  std::int32_t width;
  std::int32_t height;
  std::int32_t padding;  // bytes after each row
  bool bottomUp;
};
const Shape kShapes[] = {{1, 1, 0, false},  {7, 3, 4, true},  {8, 2, 0, false},   {9, 5, 12, true},
                         {33, 4, 8, false}, {67, 3, 0, true}, {200, 2, 36, false}};
constexpr std::size_t kShapeBufferBytes = 2 * kGuard + std::size_t{4 * 200 + 36 + 8} * 5;

enum MaskKind { kNoMask, kRandomMask, kAlternatingMask, kEmptyMask, kFullMask, kMaskKinds };

// A guarded buffer that holds one shape; returns the descriptor's first row.
std::uint8_t* LayOut(std::uint8_t* buffer, const Shape& shape, std::int32_t rowBytes, std::uint32_t& seed) {
  std::memset(buffer, kCanary, kShapeBufferBytes);
  std::uint8_t* start = buffer + kGuard;
  for (std::int32_t r = 0; r < shape.height; ++r) {
    for (std::int32_t i = 0; i < 4 * shape.width; ++i) {
      seed = Scramble(seed + 1);
      start[static_cast<std::ptrdiff_t>(r) * rowBytes + i] = static_cast<std::uint8_t>(seed);
    }
  }
  return shape.bottomUp ? start + static_cast<std::ptrdiff_t>(shape.height - 1) * rowBytes : start;
}

std::uint64_t Shapes(const Conversion& conversion, std::uint8_t* source, std::uint8_t* destination,
                     std::uint8_t* mask) {
  CColorSpace converter;
  Digest digest;
  std::uint32_t seed = 7;
  for (const Shape& shape : kShapes) {
    for (int kind = 0; kind < kMaskKinds; ++kind) {
      for (int inPlace = 0; inPlace < 2; ++inPlace) {
        const std::int32_t sourceRow = 4 * shape.width + shape.padding;
        const std::int32_t destinationRow = sourceRow + 8;  // a different step
        tColorInterfaceImage src{};
        src.pData = LayOut(source, shape, sourceRow, seed);
        src.nWidth = shape.width;
        src.nHeight = shape.height;
        src.nStep = shape.bottomUp ? -sourceRow : sourceRow;
        src.nFormat = conversion.from;
        tColorInterfaceImage dst = src;
        dst.pData = LayOut(destination, shape, destinationRow, seed);
        dst.nStep = shape.bottomUp ? -destinationRow : destinationRow;
        dst.nFormat = 1;
        dst.pMask = nullptr;
        const std::int32_t maskStep = shape.width + 3;
        std::memset(mask, kCanary, kShapeBufferBytes);
        for (std::int32_t r = 0; r < shape.height; ++r) {
          for (std::int32_t c = 0; c < shape.width; ++c) {
            seed = Scramble(seed + 1);
            std::uint8_t selected = 0;
            if (kind == kRandomMask) selected = (seed & 1U) != 0 ? static_cast<std::uint8_t>(seed >> 8 | 1U) : 0;
            if (kind == kAlternatingMask) selected = static_cast<std::uint8_t>((c + r) % 2);
            if (kind == kFullMask) selected = 0xFF;
            mask[kGuard + static_cast<std::size_t>(r * maskStep + c)] = selected;
          }
        }
        src.pMask = mask + kGuard;
        src.nMaskStep = maskStep;
        const bool useMask = kind != kNoMask;
        const bool result = inPlace != 0 ? (converter.*conversion.inPlace)(&src, useMask)
                                         : (converter.*conversion.twoImages)(&src, &dst, useMask);
        digest.AddWord(result ? 1U : 0U);
        digest.AddWord(static_cast<std::uint32_t>(src.nFormat));
        digest.AddWord(static_cast<std::uint32_t>(dst.nFormat));
        digest.AddBytes(source, kShapeBufferBytes);
        digest.AddBytes(destination, kShapeBufferBytes);
      }
    }
  }
  return digest.Value();
}

// The private generic transform on one image: identity, a conversion matrix
// and one whose results leave 0..255, both paths.
std::uint64_t Linear(std::uint8_t* pixels, std::uint8_t* mask) {
  CColorSpace converter;
  Digest digest;
  float identity[3][4] = {};
  for (int k = 0; k < 3; ++k) identity[k][k] = 1.0F;
  float stretch[3][4] = {{2.5F, -0.5F, 0.25F, -40.0F}, {0.0F, 1.5F, 0.0F, 10.5F}, {-1.0F, 0.0F, 1.0F, 127.5F}};
  const float(*matrices[][2])[4] = {
      {identity, identity}, {colorspace::kMatrixRGBtoYUV, colorspace::kTwistRGBtoYUV}, {stretch, stretch}};
  std::uint32_t seed = 11;
  const Shape shape{33, 4, 8, true};
  const std::int32_t rowBytes = 4 * shape.width + shape.padding;
  for (const auto& matrix : matrices) {
    for (int useMask = 0; useMask < 2; ++useMask) {
      tColorInterfaceImage image{};
      image.pData = LayOut(pixels, shape, rowBytes, seed);
      image.nWidth = shape.width;
      image.nHeight = shape.height;
      image.nStep = -rowBytes;
      image.nFormat = FORMAT_RGB;
      std::memset(mask, 0, kShapeBufferBytes);
      for (std::size_t i = 0; i < static_cast<std::size_t>(shape.width) * static_cast<std::size_t>(shape.height); ++i) {
        mask[i] = static_cast<std::uint8_t>(i % 3);
      }
      image.pMask = mask;
      image.nMaskStep = shape.width;
      const bool result = testing_support::LinearInPlace(converter, &image, matrix[0], matrix[1], useMask != 0);
      digest.AddWord(result ? 1U : 0U);
      digest.AddWord(static_cast<std::uint32_t>(image.nFormat));
      digest.AddBytes(pixels, kShapeBufferBytes);
    }
  }
  return digest.Value();
}

// ---- Invalid descriptors: false, and nothing written ----------------------

struct Refusals {
  std::uint32_t calls = 0;
  std::uint32_t wrongly = 0;  // returned true, or wrote something
};

bool AllCanary(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] != kCanary) return false;
  }
  return true;
}

constexpr int kBadCases = 17;

// Case `which` spoils the source, the destination or the mask, or the call.
void Spoil(int which, tColorInterfaceImage& src, tColorInterfaceImage& dst, bool& useMask, bool& nullSource,
           std::int32_t wrongFormat) {
  switch (which) {
    case 0:
      nullSource = true;
      break;
    case 1:
      src.pData = nullptr;
      break;
    case 2:
      src.nWidth = 0;
      break;
    case 3:
      src.nWidth = -3;
      break;
    case 4:
      src.nHeight = 0;
      break;
    case 5:
      src.nStep = 4 * src.nWidth - 1;
      break;
    case 6:
      src.nFormat = 0;
      break;
    case 7:
      src.nFormat = 4097;
      break;
    case 8:
      src.nFormat = wrongFormat;
      break;
    case 9:
      useMask = true;
      src.pMask = nullptr;
      break;
    case 10:
      useMask = true;
      src.nMaskStep = src.nWidth - 1;
      break;
    case 11:
      useMask = true;
      src.nMaskStep = -src.nWidth;
      break;
    case 12:
      dst.nHeight = src.nHeight + 1;
      break;
    case 13:
      dst.nWidth = src.nWidth - 1;
      break;
    case 14:
      dst.pData = nullptr;
      break;
    case 15:
      dst.nFormat = -1;
      break;
    default:
      src.nWidth = 1 << 30;
      src.nStep = 0;
      break;  // 4 * width wraps in 32 bits
  }
}

void Refuse(const Conversion& conversion, std::uint8_t* source, std::uint8_t* destination, std::uint8_t* mask,
            Refusals& refusals) {
  CColorSpace converter;
  for (int which = 0; which < kBadCases; ++which) {
    for (int inPlace = 0; inPlace < 2; ++inPlace) {
      if (inPlace != 0 && which >= 12 && which <= 15) continue;  // no destination to spoil
      std::memset(source, kCanary, kShapeBufferBytes);
      std::memset(destination, kCanary, kShapeBufferBytes);
      std::memset(mask, kCanary, kShapeBufferBytes);
      tColorInterfaceImage src{source + kGuard, 8, 4, 32, conversion.from, mask + kGuard, 8};
      tColorInterfaceImage dst{destination + kGuard, 8, 4, 32, 1, nullptr, 0};
      bool useMask = false;
      bool nullSource = false;
      Spoil(which, src, dst, useMask, nullSource, conversion.to);
      const tColorInterfaceImage srcBefore = src;
      const tColorInterfaceImage dstBefore = dst;
      tColorInterfaceImage* srcArgument = nullSource ? nullptr : &src;
      const bool result = inPlace != 0 ? (converter.*conversion.inPlace)(srcArgument, useMask)
                                       : (converter.*conversion.twoImages)(srcArgument, &dst, useMask);
      ++refusals.calls;
      const bool untouched = AllCanary(source, kShapeBufferBytes) && AllCanary(destination, kShapeBufferBytes) &&
                             AllCanary(mask, kShapeBufferBytes) && testing_support::SameDescriptor(src, srcBefore) &&
                             testing_support::SameDescriptor(dst, dstBefore);
      if (result || !untouched) ++refusals.wrongly;
    }
  }
}

}  // namespace

int host::HostMain() {
  const auto conversions = testing_support::AllConversions();
  host::Write("# sizeof(tColorInterfaceImage) ");
  host::WriteDecimal(sizeof(tColorInterfaceImage));
  host::Write(", kernel sets compared:");
  for (int level = 0; level < colortwist::KernelSetCount(); ++level) {
    if (!colortwist::RunsHere(colortwist::KernelSets()[level])) continue;
    host::Write(" ");
    host::Write(colortwist::KernelSets()[level].name);
  }
  host::Write("\n");

  // The object's own members: nothing to see but that they run.
  {
    CColorSpace first;
    CColorSpace second(first);
    CColorSpace* self = &(second = first);
    if (self != &second) host::Write("assignment returned another object\n");
  }

  std::uint32_t disagreements = 0;
  for (const Conversion& conversion : conversions) disagreements += SinglePixels(conversion);
  PrintCount("packed and three-component forms disagree on", disagreements);

  const std::size_t chunkBytes = std::size_t{4} * kChunkPixels;
  ChunkBuffers chunk{host::AllocateArray<std::uint8_t>(chunkBytes), host::AllocateArray<std::uint8_t>(chunkBytes),
                     host::AllocateArray<std::uint8_t>(chunkBytes), host::AllocateArray<std::uint8_t>(kChunkPixels)};
  auto* source = host::AllocateArray<std::uint8_t>(kShapeBufferBytes);
  auto* destination = host::AllocateArray<std::uint8_t>(kShapeBufferBytes);
  auto* mask = host::AllocateArray<std::uint8_t>(kShapeBufferBytes);
  if (chunk.colours == nullptr || chunk.source == nullptr || chunk.destination == nullptr || chunk.mask == nullptr ||
      source == nullptr || destination == nullptr || mask == nullptr) {
    host::Write("out of memory\n");
    return 2;
  }

  std::uint32_t failedCalls = 0;
  std::uint32_t levelMismatches = 0;
  for (const Conversion& conversion : conversions) {
    const ColourResults results = EveryColour(conversion, chunk);
    for (int variant = 0; variant < kVariants; ++variant) {
      PrintDigest(conversion.name, kVariantNames[variant], results.library[variant]);
    }
    failedCalls += results.failedCalls;
    levelMismatches += results.levelMismatches;
  }
  PrintCount("image calls that failed", failedCalls);
  PrintCount("kernel sets that differ from the library", levelMismatches);

  for (const Conversion& conversion : conversions) {
    PrintDigest(conversion.name, "shapes", Shapes(conversion, source, destination, mask));
  }
  PrintDigest("LinearInPlace", "shapes", Linear(source, mask));

  Refusals refusals;
  for (const Conversion& conversion : conversions) Refuse(conversion, source, destination, mask, refusals);
  PrintCount("invalid descriptors tried", refusals.calls);
  PrintCount("invalid descriptors accepted or written", refusals.wrongly);

  host::Release(chunk.colours);
  host::Release(chunk.source);
  host::Release(chunk.destination);
  host::Release(chunk.mask);
  host::Release(source);
  host::Release(destination);
  host::Release(mask);
  const bool clean = disagreements == 0 && failedCalls == 0 && levelMismatches == 0 && refusals.wrongly == 0;
  return clean ? 0 : 1;
}
