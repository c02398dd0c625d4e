// The command line's habits: bare usage, exit statuses, case, masks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>

#include "ToolTestSupport.h"
#include "formats/Formats.h"
#include "shared/CommandLine.h"
#include "shared/Picture.h"

namespace {

using namespace tooltest;
namespace fs = std::filesystem;
using cstool::Picture;

TEST_F(Tool, BareCommandPrintsUsageAndWritesNothing) {
  fs::create_directories(Path("empty"));
  const std::string command =
      "cd " + Path("empty") + " && " + COLORSPACE_TOOL + " >" + Path("out.txt") + " 2>" + Path("err.txt");
  const int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
  EXPECT_EQ(Slurp(Path("err.txt")).rfind("usage: colorspace COMMAND", 0), 0U) << Slurp(Path("err.txt"));
  EXPECT_EQ(Slurp(Path("out.txt")), "");
  EXPECT_TRUE(fs::is_empty(Path("empty")));
}

TEST_F(Tool, UsageErrorsExitTwoAndFailuresOne) {
  Write(Path("in.png"), MakeRandomPicture(4, 4));
  struct Case {
    std::string arguments;
    int status;
  };
  const Case cases[] = {
      {"convert --to yuv " + Path("in.png"), 2},
      {"convert --to yuv", 2},
      {"convert " + Path("in.png") + " " + Path("out.png"), 2},
      {"convert --to purple " + Path("in.png") + " " + Path("out.png"), 2},
      {"planes " + Path("in.png"), 2},
      {"pixel --to yuv 1 2", 2},
      {"demo a b", 2},
      {"frobnicate", 2},
      {"convert --to yuv " + Path("missing.png") + " " + Path("out.png"), 1},
      {"planes " + Path("missing.png") + " " + Path("out.png"), 1},
      {"convert --to YUV --from RGB " + Path("in.png") + " " + Path("out.png"), 0},
      {"pixel --to YCbCr 255 0 0", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Colorspace(c.arguments).status, c.status) << c.arguments;
  }
  for (const char* command : {"convert", "planes", "pixel", "demo"}) {
    EXPECT_NE(Colorspace(std::string(command) + " --help").out.find("Exit status: 0 done; 1 "), std::string::npos);
  }
}

TEST_F(Tool, MaskThresholdDecidesAndJpegMasksGetANote) {
  Write(Path("in.png"), MakeRandomPicture(16, 16));
  // Four bands: black, grey 20, grey 40, white.
  Picture mask = MakeMask(16, 16, [](std::size_t) { return false; });
  for (std::size_t p = 0; p < mask.Pixels(); ++p) {
    const int band = static_cast<int>(p % 16) / 4;
    std::memset(&mask.bgra[4 * p], band == 3 ? 255 : band * 20, 3);
  }
  Write(Path("mask.png"), mask);
  const auto selected = [&](const std::string& options) {
    const ToolRun run = Colorspace("convert --to yuv " + options + " --mask " + Path("mask.png") + " " +
                                   Path("in.png") + " " + Path("out.png"));
    EXPECT_EQ(run.status, 0) << run.err;
    const auto& selection = Read(Path("out.png")).record.selection;
    return std::accumulate(selection.begin(), selection.end(), 0);
  };
  EXPECT_EQ(selected(""), 3 * 64);
  EXPECT_EQ(selected("--mask-threshold 20"), 2 * 64);
  EXPECT_EQ(selected("--mask-threshold=40"), 64);
  EXPECT_EQ(Colorspace("convert --to yuv --mask-threshold 255 --mask " + Path("mask.png") + " " + Path("in.png") + " " +
                       Path("x.png"))
                .status,
            2);

  JpegSettings settings;
  settings.width = 16;
  settings.height = 16;
  WriteFile(Path("mask.jpg"), EncodeJpeg(settings));
  ToolRun run = Colorspace("convert --to yuv --mask " + Path("mask.jpg") + " " + Path("in.png") + " " + Path("j.png"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("is a JPEG"), std::string::npos) << run.err;
  run = Colorspace("convert --to yuv --mask-threshold 32 --mask " + Path("mask.jpg") + " " + Path("in.png") + " " +
                   Path("j.png"));
  EXPECT_EQ(run.err.find("is a JPEG"), std::string::npos) << run.err;
}

// The README's list of commands and options is the one the tool is made
// from; so is every command's help.
TEST_F(Tool, ReadmeListsTheCommandsAndOptionsTheToolTakes) {
  const std::string table = cstool::CommandTableMarkdown();
  EXPECT_NE(Slurp(COLORSPACE_README).find(table), std::string::npos)
      << "README.md's table of commands differs from the tool's; it should read:\n"
      << table;
  EXPECT_NE(table.find("`--mask-threshold N`"), std::string::npos);
  const std::string formats = cstool::FormatTableMarkdown();
  EXPECT_NE(Slurp(COLORSPACE_README).find(formats), std::string::npos)
      << "README.md's table of formats differs from the tool's; it should read:\n"
      << formats;
  EXPECT_NE(cstool::HelpFor("convert").find("  --quality N         JPEG quality"), std::string::npos);
  for (const cstool::Format& format : cstool::AllFormats()) {
    EXPECT_NE(OneLine(cstool::HelpFor("convert")).find(std::string(format.name) + " (" + format.suffixes + ")"),
              std::string::npos)
        << format.name;
  }
}

}  // namespace
