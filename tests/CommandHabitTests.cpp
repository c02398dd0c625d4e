// The command line's habits: bare usage, exit statuses, case, masks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>

#include "ToolTestSupport.h"
#include "commandline/CommandLine.h"
#include "formats/Formats.h"
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
  const std::string table = Colorspace("--generate commands-table").out;
  EXPECT_NE(Slurp(COLORSPACE_README).find(table), std::string::npos)
      << "README.md's table of commands differs from the tool's; it should read:\n"
      << table;
  EXPECT_NE(table.find("`--mask-threshold N`"), std::string::npos);
  for (const char* what : {"formats-table", "defaults-table"}) {
    const std::string made = Colorspace(std::string("--generate ") + what).out;
    EXPECT_FALSE(made.empty());
    EXPECT_NE(Slurp(COLORSPACE_README).find(made), std::string::npos)
        << "README.md's " << what << " differs from the tool's; it should read:\n"
        << made;
  }
  const std::string help = Colorspace("convert --help").out;
  EXPECT_NE(help.find("  --quality N         JPEG quality"), std::string::npos);
  for (const cstool::Format& format : cstool::AllFormats()) {
    EXPECT_NE(OneLine(help).find(std::string(format.name) + " (" + format.suffixes + ")"), std::string::npos)
        << format.name;
  }
}

// The manual page and the bash completion in docs/ are what the tool makes
// from its tables; the page formats, and the completion offers what each
// command takes.
TEST_F(Tool, ManPageAndCompletionAgreeWithTheTables) {
  const std::string docs = std::string(COLORSPACE_SOURCE) + "/docs/";
  for (const auto& [what, file] :
       {std::pair{"man", "colorspace.1"}, std::pair{"bash-completion", "colorspace.bash-completion"}}) {
    const std::string made = Colorspace(std::string("--generate ") + what).out;
    EXPECT_EQ(Slurp(docs + file), made) << "docs/" << file << " differs from what colorspace --generate " << what
                                        << " makes; make it again with that command";
  }
  if (std::system("man --version >/dev/null 2>&1") == 0) {
    const ToolRun page = RunShellCommand("MANWIDTH=80 man --warnings -l " + docs + "colorspace.1");
    EXPECT_NE(page.out.find("--chroma-siting"), std::string::npos);
    EXPECT_EQ(page.err, "") << "the manual page formats without a warning";
  }
  auto complete = [&](const std::string& line) {
    return RunShellCommand("bash -c 'source " + docs + "colorspace.bash-completion; COMP_WORDS=(" + line +
                           "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                           "_colorspace; echo ${COMPREPLY[@]}'")
        .out;
  };
  EXPECT_EQ(complete("colorspace co"), "convert\n");
  EXPECT_EQ(complete("colorspace convert --sam"), "--sampling\n");
  EXPECT_EQ(complete("colorspace convert --to \"\""), "rgb yuv ycbcr\n");
  EXPECT_EQ(complete("colorspace planes --format \"\""), "png jpeg\n");
  EXPECT_EQ(complete("colorspace pixel --format \"\""), "text hex csv\n");
  EXPECT_EQ(complete("colorspace pixel --sam"), "\n") << "pixel takes no --sampling";
}

// The habits a newcomer trips on: the same model is a change of format, a
// file that records no model names --from, no picture on a terminal, '-'
// has no name under --out-dir, folders are made one level deep, and an
// option that does nothing says so.
TEST_F(Tool, RefusalsAndNotesSayWhatToDo) {
  Picture picture = MakeRandomPicture(6, 4);
  picture.hasAlpha = false;
  Write(Path("plain.png"), picture);
  ToolRun run = Colorspace("convert --to rgb " + Path("plain.png") + " " + Path("copy.jpg"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("is already rgb (it records no model, so it is taken as rgb; --from names another): its "
                         "pixels are copied unchanged"),
            std::string::npos)
      << run.err;
  ASSERT_EQ(Colorspace("convert --to rgb " + Path("plain.png") + " " + Path("copy.png")).status, 0);
  EXPECT_EQ(Read(Path("copy.png")).bgra, Read(Path("plain.png")).bgra);

  // A terminal (a pseudo-terminal from script(1)) gets no picture.
  if (std::system("script --version >/dev/null 2>&1") == 0) {
    const std::string typed = std::string(COLORSPACE_TOOL) + " convert --to yuv " + Path("plain.png") + " -";
    run = RunShellCommand("script -qec '" + typed + "' /dev/null");
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("standard output is a terminal, where a picture would print as noise: redirect it"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("PNG"), std::string::npos);
    run = RunShellCommand("script -qec '" + std::string(COLORSPACE_TOOL) + " convert --to yuv " + Path("plain.png") +
                          " /dev/tty' /dev/null");
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("/dev/tty is a terminal"), std::string::npos) << run.out;
  }
  // A broken pipe to /dev/stdout is said once, as standard output (the
  // stream is larger than the pipe holds).
  Picture large = MakeRandomPicture(300, 300);
  large.hasAlpha = false;
  Write(Path("large.png"), large);
  run = RunShellCommand(std::string(COLORSPACE_TOOL) + " convert --to yuv --format y4m " + Path("large.png") +
                        " /dev/stdout | head -c 10 >/dev/null");
  EXPECT_EQ(run.err, "colorspace: cannot write to standard output: Broken pipe\n");

  run = Colorspace("convert --to yuv --out-dir " + Path("od") + " - <" + Path("plain.png"));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("'-' has no name to write under --out-dir: give it with an output name"), std::string::npos);
  for (const std::string& command :
       {"convert --to yuv --out-dir " + Path("deep/er") + " " + Path("plain.png"), "demo " + Path("deep/er")}) {
    run = Colorspace(command);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(run.err.find("as the output folder: the folder it would go in does not exist"), std::string::npos)
        << run.err;
  }
  EXPECT_FALSE(fs::exists(Path("deep")));
  EXPECT_EQ(Colorspace("convert --to yuv --out-dir " + Path("one") + " " + Path("plain.png")).status, 0);
  EXPECT_TRUE(fs::exists(Path("one/plain.png")));

  const struct {
    std::string arguments;
    std::string note;
  } idle[] = {
      {"convert --to yuv --quality 80 " + Path("plain.png") + " " + Path("q.png"),
       "--quality has no effect: it shapes JPEG outputs, and none is written"},
      {"convert --to rgb --compression best " + Path("plain.png") + " " + Path("c.jpg"),
       "--compression has no effect: it shapes PNG outputs, and none is written"},
      {"convert --to yuv --mask-threshold 40 " + Path("plain.png") + " " + Path("t.png"),
       "--mask-threshold has no effect: it applies to a --mask, and none is given"},
      {"convert --to yuv --forget-selection " + Path("plain.png") + " " + Path("f.png"),
       "--forget-selection has no effect on " + Path("plain.png") + ": it has no lost selection to forget"},
      {"convert --to yuv --fps 30 " + Path("plain.png") + " " + Path("r.png"),
       "--fps has no effect: it shapes YUV4MPEG2 outputs, and none is written"},
      {"convert --to yuv --chroma-siting left " + Path("plain.png") + " " + Path("s.y4m"),
       "--chroma-siting has no effect: no 4:2:0 chroma is written, and none is read from raw planes"},
      {"convert --to yuv --input-size 2x2 " + Path("plain.png") + " " + Path("i.png"),
       "--input-size has no effect: no input is read as raw planes"},
      {"planes --quality 50 " + Path("plain.png") + " " + Path("p.png"), "--quality has no effect: the output is PNG"},
  };
  for (const auto& c : idle) {
    run = Colorspace(c.arguments);
    EXPECT_EQ(run.status, 0) << c.arguments << ": " << run.err;
    EXPECT_NE(run.err.find("note: " + c.note), std::string::npos) << c.arguments << ": " << run.err;
  }
  // A help lists what its command does: planes writes no stream.
  const std::string planes = Colorspace("planes --help").out;
  EXPECT_NE(planes.find("--format png|jpeg "), std::string::npos) << planes;
  EXPECT_EQ(planes.find("y4m"), std::string::npos) << planes;
}

}  // namespace
