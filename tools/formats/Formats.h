// The formats, and everything done by going through their rows: telling
// an input's format by its first bytes, choosing an output's by its name,
// refusing what a format cannot hold, leaving out the metadata it cannot
// hold, and the lists the help and README show.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "formats/Format.h"

namespace cstool {

// The formats in their order (Formats.cpp), PNG first: `for (const Format&
// format : AllFormats())`.
using FormatRow = std::reference_wrapper<const Format>;
std::span<const FormatRow> AllFormats();
const Format& PngFormat();

const Format* FormatNamed(const std::string& name);
// By the path's suffix, ignoring case.
const Format* FormatBySuffix(const std::string& path);
// The suffix for names the tool makes: ".png", ".jpg", ".y4m", ".yuv".
std::string SuffixOf(const Format& format);
// The stream formats' suffixes: ".y4m, .yuv".
std::string StreamSuffixes();
// "png (.png), jpeg (.jpg .jpeg), y4m (.y4m), raw (.yuv)".
std::string FormatList();

// The format an output is written in: --format when given (and refused
// when it contradicts a known suffix), else by the suffix; "-", an open
// descriptor's name and existing devices and FIFOs are PNG unless --format
// says otherwise; any other name is refused with the list of formats.
// Returns an error line.
std::string ChooseFormat(const std::string& path, const std::string& formatOption, const Format*& format);

// Why a picture recorded as `record` cannot be written as `format`, or
// nothing; the alternatives named are the formats that hold it.
std::string RefusalFor(const Format& format, const ModelRecord& record, const std::string& path);
// Why `format` cannot be written with `choice` (--sampling), or nothing.
std::string SamplingRefusal(const Format& format, SamplingChoice choice, const std::string& path);
// Whether any pixel is not fully opaque.
bool HasTransparency(const Picture& picture);

// The metadata kinds of `metadata` that `format` can hold and that fit it;
// one note naming `path` lists what is left out (a profile that is not an
// RGB profile is always left out: the outputs are colour pictures).
unsigned KeptMetadata(const Metadata& metadata, const Format& format, const std::string& path, NoteList& notes);

// Opens the input's frames, its format told by its first bytes, or for a
// format told by none (raw planes) by its suffix or its Format::readWhenGiven
// option. Nothing, with result.error set, when it is refused.
std::unique_ptr<FrameReader> OpenFrames(InputFile& input, const ReadOptions& options, ReadResult& result);
// Whether an input named `path` may be read as `format`: any input as a
// format told by its first bytes; as one told by none, a name with its
// suffix, or '-'.
bool MayRead(const Format& format, const std::string& path);

// One picture: an input's first frame, refused when it holds more.
ReadResult ReadImage(const std::string& path, const ReadOptions& options, Picture& picture);
ReadResult ReadImage(const std::string& path, std::uint64_t maxPixels, Picture& picture);
ReadResult ReadImage(InputFile& input, const ReadOptions& options, Picture& picture);

// Takes a picture's share from options.memory once its header is read and
// before its pixels are allocated: kJobBytesPerPixel a pixel and the bytes
// the decoder needs besides. Returns a refusal naming `path`, or nothing.
std::string AdmitPicture(const ReadOptions& options, const std::string& path, std::uint64_t width, std::uint64_t height,
                         std::uint64_t decoderBytes);

// "W x H is N pixels, above the limit of L (--max-pixels)", or nothing.
std::string CheckPixelLimit(const std::string& path, std::uint64_t width, std::uint64_t height,
                            std::uint64_t maxPixels);

// A new `Reader` of the input, opened: its Open(result) reads the header
// and returns a refusal naming the file (notes go to `result`). Nothing,
// with result.error set, when it is refused.
template <typename Reader>
std::unique_ptr<FrameReader> OpenReader(InputFile& input, const ReadOptions& options, ReadResult& result) {
  auto reader = std::make_unique<Reader>(input, options);
  result.error = reader->Open(result);
  if (!result.error.empty()) return nullptr;
  return reader;
}

// The reader of a format that holds one picture: it reads the picture on
// the first Next.
class OnePictureReader : public FrameReader {
 public:
  OnePictureReader(InputFile& input, const ReadOptions& options) : FrameReader(input, options) { info_.frames = 1; }
  bool Next(Picture& picture, ReadResult& result) final {
    if (done_) return false;
    done_ = true;
    return ReadPicture(picture, result);
  }

 protected:
  virtual bool ReadPicture(Picture& picture, ReadResult& result) = 0;

 private:
  bool done_ = false;
};

template <typename Writer>
std::unique_ptr<FrameWriter> NewWriter(std::FILE* stream) {
  return std::make_unique<Writer>(stream);
}

// The writer of a format that holds one picture, written by `kWrite`.
template <std::string (*kWrite)(std::FILE* stream, const Picture& picture, const WriteContext& context)>
class PictureWriter : public FrameWriter {
 public:
  explicit PictureWriter(std::FILE* stream) : stream_(stream) {}
  std::string Write(const Picture& frame, const WriteContext& context) override {
    return kWrite(stream_, frame, context);
  }

 private:
  std::FILE* stream_;
};

}  // namespace cstool
