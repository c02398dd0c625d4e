// The colour models, and what a file records about its pixels' model: one
// model for every pixel, or (after a masked conversion) one model inside a
// selection and another outside it, with the selection itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/Names.h"

namespace cstool {

enum class Model { kRGB, kYUV, kYCbCr };

// Models by their names, as files record them and options take them.
inline constexpr Named<Model> kModelNames[] = {{"rgb", Model::kRGB}, {"yuv", Model::kYUV}, {"ycbcr", Model::kYCbCr}};
inline std::optional<Model> ParseModel(const std::string& name) { return ValueNamed(kModelNames, name); }
inline const char* NameOf(Model model) { return NameIn(kModelNames, model); }
std::int32_t FormatCodeOf(Model model);

struct ModelRecord {
  // The model of every pixel, or of the selected ones when `outside` is set;
  // empty when the file records nothing.
  std::optional<Model> model;
  // Set for a mixed file: the model of the unselected pixels.
  std::optional<Model> outside;
  // For a mixed file: one byte per pixel, 1 where selected.
  std::vector<std::uint8_t> selection;

  bool Mixed() const { return outside.has_value(); }
};

// The text recorded in the file: "yuv", or for a mixed file
// "mixed: yuv inside the selection, rgb outside".
std::string ModelText(const ModelRecord& record);
// Reads that text back into record.model and record.outside.
bool ParseModelText(const std::string& text, ModelRecord& record);
// What to tell a user about a file's model.
std::string Describe(const ModelRecord& record);

// The selection as stored in the file: a format byte (2), the picture's
// width and height (4 bytes each, most significant first), then the mask at
// one bit per pixel, rows padded to whole bytes, compressed with zlib.
std::vector<std::uint8_t> PackSelection(const std::vector<std::uint8_t>& selection, std::int32_t width,
                                        std::int32_t height);
// Empty on any inconsistency, with `why` completing "its selection ...".
std::vector<std::uint8_t> UnpackSelection(const std::uint8_t* data, std::size_t size, std::int32_t width,
                                          std::int32_t height, std::string& why);

}  // namespace cstool
