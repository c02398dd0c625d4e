// What a file says besides its pixels survives the tool: PNG chunks, and a
// JPEG's ICC profile, EXIF and density, made here with libpng and libjpeg.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ToolTestSupport.h"
#include "formats/Formats.h"
#include "shared/Picture.h"

namespace {

using namespace tooltest;
using cstool::Metadata;
using cstool::Picture;

// A minimal well-formed RGB display profile (no tags), padded to `size`.
std::vector<std::uint8_t> MakeIccProfile(std::size_t size) {
  std::vector<std::uint8_t> profile(size, 0);
  const auto put = [&](std::size_t at, const char* text) {
    std::copy(text, text + 4, profile.begin() + static_cast<std::ptrdiff_t>(at));
  };
  const auto word = [&](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) profile[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  };
  word(0, static_cast<std::uint32_t>(size));
  word(8, 0x02100000);
  put(12, "mntr");
  put(16, "RGB ");
  put(20, "XYZ ");
  put(36, "acsp");
  word(68, 0x0000F6D6);  // the D50 illuminant
  word(72, 0x00010000);
  word(76, 0x0000D32D);
  put(80, "test");
  for (std::size_t i = 132; i < size; ++i) profile[i] = static_cast<std::uint8_t>(i * 7);
  return profile;
}

const std::vector<std::uint8_t> kExif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 1, 2, 3, 4};

// An RGB PNG with the given metadata, written by libpng itself.
void WritePngWith(const std::string& path, const Metadata& metadata) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, 8, 4, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!metadata.icc.empty()) {
    png_set_iCCP(png, info, "test profile", 0, metadata.icc.data(), static_cast<png_uint_32>(metadata.icc.size()));
  }
  if (metadata.srgbIntent) png_set_sRGB(png, info, *metadata.srgbIntent);
  if (metadata.gamma) png_set_gAMA_fixed(png, info, *metadata.gamma);
  if (metadata.chromaticities) {
    const auto& c = *metadata.chromaticities;
    png_set_cHRM_fixed(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  }
  if (metadata.density) png_set_pHYs(png, info, metadata.density->x, metadata.density->y, metadata.density->unit);
  if (!metadata.exif.empty()) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(metadata.exif.size()),
                   const_cast<png_bytep>(metadata.exif.data()));
  }
  std::vector<png_text> texts;
  for (const Metadata::Text& kept : metadata.texts) {
    png_text text{};
    text.compression = kept.compression;
    text.key = const_cast<char*>(kept.key.c_str());
    text.text = const_cast<char*>(kept.text.c_str());
    text.lang = const_cast<char*>(kept.language.c_str());
    text.lang_key = const_cast<char*>(kept.translatedKey.c_str());
    texts.push_back(text);
  }
  png_set_text(png, info, texts.data(), static_cast<int>(texts.size()));
  png_write_info(png, info);
  std::vector<png_byte> row(std::size_t{8} * 3);
  for (int y = 0; y < 4; ++y) {
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<png_byte>(i * 9 + static_cast<std::size_t>(y));
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);  // with the info, libpng would write the EXIF chunk twice
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

// A colour JPEG with an ICC profile (in several segments when large), EXIF
// and a density in dots per inch.
std::string JpegWith(const std::vector<std::uint8_t>& icc, const std::vector<std::uint8_t>& exif, int dpi) {
  return EncodeJpeg({.width = 16, .height = 8, .icc = icc, .exif = exif, .dpi = dpi});
}

void ExpectTextsEqual(const std::vector<Metadata::Text>& got, const std::vector<Metadata::Text>& want,
                      const std::string& where) {
  ASSERT_EQ(got.size(), want.size()) << where;
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].key, want[i].key) << where;
    EXPECT_EQ(got[i].text, want[i].text) << where;
    EXPECT_EQ(got[i].compression, want[i].compression) << where;
    EXPECT_EQ(got[i].language, want[i].language) << where;
    EXPECT_EQ(got[i].translatedKey, want[i].translatedKey) << where;
  }
}

TEST_F(Tool, PngMetadataSurvivesTheWayThereAndBack) {
  Metadata profiled;
  profiled.icc = MakeIccProfile(400);
  profiled.density = Metadata::Density{11811, 11811, 1};  // 300 dots per inch
  profiled.texts = {{-1, "Comment", "taken at dawn", "", ""},
                    {0, "Description", std::string(300, 'z'), "", ""},
                    {1, "Title", "Aube \xC3\xA0 Paris", "fr", "Titre"}};
  profiled.exif = kExif;
  WritePngWith(Path("profiled.png"), profiled);
  Metadata tagged;
  tagged.srgbIntent = 1;
  tagged.gamma = 45455;
  tagged.chromaticities = std::vector<std::int32_t>{31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
  WritePngWith(Path("tagged.png"), tagged);

  for (const char* name : {"profiled", "tagged"}) {
    const std::string in = Path(std::string(name) + ".png");
    const std::string there = Path(std::string(name) + "-ycbcr.png");
    const std::string back = Path(std::string(name) + "-back.png");
    ASSERT_EQ(Colorspace("convert --to ycbcr " + in + " " + there).status, 0);
    ASSERT_EQ(Colorspace("convert --to rgb " + there + " " + back).status, 0);
    for (const std::string& path : {there, back}) {
      const Metadata got = Read(path).metadata;
      const Metadata& want = std::string(name) == "profiled" ? profiled : tagged;
      EXPECT_EQ(got.icc, want.icc) << path;
      EXPECT_EQ(got.exif, want.exif) << path;
      EXPECT_EQ(got.srgbIntent, want.srgbIntent) << path;
      EXPECT_EQ(got.gamma, want.gamma) << path;
      EXPECT_EQ(got.chromaticities, want.chromaticities) << path;
      ASSERT_EQ(got.density.has_value(), want.density.has_value()) << path;
      if (want.density) {
        EXPECT_EQ(got.density->x, want.density->x) << path;
      }
      ExpectTextsEqual(got.texts, want.texts, path);
    }
  }
  // A JPEG keeps the profile, EXIF and density; texts have no place there.
  ASSERT_EQ(Colorspace("convert --to rgb " + Path("profiled-ycbcr.png") + " " + Path("back.jpg")).status, 0);
  const Metadata jpeg = Read(Path("back.jpg")).metadata;
  EXPECT_EQ(jpeg.icc, profiled.icc);
  EXPECT_EQ(jpeg.exif, profiled.exif);
  ASSERT_TRUE(jpeg.density.has_value());
  EXPECT_EQ(jpeg.density->x, 11811U);
  EXPECT_TRUE(jpeg.texts.empty());
  const std::string help = OneLine(Colorspace("convert --help").out);
  EXPECT_NE(help.find("EXIF orientation is kept as data"), std::string::npos);
  EXPECT_NE(help.find("a JPEG output keeps the ICC profile"), std::string::npos);
}

TEST_F(Tool, JpegProfileExifAndDensityBecomePngChunksAndComeBack) {
  const std::vector<std::uint8_t> icc = MakeIccProfile(70000);  // two APP2 segments
  WriteFile(Path("in.jpg"), JpegWith(icc, kExif, 300));
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("in.jpg") + " " + Path("yuv.png")).status, 0);
  const std::vector<Chunk> chunks = ParseChunks(Slurp(Path("yuv.png")));
  for (const char* type : {"iCCP", "eXIf", "pHYs"}) {
    EXPECT_TRUE(std::any_of(chunks.begin(), chunks.end(), [&](const Chunk& c) { return c.type == type; })) << type;
  }
  const Metadata png = Read(Path("yuv.png")).metadata;
  EXPECT_EQ(png.icc, icc);
  EXPECT_EQ(png.exif, kExif);
  ASSERT_TRUE(png.density.has_value());
  EXPECT_EQ(png.density->x, 11811U);
  EXPECT_EQ(png.density->unit, 1);

  ASSERT_EQ(Colorspace("convert --to rgb " + Path("yuv.png") + " " + Path("back.jpg")).status, 0);
  const Metadata jpeg = Read(Path("back.jpg")).metadata;
  EXPECT_EQ(jpeg.icc, icc);
  EXPECT_EQ(jpeg.exif, kExif);
  ASSERT_TRUE(jpeg.density.has_value());
  EXPECT_EQ(jpeg.density->x, 11811U);
}

// One rule for metadata an output cannot hold: it is left out with a note
// naming it, never written wrong (one eXIf chunk, before the pixels; a
// profile JPEG segments cannot number; a profile for another colour space)
// and never the reason to refuse the picture.
TEST_F(Tool, MetadataAnOutputCannotHoldIsLeftOutWithANote) {
  auto count = [](const std::vector<Chunk>& chunks, const std::string& type) {
    return std::count_if(chunks.begin(), chunks.end(), [&](const Chunk& c) { return c.type == type; });
  };
  Metadata big;
  big.exif = kExif;
  big.exif.resize(70000, 7);                               // more than one JPEG segment holds
  big.icc = MakeIccProfile(cstool::kMaxJpegIccBytes + 1);  // one byte more than 255 segments hold
  for (int i = 0; i < 40; ++i) big.texts.push_back({-1, "Key" + std::to_string(i), "text", "", ""});
  WritePngWith(Path("big.png"), big);
  ToolRun run = Colorspace("convert --to yuv " + Path("big.png") + " " + Path("yuv.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<Chunk> chunks = ParseChunks(Slurp(Path("yuv.png")));
  EXPECT_EQ(count(chunks, "eXIf"), 1);
  EXPECT_LT(std::find_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "eXIf"; }) -
                std::find_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "IDAT"; }),
            0);
  EXPECT_EQ(count(chunks, "tEXt"), 41) << "every text, and the model record";

  run = Colorspace("convert --to rgb " + Path("yuv.png") + " " + Path("back.jpg"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "colorspace: note: left out of " + Path("back.jpg") + ": the ICC profile (" +
                         std::to_string(big.icc.size()) + " bytes; a JPEG file holds at most " +
                         std::to_string(cstool::kMaxJpegIccBytes) + "); the EXIF data (" +
                         std::to_string(big.exif.size()) +
                         " bytes; a JPEG file holds at most 65527); 40 texts (a JPEG file has no place for them)\n");
  const Picture jpeg = Read(Path("back.jpg"));
  EXPECT_TRUE(jpeg.metadata.icc.empty());
  EXPECT_TRUE(jpeg.metadata.exif.empty());

  // A profile for grey (or any space but RGB) describes none of the tool's
  // outputs, which are colour pictures.
  std::vector<std::uint8_t> grey = MakeIccProfile(300);
  std::copy_n("GRAY", 4, grey.begin() + 16);
  WriteFile(Path("grey-profile.jpg"), JpegWith(grey, kExif, 72));
  for (const char* output : {"out.png", "out.jpg"}) {
    run = Colorspace("convert --to rgb " + Path("grey-profile.jpg") + " " + Path(output));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("left out of " + Path(output) +
                           ": the ICC profile (a GRAY profile, which does not describe a colour picture)"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(Read(Path(output)).metadata.icc.empty());
    EXPECT_EQ(Read(Path(output)).metadata.exif, kExif);
  }
}

}  // namespace
