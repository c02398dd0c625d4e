// JPEG: its settings and limits, and its reader and writers, which its row
// (JpegFormat.cpp) names.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "formats/Format.h"

namespace cstool {

inline constexpr int kDefaultJpegQuality = 92;
// JPEG quality at and above which the colour components keep every pixel
// (4:4:4); below it they are sampled 4:2:0.
inline constexpr int kFullChromaQuality = 90;
// A JPEG with more scans than this is refused (a few dozen is usual).
inline constexpr int kMaxJpegScans = 500;
// The most EXIF one JPEG segment holds, and the largest ICC profile 255
// segments hold.
inline constexpr unsigned long long kMaxJpegExifBytes = 65533 - 6;
inline constexpr unsigned long long kMaxJpegIccBytes = 255ULL * (65533 - 14);

std::unique_ptr<FrameReader> OpenJpegReader(InputFile& input, const ReadOptions& options, ReadResult& result);
std::string WriteJpeg(std::FILE* stream, const Picture& picture, const WriteContext& context);
std::string WriteGreyJpeg(std::FILE* stream, const GreyPicture& picture, const WriteContext& context);

}  // namespace cstool
