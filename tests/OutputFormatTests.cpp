// The output's format follows its name (PNG, JPEG, YUV4MPEG2), YUV4MPEG2 is
// read back, and ffmpeg reads what the tool writes and writes what it reads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

#include "ToolTestSupport.h"
#include "formats/Formats.h"
#include "shared/Picture.h"

namespace {

using namespace tooltest;
namespace fs = std::filesystem;
using cstool::Model;
using cstool::Picture;

// Smooth enough for JPEG to keep it close.
Picture MakeGradient(int width, int height) {
  Picture picture = Tool::MakeRandomPicture(width, height);
  picture.hasAlpha = false;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel =
          &picture
               .bgra[4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x))];
      pixel[0] = static_cast<std::uint8_t>(x * 4);
      pixel[1] = static_cast<std::uint8_t>(y * 4);
      pixel[2] = static_cast<std::uint8_t>(128 + (x - y));
      pixel[3] = 255;
    }
  }
  return picture;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST_F(Tool, OutputFormatFollowsTheName) {
  const Picture original = MakeGradient(48, 40);
  Write(Path("in.png"), original);
  ToolRun run = Colorspace("convert --to yuv " + Path("in.png") + " " + Path("yuv.png"));
  ASSERT_EQ(run.status, 0) << run.err;

  // JPEG, by either suffix in any case; smaller at a lower quality.
  for (const char* name : {"out.jpg", "OUT.JPEG"}) {
    run = Colorspace("convert --to rgb " + Path("yuv.png") + " " + Path(name));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Slurp(Path(name)).substr(0, 3), "\xFF\xD8\xFF");
    EXPECT_LE(MaxDifference(Read(Path(name)), original, false), 8) << name;
  }
  run = Colorspace("convert --to rgb --quality 40 " + Path("yuv.png") + " " + Path("low.jpg"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_LT(fs::file_size(Path("low.jpg")), fs::file_size(Path("out.jpg")));
  // Colour kept at every pixel from quality 90, sampled 4:2:0 below: the
  // luma's sampling factors in the frame header say which.
  const auto lumaSampling = [](const std::string& jpeg) {
    const std::size_t frame = jpeg.find("\xFF\xC0");
    return frame == std::string::npos ? -1 : static_cast<unsigned char>(jpeg[frame + 11]);
  };
  EXPECT_EQ(lumaSampling(Slurp(Path("out.jpg"))), 0x11);
  EXPECT_EQ(lumaSampling(Slurp(Path("low.jpg"))), 0x22);

  // YUV4MPEG2: one C444 frame, the range telling the model; read back exactly.
  for (const Model model : {Model::kYUV, Model::kYCbCr}) {
    const std::string name = std::string(cstool::NameOf(model)) + ".y4m";
    run = Colorspace(std::string("convert --to ") + cstool::NameOf(model) + " " + Path("in.png") + " " + Path(name));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string file = Slurp(Path(name));
    EXPECT_EQ(FirstLine(file), std::string("YUV4MPEG2 W48 H40 F25:1 Ip A1:1 C444 XCOLORRANGE=") +
                                   (model == Model::kYUV ? "FULL" : "LIMITED"));
    EXPECT_EQ(file.size(), FirstLine(file).size() + 1 + 6 + std::size_t{48} * 40 * 3);
    const Picture back = Read(Path(name));
    EXPECT_EQ(back.record.model, model);
    if (model == Model::kYUV) {
      EXPECT_EQ(MaxDifference(back, Read(Path("yuv.png")), false), 0);
    }
  }
  // '-' is PNG unless --format says otherwise; --out-dir names follow --format.
  run = Colorspace("convert --to yuv " + Path("in.png") + " -");
  EXPECT_EQ(run.out.substr(0, 4), "\x89PNG");
  run = Colorspace("convert --to yuv --format y4m " + Path("in.png") + " -");
  EXPECT_EQ(run.out.rfind("YUV4MPEG2 ", 0), 0U);
  run = Colorspace("convert --to ycbcr --format Y4M --out-dir " + Path("dir") + " " + Path("in.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(Path("dir/in.y4m")));
}

TEST_F(Tool, FormatsRefuseWhatTheyCannotHoldBeforeWriting) {
  Write(Path("in.png"), MakeGradient(16, 16));
  Picture clear = MakeGradient(16, 16);
  clear.hasAlpha = true;
  clear.bgra[3] = 0;
  Write(Path("clear.png"), clear);
  Write(Path("mask.png"), MakeMask(16, 16, [](std::size_t p) { return p % 3 == 0; }));
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("in.png") + " " + Path("yuv.png")).status, 0);
  const auto before = Files();

  struct Case {
    std::string arguments;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {"--to yuv " + Path("in.png") + " " + Path("out.jpg"), 2,
       "write png (.png), y4m (.y4m) or raw (.yuv), or convert --to rgb"},
      {"--to ycbcr " + Path("in.png") + " " + Path("out.jpeg"), 2, "a ycbcr result cannot be written"},
      {"--to rgb --mask " + Path("mask.png") + " " + Path("yuv.png") + " " + Path("out.jpg"), 2, "mixed result"},
      {"--to yuv --mask " + Path("mask.png") + " " + Path("in.png") + " " + Path("out.y4m"), 2, "mixed result"},
      {"--to rgb " + Path("yuv.png") + " " + Path("out.y4m"), 2, "convert --to yuv or --to ycbcr"},
      {"--to yuv " + Path("in.png") + " " + Path("out.bmp"), 2, "png (.png), jpeg (.jpg .jpeg), y4m (.y4m)"},
      {"--to yuv " + Path("in.png") + " " + Path("noname"), 2, "--format chooses one"},
      {"--to yuv --format jpeg " + Path("in.png") + " " + Path("out.png"), 2, "--format says jpeg"},
      {"--to yuv --format gif " + Path("in.png") + " " + Path("out.png"), 2, "--format takes one of"},
      {"--to rgb --quality 101 " + Path("yuv.png") + " " + Path("out.jpg"), 2, "--quality takes"},
      {"--to yuv --format jpeg --out-dir " + Path("dir") + " " + Path("in.png"), 2, "cannot be written"},
      {"--to yuv " + Path("clear.png") + " " + Path("out.y4m"), 1, "transparent pixels"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Colorspace("convert " + c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.arguments << ": " << run.err;
    EXPECT_EQ(Files(), before) << c.arguments;
  }
  const ToolRun run = Colorspace("planes " + Path("in.png") + " " + Path("planes.y4m"));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("grey picture"), std::string::npos) << run.err;
  EXPECT_EQ(Colorspace("planes " + Path("in.png") + " " + Path("planes.jpg")).status, 0);
}

// YUV4MPEG2 headers: every common 8-bit sampling read, a stream without a
// range taken as studio range with a note, what is not read refused by name
// with the ffmpeg pixel format that writes what is.
TEST_F(Tool, Y4mHeadersAreReadOrRefusedByName) {
  const std::string planes444(std::size_t{4} * 2 * 3, '\x50');
  const std::string planes420(std::size_t{4 * 2 + 2 * 2 * 1}, '\x50');
  WriteFile(Path("no-range.y4m"), "YUV4MPEG2 W4 H2 F25:1 C444\nFRAME\n" + planes444);
  WriteFile(Path("default-420.y4m"), "YUV4MPEG2 W4 H2 XCOLORRANGE=FULL\nFRAME\n" + planes420);
  WriteFile(Path("two.y4m"), "YUV4MPEG2 W4 H2 C444 XCOLORRANGE=FULL\nFRAME\n" + planes444 + "FRAME\n" + planes444);
  WriteFile(Path("short.y4m"), "YUV4MPEG2 W4 H2 C444 XCOLORRANGE=FULL\nFRAME\n" + planes444.substr(1));
  WriteFile(Path("huge.y4m"), "YUV4MPEG2 W100000 H100000 C444 XCOLORRANGE=FULL\nFRAME\n");
  WriteFile(Path("deep.y4m"), "YUV4MPEG2 W4 H2 C420p10 XCOLORRANGE=FULL\nFRAME\n");
  WriteFile(Path("studio-deep.y4m"), "YUV4MPEG2 W4 H2 C422p10\nFRAME\n");
  WriteFile(Path("alpha.y4m"), "YUV4MPEG2 W4 H2 C444alpha\nFRAME\n");
  WriteFile(Path("fields.y4m"), "YUV4MPEG2 W4 H2 It C420mpeg2\nFRAME\n" + planes420);
  const std::pair<const char*, const char*> refusals[] = {
      {"two.y4m", "holds more than one frame, and "},
      {"short.y4m", "frame 1 is cut short"},
      {"huge.y4m", "above the limit"},
      {"deep.y4m",
       "is YUV4MPEG2 C420p10, which is not read (C444, C422, C420jpeg, C420, C420mpeg2, C420paldv, "
       "Cmono, 8 bits a sample, are): ffmpeg -pix_fmt yuvj420p writes one that is"},
      {"studio-deep.y4m", "ffmpeg -pix_fmt yuv422p writes one that is"},
      {"alpha.y4m", "ffmpeg -pix_fmt yuv444p writes one that is, without the alpha plane"},
      {"fields.y4m", "is interlaced (It) 4:2:0, whose chroma belongs to its fields"},
  };
  for (const auto& [name, says] : refusals) {
    const ToolRun run = Colorspace("convert --to rgb " + Path(name) + " " + Path("out.png"));
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_NE(run.err.find(says), std::string::npos) << name << ": " << run.err;
    EXPECT_FALSE(fs::exists(Path("out.png"))) << name;
  }
  ToolRun run = Colorspace("convert --to rgb " + Path("no-range.y4m") + " " + Path("studio.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("does not say its range (no XCOLORRANGE): taken as ycbcr (studio range)"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("--from yuv"), std::string::npos) << run.err;
  run = Colorspace("convert --to rgb --from yuv " + Path("no-range.y4m") + " " + Path("full.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(Read(Path("studio.png")).bgra, Read(Path("full.png")).bgra);
  run = Colorspace("convert --to rgb " + Path("default-420.y4m") + " " + Path("420.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  // Standard input, told apart by its bytes.
  run = Colorspace("convert --to rgb --from yuv - " + Path("stdin.png") + " <" + Path("no-range.y4m"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read(Path("stdin.png")).bgra, Read(Path("full.png")).bgra);
}

// '-' reads any format from a pipe, and the pixel limit still applies from
// the header: an endless pipe after it is refused at once.
TEST_F(Tool, StandardInputIsReadLikeAFile) {
  const Picture original = MakeGradient(20, 12);
  Write(Path("in.png"), original);
  ASSERT_EQ(Colorspace("convert --to ycbcr " + Path("in.png") + " " + Path("in.y4m")).status, 0);
  WriteFile(Path("in.jpg"), EncodeJpeg({}));
  for (const char* input : {"in.png", "in.y4m", "in.jpg"}) {
    const std::string name = input;
    const std::string expected = name == "in.png" ? "yuv" : (name == "in.y4m" ? "rgb" : "ycbcr");
    const std::string command =
        "cat " + Path(input) + " | " + COLORSPACE_TOOL + " convert --to " + expected + " - - | cat >" + Path("out.png");
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(cstool::ModelText(Read(Path("out.png")).record), expected) << input;
  }
  WriteFile(Path("big.y4m"), "YUV4MPEG2 W50000 H50000 C444 XCOLORRANGE=FULL\n");
  WriteFile(Path("big.png"), kPngSignature + ChunkBytes(GreyHeader(50000, 50000)));
  for (const char* input : {"big.y4m", "big.png"}) {
    const MeasuredRun run = RunMeasured("sh -c 'cat " + Path(input) + " /dev/zero | " + COLORSPACE_TOOL +
                                            " convert --to rgb --max-pixels 1000000 - " + Path("out2.png") + "'",
                                        Path("err.txt"));
    EXPECT_EQ(run.status, 1) << input;
    EXPECT_NE(run.err.find("above the limit of 1000000"), std::string::npos) << input << ": " << run.err;
    EXPECT_LT(run.seconds, 20) << input;
  }
  EXPECT_FALSE(fs::exists(Path("out2.png")));
  const ToolRun run = Colorspace("convert --to yuv --mask - - " + Path("out3.png") + " <" + Path("in.png"));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("read only once"), std::string::npos) << run.err;
}

TEST_F(Tool, FfmpegReadsTheY4mWrittenAndWritesOneThatIsRead) {
  if (!HasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the YUV4MPEG2 exchange with it is not tested";
  Picture original = MakeRandomPicture(97, 61);
  original.hasAlpha = false;
  for (std::size_t i = 3; i < original.bgra.size(); i += 4) original.bgra[i] = 255;
  Write(Path("in.png"), original);
  const std::string ffmpeg = "ffmpeg -nostdin -loglevel error -y -i ";
  for (const char* model : {"yuv", "ycbcr"}) {
    const std::string y4m = Path(std::string(model) + ".y4m");
    const ToolRun run = Colorspace(std::string("convert --to ") + model + " " + Path("in.png") + " " + y4m);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string back = Path(std::string(model) + "-ffmpeg.png");
    ASSERT_EQ(std::system((ffmpeg + y4m + " -pix_fmt rgb24 " + back).c_str()), 0) << model;
    EXPECT_LE(MaxDifference(Read(back), original, false), 3) << model;
  }
  for (const auto& [pixelFormat, model] : {std::pair{"yuv444p", Model::kYCbCr}, std::pair{"yuvj444p", Model::kYUV}}) {
    const std::string y4m = Path(std::string(pixelFormat) + ".y4m");
    ASSERT_EQ(std::system((ffmpeg + Path("in.png") + " -pix_fmt " + pixelFormat + " " + y4m).c_str()), 0);
    EXPECT_EQ(Read(y4m).record.model, model) << pixelFormat;
    const std::string back = Path(std::string(pixelFormat) + "-back.png");
    const ToolRun run = Colorspace("convert --to rgb " + y4m + " " + back);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_LE(MaxDifference(Read(back), original, false), 3) << pixelFormat;
  }
}

// What the README says of the models' names elsewhere: yuv is ffmpeg's
// yuvj444p and ycbcr its yuv444p (BT.601), never more than 1 apart;
// ImageMagick's YCbCr is full range, 0 to 2 below yuv and far from ycbcr.
TEST_F(Tool, ModelsAreWhatOtherProgramsCallThemAsTheReadmeSays) {
  if (!HasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the names are compared with its pixel formats";
  Picture colours = MakeRandomPicture(256, 256, 17);
  colours.hasAlpha = false;
  for (std::size_t i = 3; i < colours.bgra.size(); i += 4) colours.bgra[i] = 255;
  Write(Path("colours.png"), colours);
  auto planes = [&](const std::string& y4m) {
    const std::string file = Slurp(y4m);
    return file.substr(file.find("FRAME\n") + 6);
  };
  auto largest = [](const std::string& a, const std::string& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
      worst = std::max(worst, std::abs(int{static_cast<unsigned char>(a[i])} - static_cast<unsigned char>(b[i])));
    }
    return worst;
  };
  for (const auto& [model, range, pixelFormat] :
       {std::tuple{"yuv", "full", "yuvj444p"}, std::tuple{"ycbcr", "limited", "yuv444p"}}) {
    ASSERT_EQ(Colorspace(std::string("convert --to ") + model + " " + Path("colours.png") + " " +
                         Path(std::string(model) + ".y4m"))
                  .status,
              0);
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y -i " + Path("colours.png") +
                           " -vf scale=out_color_matrix=bt601:out_range=" + range + ",format=" + pixelFormat +
                           " -f yuv4mpegpipe " + Path(std::string(pixelFormat) + ".y4m"))
                              .c_str()),
              0);
    EXPECT_EQ(largest(planes(Path(std::string(model) + ".y4m")), planes(Path(std::string(pixelFormat) + ".y4m"))), 1)
        << model;
  }
  if (std::system("/usr/bin/convert -version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ImageMagick (/usr/bin/convert) is not installed: its YCbCr is not compared";
  }
  ASSERT_EQ(std::system(("/usr/bin/convert " + Path("colours.png") +
                         " -colorspace YCbCr -set colorspace sRGB -depth 8 rgb:" + Path("magick.rgb"))
                            .c_str()),
            0);
  const std::string magick = Slurp(Path("magick.rgb"));
  ASSERT_EQ(magick.size(), std::size_t{256} * 256 * 3);
  for (const auto& [model, below, yFar] : {std::tuple{"yuv", 2, 1}, std::tuple{"ycbcr", 255, 15}}) {
    ASSERT_EQ(Colorspace(std::string("convert --to ") + model + " " + Path("colours.png") + " " + Path("m.png")).status,
              0);
    const Picture ours = Read(Path("m.png"));
    int lowest = 255;
    int highest = -255;
    int yWorst = 0;
    for (std::size_t p = 0; p < std::size_t{256} * 256; ++p) {
      for (int c = 0; c < 3; ++c) {
        const int difference = ours.bgra[4 * p + 2 - static_cast<std::size_t>(c)] -
                               static_cast<unsigned char>(magick[3 * p + static_cast<std::size_t>(c)]);
        lowest = std::min(lowest, difference);
        highest = std::max(highest, difference);
        if (c == 0) yWorst = std::max(yWorst, std::abs(difference));
      }
    }
    if (std::string(model) == "yuv") {
      EXPECT_GE(lowest, 0);
      EXPECT_LE(highest, below);
      EXPECT_EQ(yWorst, yFar);
    } else {
      EXPECT_GE(yWorst, yFar) << "ImageMagick's YCbCr is not the studio range";
    }
  }
}

}  // namespace
