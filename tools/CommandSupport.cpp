#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Commands.h"
#include "ImageFile.h"
#include "OutputFile.h"

namespace cstool {
namespace {

template <typename Encode>
std::string WriteThrough(const std::string& path, OutputName name, Encode encode) {
  std::string error;
  auto output = OutputFile::Open(path, name, error);
  if (!output) return error;
  errno = 0;
  error = encode(output->Stream());
  if (!error.empty()) {
    // A failed write says more than the encoder's own message.
    const int writeError = std::ferror(output->Stream()) != 0 ? errno : 0;
    return "cannot write " + path + ": " + (writeError != 0 ? std::strerror(writeError) : error);
  }
  return output->Commit();
}

}  // namespace

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "colorspace: %s\n", WithoutControls(message).c_str());
  return status;
}

std::uint64_t MemoryBudgetBytes(const Options& options) {
  return options.maxMemory != 0 ? options.maxMemory : MemoryBudget::DefaultBytes();
}

std::string ReadPicture(const std::string& path, const Options& options, MemoryBudget& budget,
                        MemoryBudget::Share& share, Picture& picture, Progress& progress, bool lasting) {
  ReadLimits limits;
  limits.maxPixels = options.maxPixels;
  limits.admit = [&](std::uint64_t pixels, std::uint64_t decoderBytes) {
    const std::string refusal = budget.Take(pixels * kJobBytesPerPixel + decoderBytes, share, lasting);
    return refusal.empty() ? refusal : path + " " + refusal;
  };
  const ReadResult result = ReadImage(path, limits, picture);
  if (!result.ok) return result.error;
  if (!result.note.empty()) progress.Note(result.note);
  if (picture.needsModel) {
    if (!options.from || *options.from == Model::kRGB) {
      return path +
             " holds luma and colour-difference planes without saying their range (no XCOLORRANGE): give "
             "--from yuv (full range) or --from ycbcr (studio range)";
    }
    picture.record.model = options.from;
    picture.needsModel = false;
  }
  return {};
}

WriteSettings PngSettings(const Options& options) { return {ImageFormat::kPng, options.compression, options.quality}; }

std::string WritePicture(const std::string& path, const Picture& picture, const WriteSettings& settings,
                         OutputName name) {
  std::string refusal = RefusalFor(settings.format, picture.record, path);
  if (refusal.empty() && settings.format != ImageFormat::kPng && HasTransparency(picture)) {
    refusal = std::string("the picture for ") + path + " has transparent pixels, which " + NameOf(settings.format) +
              " cannot hold: write .png to keep them";
  }
  if (refusal.empty() && settings.format == ImageFormat::kJpeg && picture.metadata.exif.size() > kMaxJpegExifBytes) {
    refusal = "the EXIF data for " + path + " (" + std::to_string(picture.metadata.exif.size()) +
              " bytes) does not fit in a JPEG segment: write .png to keep it";
  }
  if (!refusal.empty()) return refusal + "; nothing written";
  return WriteThrough(path, name, [&](std::FILE* stream) {
    switch (settings.format) {
      case ImageFormat::kJpeg:
        return WriteJpeg(stream, picture, settings.quality);
      case ImageFormat::kY4m:
        return WriteY4m(stream, picture);
      default:
        return WritePng(stream, picture, settings.compression, settings.threads);
    }
  });
}

std::string WriteGreyPicture(const std::string& path, const GreyPicture& picture, const WriteSettings& settings,
                             OutputName name) {
  if (settings.format == ImageFormat::kY4m) {
    return "the planes are a grey picture, which YUV4MPEG2 does not hold: write " + path +
           " as .png or .jpg; nothing written";
  }
  return WriteThrough(path, name, [&](std::FILE* stream) {
    return settings.format == ImageFormat::kJpeg ? WriteGreyJpeg(stream, picture, settings.quality)
                                                 : WriteGreyPng(stream, picture, settings.compression);
  });
}

std::string CheckNotAnInput(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs) {
  std::vector<std::pair<std::string, FileIdentity>> identities;
  for (const std::string& input : inputs) {
    if (const auto identity = InputIdentity(input)) identities.emplace_back(input, *identity);
  }
  for (const std::string& output : outputs) {
    const auto identity = OutputIdentity(output);
    if (!identity) continue;
    for (const auto& [input, inputIdentity] : identities) {
      if (inputIdentity == *identity) {
        return (output == "-" ? std::string("standard output") : output) + " is the same file as the input " + input +
               "; nothing written";
      }
    }
  }
  return {};
}

}  // namespace cstool
