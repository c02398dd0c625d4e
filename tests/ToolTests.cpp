// End-to-end runs of the colorspace tool on pictures it, or the test, makes.
#include <ColorSpace/ColorSpace.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "ToolTestSupport.h"
#include "commands/Commands.h"
#include "formats/Formats.h"
#include "shared/OutputFile.h"
#include "shared/Picture.h"

namespace {

using namespace tooltest;
namespace fs = std::filesystem;
using cstool::Model;
using cstool::Picture;

TEST_F(Tool, DemoWritesItsFilesAndExplainsItsTable) {
  const ToolRun run = Colorspace("demo " + Path("demo"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("fast (unmasked)"), std::string::npos);
  EXPECT_NE(run.out.find("exact (masked)"), std::string::npos);
  EXPECT_NE(run.out.find("truncat"), std::string::npos) << "the table is explained";
  EXPECT_NE(run.out.find("false colour"), std::string::npos);
  for (const char* name : {"chart.png", "chart-yuv-fast.png", "chart-ycbcr-exact-back.png", "planes-yuv.png"}) {
    EXPECT_TRUE(fs::exists(Path(std::string("demo/") + name))) << name;
  }
  EXPECT_EQ(Read(Path("demo/planes-ycbcr.png")).width, 3 * Read(Path("demo/chart.png")).width);
}

// Convert and back on both paths; alpha passes through, the model is
// recorded, so the way back needs no --from; a picture without alpha is
// written without it.
TEST_F(Tool, RoundTripsStayCloseAndKeepAlpha) {
  const Picture original = MakeRandomPicture(61, 17);
  Write(Path("in.png"), original);
  const struct {
    const char* model;
    const char* path;
    int bound;
  } cases[] = {{"yuv", "", 3}, {"yuv", " --exact", 5}, {"ycbcr", "", 3}, {"ycbcr", " --exact", 5}};
  for (const auto& c : cases) {
    ToolRun run =
        Colorspace(std::string("convert --to ") + c.model + c.path + " " + Path("in.png") + " " + Path("mid.png"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(cstool::ModelText(Read(Path("mid.png")).record), c.model);
    run = Colorspace(std::string("convert --to rgb") + c.path + " " + Path("mid.png") + " " + Path("back.png"));
    ASSERT_EQ(run.status, 0) << run.err;
    const Picture back = Read(Path("back.png"));
    EXPECT_EQ(cstool::ModelText(back.record), "rgb");
    EXPECT_LE(MaxDifference(original, back, false), c.bound) << c.model << c.path;
    for (std::size_t i = 3; i < back.bgra.size(); i += 4) ASSERT_EQ(back.bgra[i], original.bgra[i]);
  }
  Picture opaque = original;
  opaque.hasAlpha = false;
  for (std::size_t i = 3; i < opaque.bgra.size(); i += 4) opaque.bgra[i] = 255;
  Write(Path("opaque.png"), opaque);
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("opaque.png") + " " + Path("opaque-yuv.png")).status, 0);
  EXPECT_FALSE(Read(Path("opaque-yuv.png")).hasAlpha);
}

// A masked output says it is mixed and carries its selection; the way back
// goes through that selection and gives exactly what the masked path gives.
TEST_F(Tool, MaskedOutputIsMixedAndComesBackThroughItsSelection) {
  const Picture original = MakeRandomPicture(40, 10);
  Write(Path("in.png"), original);
  Write(Path("mask.png"), MakeMask(40, 10, [](std::size_t p) { return p % 3 == 0; }));
  Write(Path("other-mask.png"), MakeMask(40, 10, [](std::size_t p) { return p % 2 == 0; }));
  Write(Path("empty-mask.png"), MakeMask(40, 10, [](std::size_t) { return false; }));

  ToolRun run = Colorspace("convert --to yuv --mask " + Path("mask.png") + " " + Path("in.png") + " " + Path("m.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture mixed = Read(Path("m.png"));
  EXPECT_EQ(cstool::ModelText(mixed.record), "mixed: yuv inside the selection, rgb outside");
  ASSERT_EQ(mixed.record.selection.size(), original.Pixels());
  CColorSpace converter;
  for (std::size_t p = 0; p < original.Pixels(); ++p) {
    ASSERT_EQ(mixed.record.selection[p], p % 3 == 0 ? 1 : 0);
    const std::uint8_t* in = &original.bgra[4 * p];
    std::uint32_t expected = (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0];
    if (p % 3 == 0) converter.RGBtoYUV(expected);
    std::uint8_t bytes[4] = {static_cast<std::uint8_t>(expected), static_cast<std::uint8_t>(expected >> 8),
                             static_cast<std::uint8_t>(expected >> 16), in[3]};
    ASSERT_EQ(std::memcmp(&mixed.bgra[4 * p], bytes, 4), 0) << p;
  }

  // Readers say it is mixed; refusals write nothing.
  const std::vector<std::string> before = Files();
  run = Colorspace("planes " + Path("m.png") + " " + Path("planes.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("mixed"), std::string::npos) << run.err;
  run = Colorspace("convert --to rgb --mask " + Path("other-mask.png") + " " + Path("m.png") + " " + Path("x.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("different --mask"), std::string::npos) << run.err;
  run = Colorspace("convert --to ycbcr " + Path("m.png") + " " + Path("x.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("mix models further"), std::string::npos) << run.err;
  run = Colorspace("convert --to yuv --mask " + Path("empty-mask.png") + " " + Path("in.png") + " " + Path("x.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("selects no pixel"), std::string::npos) << run.err;
  EXPECT_EQ(Files(), before);

  // Back to RGB through the recorded selection (the same --mask is fine):
  // the selected pixels go back exactly, the others were never touched.
  run = Colorspace("convert --to rgb --mask " + Path("mask.png") + " " + Path("m.png") + " " + Path("back.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture back = Read(Path("back.png"));
  EXPECT_EQ(cstool::ModelText(back.record), "rgb");
  for (std::size_t p = 0; p < original.Pixels(); ++p) {
    std::uint32_t expected =
        (std::uint32_t{mixed.bgra[4 * p + 2]} << 16) | (std::uint32_t{mixed.bgra[4 * p + 1]} << 8) | mixed.bgra[4 * p];
    if (p % 3 == 0) converter.YUVtoRGB(expected);
    ASSERT_EQ(back.bgra[4 * p], static_cast<std::uint8_t>(expected)) << p;
    ASSERT_EQ(back.bgra[4 * p + 2], static_cast<std::uint8_t>(expected >> 16)) << p;
    if (p % 3 != 0) {
      ASSERT_EQ(std::memcmp(&back.bgra[4 * p], &original.bgra[4 * p], 4), 0) << p;
    }
  }
  // Or on to the selection's model: the rest follows it.
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("m.png") + " " + Path("all-yuv.png")).status, 0);
  EXPECT_EQ(cstool::ModelText(Read(Path("all-yuv.png")).record), "yuv");
}

// A symbolic link keeps pointing at the replaced file, which keeps its
// permission bits; standard output streams; a full device is an error.
TEST_F(Tool, OutputsReplaceOnlyWhatTheUserMeant) {
  Write(Path("in.png"), MakeRandomPicture(9, 4));
  std::ofstream(Path("target.png")) << "old";
  ::chmod(Path("target.png").c_str(), 0640);
  fs::create_symlink("target.png", Path("link.png"));
  ToolRun run = Colorspace("convert --to yuv " + Path("in.png") + " " + Path("link.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(Path("link.png")));
  EXPECT_EQ(cstool::ModelText(Read(Path("target.png")).record), "yuv");
  struct stat status {};
  ASSERT_EQ(::stat(Path("target.png").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640U);

  const std::string pipe =
      std::string(COLORSPACE_TOOL) + " convert --to yuv " + Path("in.png") + " - | cat > " + Path("piped.png");
  EXPECT_EQ(std::system(pipe.c_str()), 0);
  EXPECT_EQ(cstool::ModelText(Read(Path("piped.png")).record), "yuv");

  if (fs::exists("/dev/full")) {
    run = Colorspace("convert --to yuv " + Path("in.png") + " /dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("/dev/full"), std::string::npos) << run.err;
  }

  // An output that is an input, through another name, is refused before
  // anything is written; so are two inputs that would share an output.
  fs::create_directories(Path("a"));
  fs::create_directories(Path("b"));
  Write(Path("a/x.png"), MakeRandomPicture(3, 3));
  Write(Path("b/x.png"), MakeRandomPicture(3, 3));
  fs::create_symlink(Path("in.png"), Path("alias.png"));
  const std::string inBefore = Slurp(Path("in.png"));
  run = Colorspace("convert --to yuv " + Path("in.png") + " " + Path("alias.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("same file"), std::string::npos) << run.err;
  EXPECT_EQ(Slurp(Path("in.png")), inBefore);
  run = Colorspace("convert --to yuv --out-dir " + Path("out") + " " + Path("a/x.png") + " " + Path("b/x.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("both be written"), std::string::npos) << run.err;
  EXPECT_TRUE(!fs::exists(Path("out/x.png")));
  EXPECT_FALSE(fs::exists(Path("out"))) << "a refused batch makes no directory";
  EXPECT_EQ(run.err.find(".colorspace-"), std::string::npos) << "no temporary name in messages";
}

// Frames go out a row at a time; the output's buffer gathers many rows into
// each write the system sees.
TEST_F(Tool, OutputsGoOutInFewWrites) {
  const auto systemWrites = []() -> std::optional<long> {
    std::ifstream io("/proc/self/io");
    std::string key;
    long value = 0;
    while (io >> key >> value) {
      if (key == "syscw:") return value;
    }
    return std::nullopt;
  };
  if (!systemWrites()) GTEST_SKIP() << "/proc/self/io is not readable here: the write count is unknown";
  std::string error;
  std::optional<cstool::OutputFile> output =
      cstool::OutputFile::Open(Path("rows.bin"), cstool::OutputName::kGiven, error);
  ASSERT_TRUE(output) << error;
  const std::string row(1000, 'x');
  const long before = *systemWrites();
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(std::fwrite(row.data(), 1, row.size(), output->Stream()), row.size());
  const long writes = *systemWrites() - before;
  EXPECT_EQ(output->Commit(), "");
  EXPECT_LE(writes, 8) << "1 MB in rows of 1000 bytes";
  EXPECT_EQ(fs::file_size(Path("rows.bin")), 1024U * 1000);
}

// A large conversion interrupted while it writes leaves no temporary file
// and the old output as it was, and ends with the signal's status.
TEST_F(Tool, SignalsRemoveTheTemporaryFile) {
  Picture big = MakeRandomPicture(3000, 3000);
  Write(Path("big.png"), big);
  std::ofstream(Path("out.png")) << "old";
  for (const int signal : {SIGTERM, SIGINT}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PrepareChild();
      ::execl(COLORSPACE_TOOL, COLORSPACE_TOOL, "convert", "--to", "yuv", "--compression", "best",
              Path("big.png").c_str(), Path("out.png").c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    bool temporarySeen = false;
    for (int wait = 0; wait < 3000 && !temporarySeen; ++wait) {
      for (const std::string& name : Files())
        temporarySeen = temporarySeen || name.find(".colorspace-") != std::string::npos;
      if (!temporarySeen) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(temporarySeen);
    ::kill(child, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(Files(), (std::vector<std::string>{"big.png", "out.png"}));
    EXPECT_EQ(Slurp(Path("out.png")), "old");
  }
}

// A PNG whose header claims 16384 x 16384 pixels: refused from its header,
// with the limit named; --max-pixels moves the limit both ways.
TEST_F(Tool, PixelLimitRefusesBeforeAllocating) {
  {
    // Signature, header, a tiny data chunk and the end: 74 bytes.
    std::string file("\x89PNG\r\n\x1a\n", 8);
    auto chunk = [&file](const char* type, const std::string& data) {
      const std::uint32_t length = static_cast<std::uint32_t>(data.size());
      for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>(length >> shift);
      const std::string body = std::string(type, 4) + data;
      file += body;
      const auto crc = static_cast<std::uint32_t>(
          crc32(0, reinterpret_cast<const unsigned char*>(body.data()), static_cast<unsigned>(body.size())));
      for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>(crc >> shift);
    };
    chunk("IHDR", std::string("\0\0\x40\0\0\0\x40\0\x08\0\0\0\0", 13));  // 16384 x 16384, grey
    chunk("IDAT", std::string("\x78\x01\x01\x06\x00\xf9\xff\0\0\0\0\0\0\0\x06\0\x01", 17));
    chunk("IEND", "");
    ASSERT_EQ(file.size(), 74U);
    std::ofstream(Path("claim.png"), std::ios::binary) << file;
  }
  ToolRun run = Colorspace("convert --to yuv " + Path("claim.png") + " " + Path("out.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("268435456 pixels, above the limit of 134217728"), std::string::npos) << run.err;
  Write(Path("small.png"), MakeRandomPicture(10, 10));
  run = Colorspace("convert --to yuv --max-pixels 99 " + Path("small.png") + " " + Path("out.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("limit of 99"), std::string::npos) << run.err;
  EXPECT_EQ(Colorspace("convert --to yuv --max-pixels 100 " + Path("small.png") + " " + Path("out.png")).status, 0);
}

// JPEG input, made here with libjpeg: colour and grey are read, CMYK is
// refused.
TEST_F(Tool, JpegInputIsReadAndWrittenAsPng) {
  const int width = 48;
  JpegSettings settings;
  settings.width = width;
  settings.height = 32;
  WriteFile(Path("colour.jpg"), EncodeJpeg(settings));
  settings.components = 1;
  WriteFile(Path("grey.jpg"), EncodeJpeg(settings));
  settings.components = 4;
  WriteFile(Path("cmyk.jpg"), EncodeJpeg(settings));

  ToolRun run = Colorspace("convert --to ycbcr " + Path("colour.jpg") + " " + Path("colour.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture colour = Read(Path("colour.png"));
  EXPECT_EQ(colour.width, width);
  EXPECT_EQ(cstool::ModelText(colour.record), "ycbcr");
  run = Colorspace("convert --to rgb " + Path("colour.png") + " " + Path("back.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture back = Read(Path("back.png"));
  Picture decoded = Read(Path("colour.jpg"));
  EXPECT_LE(MaxDifference(decoded, back, false), 4);

  run = Colorspace("convert --to yuv " + Path("grey.jpg") + " " + Path("grey.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture grey = Read(Path("grey.jpg"));
  EXPECT_EQ(grey.bgra[0], grey.bgra[2]);
  run = Colorspace("convert --to yuv " + Path("cmyk.jpg") + " " + Path("cmyk.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("CMYK"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(Path("cmyk.png")));
}

TEST_F(Tool, CommandLineConventions) {
  for (const char* command : {"convert", "planes", "pixel", "demo"}) {
    const ToolRun run = Colorspace(std::string(command) + " --help");
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_EQ(run.out.rfind(std::string("usage: colorspace ") + command, 0), 0U) << run.out;
  }
  EXPECT_NE(Colorspace("--version").out.find("colorspace "), std::string::npos);
  EXPECT_NE(Colorspace("convert --help").out.find("not black and not fully"), std::string::npos);

  Write(Path("-odd.png"), MakeRandomPicture(4, 4));
  ToolRun run = Colorspace("convert --to yuv -- " + Path("-odd.png") + " " + Path("odd-yuv.png"));
  EXPECT_EQ(run.status, 0) << run.err;
  run = Colorspace("convert --to yuv -x " + Path("-odd.png") + " " + Path("out.png"));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("unknown option -x"), std::string::npos) << run.err;
  run = Colorspace("planes --to yuv " + Path("-odd.png") + " " + Path("out.png"));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--model"), std::string::npos) << run.err;
  run = Colorspace("pixel --to yuv --mask " + Path("-odd.png") + " 1 2 3");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("pixel does not take --mask"), std::string::npos) << run.err;
  run = Colorspace("convert --to yuv " + Path("") + " " + Path("out.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("is a directory"), std::string::npos) << run.err;
}

// pixel converts as pictures do (the fast path), or with --exact by the
// single-pixel members; the examples its help and the README give print
// what they say.
TEST_F(Tool, PixelConvertsAsPicturesDoAndItsExamplesRun) {
  std::vector<std::pair<std::string, std::string>> examples;  // arguments, what is printed
  std::istringstream help(Colorspace("pixel --help").out);
  std::string previous;
  for (std::string line; std::getline(help, line); previous = line) {
    if (previous.rfind("  colorspace pixel ", 0) == 0) {
      examples.emplace_back(previous.substr(std::string("  colorspace ").size()),
                            line.substr(line.find_first_not_of(' ')));
    }
  }
  std::istringstream readme(Slurp(COLORSPACE_README));
  for (std::string line; std::getline(readme, line);) {
    const std::size_t comment = line.find("  # ");
    if (line.rfind("colorspace pixel ", 0) != 0 || comment == std::string::npos) continue;
    std::string arguments = line.substr(std::string("colorspace ").size(), comment - std::string("colorspace ").size());
    arguments.erase(arguments.find_last_not_of(' ') + 1);
    examples.emplace_back(arguments, line.substr(comment + 4));
  }
  EXPECT_GE(examples.size(), 8U);
  for (const auto& [arguments, printed] : examples) EXPECT_EQ(Colorspace(arguments).out, printed + "\n") << arguments;

  // A picture of the same colours converts to the same values.
  Picture colours = MakeRandomPicture(4, 1);
  colours.hasAlpha = false;
  const std::uint8_t rgb[4][3] = {{128, 128, 128}, {255, 255, 255}, {255, 0, 0}, {12, 200, 99}};
  for (std::size_t p = 0; p < 4; ++p) {
    colours.bgra[4 * p] = rgb[p][2];
    colours.bgra[4 * p + 1] = rgb[p][1];
    colours.bgra[4 * p + 2] = rgb[p][0];
    colours.bgra[4 * p + 3] = 255;
  }
  Write(Path("colours.png"), colours);
  for (const char* model : {"yuv", "ycbcr"}) {
    for (const char* path : {"", " --exact"}) {
      ASSERT_EQ(
          Colorspace(std::string("convert --to ") + model + path + " " + Path("colours.png") + " " + Path("out.png"))
              .status,
          0);
      const Picture out = Read(Path("out.png"));
      for (std::size_t p = 0; p < 4; ++p) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "#%02X%02X%02X\n", out.bgra[4 * p + 2], out.bgra[4 * p + 1],
                      out.bgra[4 * p]);
        const std::string arguments = std::string("pixel --format hex --to ") + model + path + " " +
                                      std::to_string(rgb[p][0]) + " " + std::to_string(rgb[p][1]) + " " +
                                      std::to_string(rgb[p][2]);
        EXPECT_EQ(Colorspace(arguments).out, expected) << arguments;
      }
    }
  }
  EXPECT_EQ(Colorspace("pixel --to yuv 256 0 0").status, 2);
}

// Writes a 16-bit RGB PNG, a palette PNG or a 4-bit grey PNG with libpng.
void WriteUnusualPng(const std::string& path, int kind) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  const int width = 4;
  const int depth = kind == 0 ? 16 : (kind == 1 ? 8 : 4);
  const int type = kind == 0 ? PNG_COLOR_TYPE_RGB : (kind == 1 ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_GRAY);
  png_set_IHDR(png, info, width, 1, depth, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color palette[2] = {{10, 20, 30}, {200, 100, 50}};
  if (kind == 1) png_set_PLTE(png, info, palette, 2);
  png_write_info(png, info);
  std::uint8_t row[24] = {};
  if (kind == 0) {
    for (std::size_t i = 0; i < 12; ++i) row[2 * i] = static_cast<std::uint8_t>(20 * i);  // high bytes
  } else if (kind == 1) {
    row[0] = 0;
    row[1] = 1;
  } else {
    row[0] = 0xF0;  // grey 15 then 0, in 4 bits
  }
  png_write_row(png, row);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

TEST_F(Tool, UnusualPngsAreExpandedOrReduced) {
  WriteUnusualPng(Path("deep.png"), 0);
  WriteUnusualPng(Path("palette.png"), 1);
  WriteUnusualPng(Path("grey.png"), 2);
  const ToolRun run = Colorspace("convert --to yuv " + Path("deep.png") + " " + Path("deep-yuv.png"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "colorspace: note: " + Path("deep.png") + ": 16-bit samples reduced to 8 bits\n");
  Picture picture = Read(Path("deep.png"));
  EXPECT_EQ(picture.bgra[2], 0);   // R of pixel 0: high byte 0
  EXPECT_EQ(picture.bgra[6], 60);  // R of pixel 1: high byte 60
  picture = Read(Path("palette.png"));
  EXPECT_EQ(picture.bgra[4 + 2], 200);
  EXPECT_EQ(picture.bgra[4 + 3], 255);
  picture = Read(Path("grey.png"));
  EXPECT_EQ(picture.bgra[0], 255);
  EXPECT_EQ(picture.bgra[2], 255);
  EXPECT_EQ(picture.bgra[4], 0);
}

// Every bad input: one line on stderr, non-zero status, no output file (and
// no temporary one), an existing output untouched.
TEST_F(Tool, BadInputsFailCleanly) {
  Write(Path("good.png"), MakeRandomPicture(8, 8));
  Write(Path("small.png"), MakeRandomPicture(4, 4));
  std::ofstream(Path("text.png")) << "not a picture\n";
  {
    const std::string whole = Slurp(Path("good.png"));
    std::ofstream(Path("truncated.png"), std::ios::binary) << whole.substr(0, whole.size() / 2);
  }
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("good.png") + " " + Path("good-yuv.png")).status, 0);
  std::ofstream(Path("existing.png")) << "keep me";

  const std::string cases[] = {
      "convert --to yuv " + Path("missing.png") + " OUT",
      "convert --to yuv " + Path("text.png") + " OUT",
      "convert --to yuv " + Path("truncated.png") + " OUT",
      "convert --to lab " + Path("good.png") + " OUT",
      "convert --to yuv --mask " + Path("small.png") + " " + Path("good.png") + " OUT",
      "convert --to rgb --from ycbcr " + Path("good-yuv.png") + " OUT",
      "convert --to yuv --bogus " + Path("good.png") + " OUT",
      "planes --model rgb " + Path("good.png") + " OUT",
  };
  const std::vector<std::string> before = Files();
  for (const std::string& arguments : cases) {
    for (const char* output : {"new.png", "existing.png"}) {
      std::string command = arguments;
      command.replace(command.find("OUT"), 3, Path(output));
      const ToolRun run = Colorspace(command);
      EXPECT_NE(run.status, 0) << command;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << command << ": " << run.err;
      EXPECT_EQ(run.err.rfind("colorspace: ", 0), 0U) << run.err;
      EXPECT_EQ(Files(), before) << command;
      EXPECT_EQ(Slurp(Path("existing.png")), "keep me") << command;
    }
  }
}

TEST_F(Tool, SeveralInputsIntoADirectoryInParallel) {
  std::string inputs;
  for (int i = 0; i < 6; ++i) {
    const std::string input = Path("in" + std::to_string(i) + ".png");
    Write(input, MakeRandomPicture(5 + i, 3, static_cast<unsigned>(i)));
    inputs.append(" ").append(input);
  }
  fs::create_directories(Path("out"));
  const ToolRun run = Colorspace("convert --to ycbcr --jobs 3 --out-dir " + Path("out/new") + inputs);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "") << "no progress line when stderr is not a terminal";
  for (int i = 0; i < 6; ++i) {
    const Picture picture = Read(Path("out/new/in" + std::to_string(i) + ".png"));
    EXPECT_EQ(picture.width, 5 + i);
    EXPECT_EQ(cstool::ModelText(picture.record), "ycbcr");
  }
}

}  // namespace
