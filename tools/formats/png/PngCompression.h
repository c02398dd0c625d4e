// How a PNG's pixel data is compressed: the three settings, the measured
// default's rule, and one large picture compressed in slices at once.
#pragma once

#include <cstdint>
#include <vector>

#include "shared/Names.h"

namespace cstool {

enum class Compression { kFast, kDefault, kBest };
// As --compression takes them.
inline constexpr Named<Compression> kCompressionNames[] = {
    {"fast", Compression::kFast}, {"default", Compression::kDefault}, {"best", Compression::kBest}};

// The rows as the picture holds them: 1 byte a pixel (grey) or 4 (B, G, R,
// A), written as grey, RGB, or RGBA when `keepAlpha`.
struct PixelRows {
  std::int32_t width;
  std::int32_t height;
  const std::uint8_t* pixels;
  int bytesPerPixel;
  bool keepAlpha;
};

struct ZlibSettings {
  int level;
  int strategy;
  int filters;  // libpng's filter flags
};

// The default's rule: a sample of kSampleRows rows, filtered and
// compressed both ways; the thorough setting only where it comes out at
// least kThoroughSavingPercent smaller.
inline constexpr int kThoroughSavingPercent = 10;
inline constexpr std::int32_t kSampleBands = 16;
inline constexpr std::int32_t kRowsPerBand = 4;
inline constexpr std::int32_t kSampleRows = kSampleBands * kRowsPerBand;

ZlibSettings SettingsFor(Compression compression, const PixelRows& rows);

// Pictures whose rows take fewer bytes than this are compressed in one
// piece; a slice has at least kMinSliceRows rows.
inline constexpr std::uint64_t kMinSlicedBytes = std::uint64_t{4} << 20;
inline constexpr std::int32_t kMinSliceRows = 16;

// How many slices `threads` threads compress the picture in: the smaller
// of the thread count and the height over kMinSliceRows; 1 for a small
// picture.
int SliceCount(const PixelRows& rows, int threads);
// The most the slices can take compressed, for the memory budget.
std::uint64_t SlicedBound(const PixelRows& rows, int slices);

// The picture's zlib stream in `slices` pieces compressed at once (as
// parallel gzip tools do): raw deflate slices, each ended by a sync flush,
// the first preceded by the zlib header and the last followed by the
// combined Adler-32. A thread that cannot start leaves its slice to the
// caller's thread. False when memory runs out.
bool CompressSliced(const PixelRows& rows, const ZlibSettings& settings, int slices,
                    std::vector<std::vector<std::uint8_t>>& parts);

}  // namespace cstool
