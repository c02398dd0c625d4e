#include "formats/png/PngCompression.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <new>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>

#include "shared/MemoryBudget.h"

namespace cstool {
namespace {

// Measured on a 7680x5120 photograph and a 1920x1080 screenshot converted to
// YCbCr: photographs encode about three times faster, and smaller, with
// run-length matching and the Sub filter at level 1 than with libpng's
// defaults (level 6, adaptive filters), while screenshots come out twice as
// large that way; so the default measures the picture first.
constexpr ZlibSettings kFastSettings{1, Z_RLE, PNG_FILTER_SUB};
constexpr ZlibSettings kThoroughSettings{Z_DEFAULT_COMPRESSION, Z_FILTERED, PNG_ALL_FILTERS};
constexpr ZlibSettings kBestSettings{Z_BEST_COMPRESSION, Z_FILTERED, PNG_ALL_FILTERS};

int Paeth(int left, int up, int upLeft) {
  const int estimate = left + up - upLeft;
  const int toLeft = std::abs(estimate - left);
  const int toUp = std::abs(estimate - up);
  const int toUpLeft = std::abs(estimate - upLeft);
  if (toLeft <= toUp && toLeft <= toUpLeft) return left;
  return toUp <= toUpLeft ? up : upLeft;
}

// One row filtered as PNG does (type byte first): Sub, or with `adaptive`
// the filter of the five whose output has the smallest sum of magnitudes
// (libpng's choice). `previous` is the row above, or null.
void FilterRow(const std::vector<std::uint8_t>& row, const std::vector<std::uint8_t>* previous, int step, bool adaptive,
               std::vector<std::uint8_t>& out) {
  const std::size_t n = row.size();
  const auto stepBytes = static_cast<std::size_t>(step);
  if (!adaptive) {
    const std::size_t at = out.size();
    out.resize(at + n + 1);
    out[at] = 1;
    for (std::size_t i = 0; i < n; ++i) {
      out[at + 1 + i] = static_cast<std::uint8_t>(row[i] - (i >= stepBytes ? row[i - stepBytes] : 0));
    }
    return;
  }
  // What each filter predicts for byte i; costed for all five in one pass,
  // then the cheapest (the first of equals) written, without copies.
  auto predictions = [&](std::size_t i, int(&predicted)[5]) {
    const int left = i >= stepBytes ? row[i - stepBytes] : 0;
    const int up = previous != nullptr ? (*previous)[i] : 0;
    const int upLeft = previous != nullptr && i >= stepBytes ? (*previous)[i - stepBytes] : 0;
    predicted[0] = 0;
    predicted[1] = left;
    predicted[2] = up;
    predicted[3] = (left + up) / 2;
    predicted[4] = Paeth(left, up, upLeft);
  };
  std::uint64_t costs[5] = {};
  int predicted[5];
  for (std::size_t i = 0; i < n; ++i) {
    predictions(i, predicted);
    for (int type = 0; type < 5; ++type) {
      const auto value = static_cast<std::uint8_t>(row[i] - predicted[type]);
      costs[type] += value < 128 ? value : 256 - value;
    }
  }
  const int best = static_cast<int>(std::min_element(std::begin(costs), std::end(costs)) - std::begin(costs));
  const std::size_t at = out.size();
  out.resize(at + n + 1);
  out[at] = static_cast<std::uint8_t>(best);
  for (std::size_t i = 0; i < n; ++i) {
    predictions(i, predicted);
    out[at + 1 + i] = static_cast<std::uint8_t>(row[i] - predicted[best]);
  }
}

std::uint64_t DeflatedSize(const std::vector<std::uint8_t>& data, const ZlibSettings& settings) {
  z_stream stream{};
  if (deflateInit2(&stream, settings.level, Z_DEFLATED, 15, 8, settings.strategy) != Z_OK) return UINT64_MAX;
  std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(data.size())));
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  const std::uint64_t size = status == Z_STREAM_END ? stream.total_out : UINT64_MAX;
  deflateEnd(&stream);
  return size;
}

// Bytes a pixel takes in the file: grey, RGB, or RGBA.
int FileStep(const PixelRows& rows) { return rows.bytesPerPixel == 1 ? 1 : (rows.keepAlpha ? 4 : 3); }

// Row `y` of the picture as the file holds it (R, G, B and A when kept).
void FileRow(const PixelRows& rows, std::int32_t y, std::vector<std::uint8_t>& row) {
  const auto pixelsPerRow = static_cast<std::size_t>(rows.width);
  const int fileStep = FileStep(rows);
  row.resize(pixelsPerRow * static_cast<std::size_t>(fileStep));
  const std::uint8_t* source =
      rows.pixels + static_cast<std::size_t>(y) * pixelsPerRow * static_cast<std::size_t>(rows.bytesPerPixel);
  for (std::size_t x = 0; x < pixelsPerRow; ++x) {
    const std::uint8_t* pixel = source + x * static_cast<std::size_t>(rows.bytesPerPixel);
    std::uint8_t* to = row.data() + x * static_cast<std::size_t>(fileStep);
    if (fileStep == 1) {
      to[0] = pixel[0];
    } else {
      to[0] = pixel[2];
      to[1] = pixel[1];
      to[2] = pixel[0];
      if (fileStep == 4) to[3] = pixel[3];
    }
  }
}

ZlibSettings MeasuredSettings(const PixelRows& rows) {
  const int fileStep = FileStep(rows);
  std::vector<std::uint8_t> fast;
  std::vector<std::uint8_t> thorough;
  std::vector<std::uint8_t> previous;
  std::vector<std::uint8_t> row;
  const std::int32_t height = rows.height;
  const std::int32_t bands = std::min(kSampleBands, std::max(1, height / kRowsPerBand));
  for (std::int32_t band = 0; band < bands; ++band) {
    const std::int32_t first = std::max<std::int32_t>(
        0, static_cast<std::int32_t>(static_cast<std::int64_t>(height - kRowsPerBand) * band / std::max(1, bands - 1)));
    for (std::int32_t y = first; y < std::min(height, first + kRowsPerBand); ++y) {
      FileRow(rows, y, row);
      const bool continues = y > first;
      FilterRow(row, continues ? &previous : nullptr, fileStep, false, fast);
      FilterRow(row, continues ? &previous : nullptr, fileStep, true, thorough);
      previous = row;
    }
  }
  const std::uint64_t fastSize = DeflatedSize(fast, kFastSettings);
  const std::uint64_t thoroughSize = DeflatedSize(thorough, kThoroughSettings);
  return thoroughSize * 100 <= fastSize * (100 - kThoroughSavingPercent) ? kThoroughSettings : kFastSettings;
}

constexpr std::size_t kDeflateStepBytes = std::size_t{1} << 16;

// Feeds `size` bytes to the deflater with `flush`, appending what comes out.
bool Deflate(z_stream& stream, const std::uint8_t* data, std::size_t size, int flush, std::vector<std::uint8_t>& out) {
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  do {
    const std::size_t had = out.size();
    out.resize(had + kDeflateStepBytes);
    stream.next_out = out.data() + had;
    stream.avail_out = static_cast<uInt>(out.size() - had);
    const int status = deflate(&stream, flush);
    out.resize(out.size() - stream.avail_out);
    if (status == Z_STREAM_ERROR) return false;
  } while (stream.avail_out == 0 || stream.avail_in > 0);
  return true;
}

// One slice of rows: a raw deflate stream ended by a sync flush (the last
// one finished), and the Adler-32 and length of the filtered bytes.
struct Slice {
  std::int32_t first = 0;
  std::int32_t end = 0;
  std::vector<std::uint8_t>* deflated = nullptr;
  uLong adler = 0;
  uLong length = 0;
  bool ok = false;
};

void CompressSlice(const PixelRows& rows, const ZlibSettings& settings, bool last, Slice& slice) noexcept {
  try {
    z_stream stream{};
    if (deflateInit2(&stream, settings.level, Z_DEFLATED, -15, 8, settings.strategy) != Z_OK) return;
    const int fileStep = FileStep(rows);
    const bool adaptive = settings.filters != PNG_FILTER_SUB;
    std::vector<std::uint8_t> row;
    std::vector<std::uint8_t> previous;
    std::vector<std::uint8_t> filtered;
    if (slice.first > 0) FileRow(rows, slice.first - 1, previous);
    slice.adler = adler32(0, nullptr, 0);
    bool ok = true;
    for (std::int32_t y = slice.first; y < slice.end && ok; ++y) {
      FileRow(rows, y, row);
      filtered.clear();
      FilterRow(row, y > 0 ? &previous : nullptr, fileStep, adaptive, filtered);
      slice.adler = adler32(slice.adler, filtered.data(), static_cast<uInt>(filtered.size()));
      slice.length += static_cast<uLong>(filtered.size());
      ok = Deflate(stream, filtered.data(), filtered.size(), Z_NO_FLUSH, *slice.deflated);
      previous.swap(row);
    }
    ok = ok && Deflate(stream, nullptr, 0, last ? Z_FINISH : Z_SYNC_FLUSH, *slice.deflated);
    deflateEnd(&stream);
    slice.ok = ok;
  } catch (const std::bad_alloc&) {
    slice.ok = false;
  }
}

// The rows of slice k of n, from first to end.
std::pair<std::int32_t, std::int32_t> SliceRows(const PixelRows& rows, int slices, int k) {
  return {static_cast<std::int32_t>(static_cast<std::int64_t>(rows.height) * k / slices),
          static_cast<std::int32_t>(static_cast<std::int64_t>(rows.height) * (k + 1) / slices)};
}

// What one slice's buffer is given: zlib's conservative bound for its
// filtered rows, and room for the step by which Deflate grows its output,
// so that the buffer never grows beyond it.
std::uint64_t SliceBound(const PixelRows& rows, std::pair<std::int32_t, std::int32_t> range) {
  const std::uint64_t filtered = (std::uint64_t{static_cast<std::uint32_t>(rows.width)} * FileStep(rows) + 1) *
                                 static_cast<std::uint64_t>(range.second - range.first);
  return filtered + (filtered + 7) / 8 + (filtered + 63) / 64 + 16 + kDeflateStepBytes;
}

}  // namespace

ZlibSettings SettingsFor(Compression compression, const PixelRows& rows) {
  switch (compression) {
    case Compression::kFast:
      return kFastSettings;
    case Compression::kBest:
      return kBestSettings;
    default:
      return MeasuredSettings(rows);
  }
}

int SliceCount(const PixelRows& rows, int threads) {
  const std::uint64_t bytes = std::uint64_t{static_cast<std::uint32_t>(rows.width)} *
                              static_cast<std::uint32_t>(rows.height) * static_cast<std::uint32_t>(FileStep(rows));
  if (bytes < kMinSlicedBytes) return 1;
  return std::max(1, std::min(threads, rows.height / kMinSliceRows));
}

std::uint64_t SlicedBound(const PixelRows& rows, int slices) {
  std::uint64_t bound = 0;
  for (int k = 0; k < slices; ++k) bound += SliceBound(rows, SliceRows(rows, slices, k));
  return bound;
}

bool CompressSliced(const PixelRows& rows, const ZlibSettings& settings, int slices,
                    std::vector<std::vector<std::uint8_t>>& parts) {
  parts.assign(static_cast<std::size_t>(slices), {});
  std::vector<Slice> pieces(static_cast<std::size_t>(slices));
  try {
    for (int k = 0; k < slices; ++k) {
      Slice& piece = pieces[static_cast<std::size_t>(k)];
      std::tie(piece.first, piece.end) = SliceRows(rows, slices, k);
      piece.deflated = &parts[static_cast<std::size_t>(k)];
      piece.deflated->reserve(static_cast<std::size_t>(SliceBound(rows, {piece.first, piece.end})));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  const int level = settings.level == Z_DEFAULT_COMPRESSION ? 6 : settings.level;
  const std::uint8_t flags = level <= 1 ? 0x01 : level <= 5 ? 0x5E : level == 6 ? 0x9C : 0xDA;
  parts[0] = {0x78, flags};
  {
    // Joined when this block ends, whatever happens in it.
    std::vector<std::jthread> threads;
    try {
      threads.reserve(pieces.size());
      for (std::size_t k = 1; k < pieces.size(); ++k) {
        threads.emplace_back(CompressSlice, std::cref(rows), std::cref(settings), k + 1 == pieces.size(),
                             std::ref(pieces[k]));
      }
    } catch (const std::system_error&) {
      // Fewer threads than asked: the slices left over are done here.
    } catch (const std::bad_alloc&) {
    }
    CompressSlice(rows, settings, pieces.size() == 1, pieces[0]);
    for (std::size_t k = threads.size() + 1; k < pieces.size(); ++k) {
      CompressSlice(rows, settings, k + 1 == pieces.size(), pieces[k]);
    }
  }
  uLong adler = adler32(0, nullptr, 0);
  for (const Slice& piece : pieces) {
    if (!piece.ok) return false;
    adler = adler32_combine(adler, piece.adler, static_cast<z_off_t>(piece.length));
  }
  for (int shift = 24; shift >= 0; shift -= 8) parts.back().push_back(static_cast<std::uint8_t>(adler >> shift));
  return true;
}

}  // namespace cstool
