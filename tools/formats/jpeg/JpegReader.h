// JPEG input through libjpeg-turbo's libjpeg interface, trusting nothing
// the file says: any decoder warning (a cut file, damaged data) refuses it
// in the decoder's own words, the header is read from the stream before
// anything else (so limits apply before the rest is read), the number of
// scans and the decoder's own memory are bounded, and of the markers before
// the first scan the EXIF (APP1) and ICC profile (APP2) ones are kept for
// the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shared/MemoryBudget.h"

namespace cstool {

class InputFile;

class JpegReader {
 public:
  // What is read before the first scan, the markers kept among it, is taken
  // from `memory` as it is read (none: no limit).
  JpegReader(InputFile& input, int maxScans, MemoryBudget::Account* memory = nullptr);
  ~JpegReader();
  JpegReader(const JpegReader&) = delete;
  JpegReader& operator=(const JpegReader&) = delete;

  // Reads up to the first scan. Returns the reason the file is refused
  // (without its name), or nothing.
  std::string ReadHeader();
  // Whether ReadHeader failed because the memory budget refused what it
  // read; its reason is then the budget's, to follow the file's name.
  bool RefusedByBudget() const;
  std::uint32_t Width() const;
  std::uint32_t Height() const;
  bool Cmyk() const;
  // What the decoder needs besides the pixels: for progressive and other
  // multi-scan files, every coefficient of the picture.
  std::uint64_t DecoderBytes() const;

  // Decodes every pixel into `bgra` (4 * Width() bytes a row, alpha 255)
  // and reads on to the end of the picture. Returns the reason for a
  // refusal, or nothing.
  std::string ReadPixels(std::uint8_t* bgra);

  // The EXIF data (the first APP1 segment that holds it, from its TIFF
  // header on), or nothing; only between ReadHeader and ReadPixels.
  std::vector<std::uint8_t> Exif() const;
  // The ICC profile (APP2, possibly in several segments), or nothing when
  // there is none or it is damaged (`damaged` then set); only between
  // ReadHeader and ReadPixels.
  std::vector<std::uint8_t> IccProfile(bool& damaged);
  // The JFIF density: unit (0 aspect ratio, 1 dots per inch, 2 per
  // centimetre), x and y; false without a JFIF marker.
  bool Density(int& unit, int& x, int& y) const;

  struct State;  // the decoder and its managers, for their callbacks

 private:
  std::unique_ptr<State> state_;
};

}  // namespace cstool
