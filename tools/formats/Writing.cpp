// What is done by going through the rows to write: refusing what a format
// cannot hold and leaving out the metadata it cannot hold; and the writer
// of the formats that hold one picture.
#include <bit>
#include <utility>
#include <vector>

#include "formats/Formats.h"

namespace cstool {
namespace {

// "png (.png) or y4m (.y4m)": the formats that hold `flag`.
std::string FormatsHolding(unsigned flag) {
  std::vector<std::string> names;
  for (const Format& format : AllFormats()) {
    if ((format.models & flag) != 0) names.push_back(std::string(format.name) + " (" + format.suffixes + ")");
  }
  return JoinWords(names);
}

// "rgb", "yuv or ycbcr": the models a format holds, each after `prefix`.
std::string ModelsHeld(const Format& format, const std::string& prefix = "") {
  std::vector<std::string> names;
  for (const Model model : kEveryModel) {
    if ((format.models & HeldFlagOf(model)) != 0) names.push_back(prefix + NameOf(model));
  }
  return JoinWords(names);
}

class OnePictureOut : public FrameWriter {
 public:
  OnePictureOut(std::FILE* stream, PictureWriteFunction write) : stream_(stream), write_(write) {}
  std::string Write(const Picture& frame, const WriteContext& context) override {
    return write_(stream_, frame, context);
  }

 private:
  std::FILE* stream_;
  PictureWriteFunction write_;
};

}  // namespace

unsigned HeldFlagOf(Model model) { return 1U << static_cast<unsigned>(model); }

std::unique_ptr<FrameWriter> OnePictureWriter(std::FILE* stream, PictureWriteFunction write) {
  return std::make_unique<OnePictureOut>(stream, write);
}

std::string RefusalFor(const Format& format, const ModelRecord& record, const std::string& path) {
  const std::string why = *format.modelsWhy != '\0' ? std::string(" (") + format.modelsWhy + ")" : std::string();
  if (record.Mixed()) {
    if ((format.models & kHoldsMixed) != 0) return {};
    return std::string("a ") + format.title + " file holds one model" + why +
           ", so a mixed result cannot be written to " + path + ": write " + FormatsHolding(kHoldsMixed) +
           ", which records the models and the selection";
  }
  const Model model = record.model.value_or(Model::kRGB);
  if ((format.models & HeldFlagOf(model)) != 0) return {};
  return std::string("a ") + format.title + " file holds " + ModelsHeld(format) + " pictures" + why + ", so a " +
         NameOf(model) + " result cannot be written to " + path + ": write " + FormatsHolding(HeldFlagOf(model)) +
         ", or convert " + ModelsHeld(format, "--to ");
}

std::string SamplingRefusal(const Format& format, SamplingChoice choice, const std::string& path) {
  if ((format.samplings & SamplingFlag(choice)) != 0) return {};
  std::vector<std::string> held;
  for (const auto& [name, each] : kSamplingNames) {
    if ((format.samplings & SamplingFlag(each)) != 0) held.emplace_back(name);
  }
  std::vector<std::string> sampled;
  for (const Format& each : AllFormats()) {
    if (HasWord(each.writeOptions, "--sampling")) sampled.push_back(SuffixOf(each));
  }
  return std::string("--sampling ") + SamplingName(choice) + " does not apply to " + path + ": a " + format.title +
         " file is written " + JoinWords(held, ", ", ", ") + " (--sampling chooses for " +
         JoinWords(sampled, ", ", " and ") + " outputs)";
}

unsigned KeptMetadata(const Metadata& metadata, const Format& format, const std::string& path, NoteList& notes) {
  const unsigned present = PresentMetadata(metadata);
  unsigned keep = present & format.metadata;
  std::vector<std::string> leftOut;
  if ((present & kIccProfile) != 0) {
    const std::string space = IccColourSpace(metadata.icc);
    if ((keep & kIccProfile) != 0 && space != "RGB ") {
      leftOut.push_back("the ICC profile (a " + Printable(space.empty() ? std::string("damaged") : space, 4) +
                        " profile, which does not describe a colour picture)");
      keep &= ~kIccProfile;
    } else if ((keep & kIccProfile) != 0 && metadata.icc.size() > format.maxIccBytes) {
      leftOut.push_back("the ICC profile (" + std::to_string(metadata.icc.size()) + " bytes; a " + format.title +
                        " file holds at most " + std::to_string(format.maxIccBytes) + ")");
      keep &= ~kIccProfile;
    }
  }
  if ((keep & kExif) != 0 && metadata.exif.size() > format.maxExifBytes) {
    leftOut.push_back("the EXIF data (" + std::to_string(metadata.exif.size()) + " bytes; a " + format.title +
                      " file holds at most " + std::to_string(format.maxExifBytes) + ")");
    keep &= ~kExif;
  }
  const unsigned unheld = present & ~format.metadata;
  if (unheld != 0) {
    std::string kinds;
    const std::pair<MetadataKind, std::string> names[] = {
        {kIccProfile, "the ICC profile"},
        {kSrgb, "sRGB"},
        {kGamma, "gAMA"},
        {kChromaticities, "cHRM"},
        {kDensity, "the density"},
        {kTexts, std::to_string(metadata.texts.size()) + (metadata.texts.size() == 1 ? " text" : " texts")},
        {kExif, "the EXIF data"},
    };
    for (const auto& [kind, name] : names) {
      if ((unheld & kind) != 0) kinds += (kinds.empty() ? "" : ", ") + name;
    }
    leftOut.push_back(kinds + " (a " + std::string(format.title) + " file has no place for " +
                      (std::popcount(unheld) == 1 && metadata.texts.size() <= 1 ? "it" : "them") + ")");
  }
  if (!leftOut.empty()) {
    std::string line = "left out of " + path + ": ";
    for (std::size_t i = 0; i < leftOut.size(); ++i) line += (i == 0 ? "" : "; ") + leftOut[i];
    notes.Add(line);
  }
  return keep;
}

bool HasTransparency(const Picture& picture) {
  if (!picture.hasAlpha) return false;
  for (std::size_t i = 3; i < picture.bgra.size(); i += 4) {
    if (picture.bgra[i] != 255) return true;
  }
  return false;
}

}  // namespace cstool
