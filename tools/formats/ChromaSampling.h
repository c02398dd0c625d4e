// Chroma planes at reduced resolution (4:2:0 and 4:2:2, in YUV4MPEG2 and
// raw planes), brought to one value per pixel when read and reduced again
// when written.
//
// Reading interpolates bilinearly at the positions the siting states, in
// integers, rounding once at the end, half up ((sum + half) >> shift);
// beyond the plane's edges the nearest sample is repeated.
//   4:2:0, centre: each pixel from the 2x2 nearest chroma samples, weighted
//     3/4 and 1/4 in each direction: (9a + 3b + 3c + d + 8) >> 4.
//   4:2:0, left: an even column takes its sample, an odd column the mean of
//     its two neighbours; vertically 3/4 and 1/4 as for centre; (sum + 4) >> 3.
//   4:2:0, top-left: an even column or row takes its sample, an odd one the
//     mean of its two neighbours in that direction; (sum + 2) >> 2.
//   4:2:2: horizontally as 4:2:0 left, each row on its own; (sum + 1) >> 1.
//   4:4:4 is copied; monochrome reads as 128 everywhere.
//
// Writing filters the pixels' component, in integers, rounding once, half
// up; beyond the picture's edges the nearest pixel is repeated.
//   4:2:0, centre: the mean of each 2x2 block, (a + b + c + d + 2) >> 2; an
//     odd last column or row pairs with itself.
//   4:2:0, left: [1 2 1] across the three columns centred on the even column,
//     [1 1] over the block's two rows; (sum + 4) >> 3.
//   4:2:2: [1 2 1] across the three columns centred on the even column;
//     (sum + 2) >> 2.
//   4:4:4 is copied; monochrome writes no plane.
//   4:2:0 top-left is read only, never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cstool {

enum class ChromaSampling { k444, k422, k420, kMono };

// The filters above, as the help and the documentation state them.
inline constexpr const char* kUpsamplingHelp =
    "4:2:0 centre (C420jpeg) weighs the four nearest samples 9, 3, 3 and 1 over 16; 4:2:0 left (C420mpeg2) takes "
    "an even column's sample and the mean of the two beside an odd column, then 3/4 of the nearer row and 1/4 of "
    "the other; 4:2:0 top-left (C420paldv) and 4:2:2 take the sample where one sits and the mean of the two beside "
    "where none does; Cmono has chroma 128.";
inline constexpr const char* kDownsamplingHelp =
    "4:2:0 centre, the mean of each 2x2 block; 4:2:0 left, [1 2 1]/4 across (centred on the even column) and "
    "[1 1]/2 down; 4:2:2, [1 2 1]/4 across. Beyond the edges the nearest pixel or sample is repeated.";

// Where 4:2:0 chroma samples sit relative to luma: kCenter between the four
// luma samples (YUV4MPEG2 C420jpeg and C420), kLeft with the even luma column
// and halfway between the rows (C420mpeg2), kTopLeft with the even column and
// the even row (C420paldv). 4:2:2 samples always sit with the even luma
// columns; 4:4:4 and monochrome have no siting.
enum class ChromaSiting { kCenter, kLeft, kTopLeft };

// A chroma plane's size for a picture of width x height: odd sides round up,
// (width + 1) / 2 and, for 4:2:0, (height + 1) / 2; 0 x 0 for monochrome.
std::size_t ChromaWidth(std::size_t width, ChromaSampling sampling);
std::size_t ChromaHeight(std::size_t height, ChromaSampling sampling);

// Brings one chroma plane to the picture's size, a row at a time; each of U
// and V has its own. Rows asked for in order cost least: a 4:2:0 plane row is
// interpolated across once and kept while the next picture rows need it.
// The plane is only read, and must outlive the object; for monochrome it may
// be null.
class ChromaUpsampler {
 public:
  // plane holds ChromaHeight(height) rows of ChromaWidth(width) bytes, each
  // row planeStride bytes after the previous.
  ChromaUpsampler(const std::uint8_t* plane, std::size_t planeStride, std::size_t width, std::size_t height,
                  ChromaSampling sampling, ChromaSiting siting);

  // Writes the width chroma values of picture row y (y < height) to out.
  void Row(std::size_t y, std::uint8_t* out);

 private:
  // Which of rows_ holds plane row j interpolated across, filling one that is
  // not keepSlot when none does.
  int Fetch(std::size_t j, int keepSlot);
  int SlotHolding(std::size_t j) const;

  const std::uint8_t* plane_;
  std::size_t planeStride_;
  std::size_t width_;
  std::size_t chromaWidth_;
  std::size_t chromaHeight_;
  ChromaSampling sampling_;
  ChromaSiting siting_;
  std::vector<std::uint8_t> padded_;  // a plane row with its end samples repeated beyond both ends
  std::vector<std::uint16_t> rows_[2];
  std::ptrdiff_t rowHeld_[2] = {-1, -1};  // the plane row each of rows_ holds; -1: none
};

// Writes the chroma plane of one component of a picture of 4-byte pixels,
// the byte at componentOffset (0 to 3) of each pixel. pixels holds height
// rows of 4 * width bytes, each pixelStride bytes after the previous; plane
// receives ChromaHeight(height) rows of ChromaWidth(width) bytes, each
// planeStride bytes after the previous.
// Returns false, writing nothing, for 4:2:0 with top-left siting.
[[nodiscard]] bool DownsampleChroma(const std::uint8_t* pixels, std::size_t pixelStride, std::size_t width,
                                    std::size_t height, std::size_t componentOffset, ChromaSampling sampling,
                                    ChromaSiting siting, std::uint8_t* plane, std::size_t planeStride);

}  // namespace cstool
