// colorspace: converts pictures, video frames and single colours between
// RGB, YUV and YCbCr with the ColorSpace library, and shows what a
// conversion does. The table of commands is here; the options, their
// parsing and the texts made from the tables are in commandline/, the
// commands in commands/, the file formats in formats/, and what every room
// shares in shared/.
#include <malloc.h>

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "commandline/CommandLine.h"
#include "commandline/Documents.h"
#include "commands/Commands.h"
#include "shared/OutputFile.h"
#include "shared/StandardStreams.h"

namespace {

using namespace cstool;

constexpr int kLargeBlockBytes = 256 << 10;

// The commands, one row each; their options are declared in
// commandline/CommandLine.cpp. Help texts: see CommandInfo.
constexpr CommandInfo kCommands[] = {
    {"convert", "convert pictures and video frames; the output's name chooses its format",
     "usage: colorspace convert --to MODEL [OPTIONS] INPUT OUTPUT\n"
     "       colorspace convert --to MODEL [OPTIONS] INPUT... STREAM|SEQUENCE\n"
     "       colorspace convert --to MODEL [OPTIONS] --out-dir DIR INPUT...\n",
     "Converts pictures and video frames between rgb, yuv (full range) and ycbcr (studio range), with the BT.601 "
     "matrix, by the fast path, or with --exact or --mask by the exact one; yuv and ycbcr convert through rgb, "
     "rounding twice. The same model on both sides is a change of format: the pixels are copied unchanged, with a "
     "note. The output's name chooses its format:\n\n"
     "{formats}\n\n"
     "A result a format cannot hold is refused before anything is written, and so is any other name (--format "
     "chooses a format for any name).\n\n"
     "Frames: a YUV4MPEG2 or raw input may hold many frames, converted one at a time with one frame in memory, "
     "from a file or a pipe. Several inputs with one stream output (.y4m, .yuv, or '-' with --format y4m) make one "
     "stream, frames in the order given, all of one size. An output name with a frame number, as frames/%04d.png "
     "(%d, %Nd or %0Nd; %% is a %), writes a picture a frame, the first numbered 1, and never replaces an input "
     "or the mask. A stream cut short keeps the frames before the cut (unless that would replace a file that was "
     "there, which is left as it was), and the run ends with status 1.\n\n"
     "YUV4MPEG2 is read in C444, C422, C420jpeg (and C420), C420mpeg2, C420paldv and Cmono, 8 bits a sample; "
     "other tags are refused by name. XCOLORRANGE=FULL is read as yuv, LIMITED as ycbcr, and a stream that does "
     "not say is taken as ycbcr, as video tools take it, with a note (--from yuv reads it as full range). Reduced "
     "chroma is brought to every pixel by bilinear interpolation at the positions the tag states, in integers "
     "rounded half up once: {upsampling} Chroma written 4:2:2 or 4:2:0 is reduced by a filter that matches the "
     "siting, rounded half up once: {downsampling} Interlaced 4:2:0 (It, Ib) is refused; the interlacing of 4:4:4 "
     "and 4:2:2 is carried to a .y4m output.\n\n"
     "HD video is usually BT.709, and a .y4m does not say which matrix it holds: have ffmpeg write BT.601, as "
     "ffmpeg -i clip.mp4 -vf scale=out_color_matrix=bt601:out_range=tv -pix_fmt yuv420p -f yuv4mpegpipe - "
     "(out_range=pc and yuvj420p for full range), so that no colour shifts unawares.\n\n"
     "Kept from the input: a PNG's iCCP, sRGB, gAMA, cHRM, pHYs, tEXt, zTXt, iTXt and eXIf chunks, every text "
     "among them; a JPEG's ICC profile, EXIF and JFIF density (as iCCP, eXIf and pHYs). A PNG output keeps all of "
     "them; a JPEG output keeps the ICC profile (up to 255 segments), EXIF (up to one segment) and density; a "
     ".y4m or .yuv keeps none. What an output cannot hold is left out with a note naming it, and so is a profile "
     "that is not an RGB profile (the outputs are colour pictures). Not kept: other chunks, JPEG comments and "
     "other APPn segments. EXIF orientation is kept as data, never applied to the pixels. Everything a file "
     "holds, its metadata as it is inflated included, counts against --max-memory.\n",
     "OUTPUT may be '-' (standard output), /dev/stdout, /dev/fd/N, a device or a FIFO: it is then written "
     "directly. Other outputs are written to a temporary file and renamed into place only when complete, so a "
     "failed or interrupted run leaves existing files as they were (a sequence keeps the pictures already "
     "finished); a symbolic link keeps pointing at the replaced file, which keeps its permissions, owner and "
     "group. An existing output you may not write, or whose owner or group the replacement could not keep, is "
     "refused. An output that is one of the inputs is refused ('-' too, when standard output is an input). With "
     "--out-dir, an output name that is already a symbolic link, a FIFO or a device is refused, never followed or "
     "opened.\n\n"
     "INPUT may be '-' (standard input) or a pipe: PNG, JPEG and YUV4MPEG2 are told apart by their first bytes; "
     "raw planes are read from a .yuv name, or from '-' with --input-size. Alpha passes through. JPEG: colour and "
     "grey files are read (grey as grey RGB), CMYK files are refused, and EXIF orientation is not applied. A "
     "damaged JPEG (cut short, corrupt data: anything the decoder warns about) or one with more than "
     "{max-scans} scans is refused.\n",
     RunConvert, [](const Format&) { return true; }, true},
    {"planes", "show a picture's three components side by side in grey",
     "usage: colorspace planes [--model yuv|ycbcr] [OPTIONS] INPUT OUTPUT\n",
     "Writes the picture's three components side by side as grey images (one above the other for a picture too "
     "wide for that). An RGB picture is converted exactly to --model first (default yuv); a YUV or YCbCr picture "
     "is shown as it is. A mixed picture (the output of a masked conversion) is refused. OUTPUT is PNG or grey "
     "JPEG, by its suffix.\n",
     "", RunPlanes, [](const Format& format) { return format.writeGrey != nullptr; }, true},
    {"pixel", "convert one colour, as pictures are converted or exactly",
     "usage: colorspace pixel --to MODEL [--from MODEL] [--exact] [--format text|hex|csv] A B C\n"
     "       colorspace pixel --to MODEL [--from MODEL] [--exact] [--format text|hex|csv] '#AABBCC'\n",
     "Converts one colour as pictures are converted, a one-pixel picture through the library (the fast path), or "
     "with --exact by the library's single-pixel members (the exact path; see --exact for what each promises); yuv "
     "and ycbcr convert through rgb. It prints the components in the --format asked for, text by default:\n\n"
     "{pixel-examples}\n",
     "", RunPixel, nullptr, false},
    {"demo", "convert a colour chart both ways and print the round-trip error",
     "usage: colorspace demo [--compression fast|default|best] [DIR]\n",
     "Builds a colour chart, converts it to YUV and YCbCr and back on both paths, writes the pictures and their "
     "planes into DIR (default: the current directory), and prints the round-trip error of each.\n",
     "", RunDemo, [](const Format& format) { return &format == &PngFormat(); }, false},
};

int Run(int argc, char** argv) {
  if (argc < 2) {
    // Writes nothing: the demo only runs as `colorspace demo`.
    std::fputs(ShortUsage(kCommands).c_str(), stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(HelpFor(kCommands, "").c_str(), stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("colorspace %s\n", COLORSPACE_VERSION);
    return kExitOk;
  }
  if (command == "--generate") {
    const std::string text = argc == 3 ? Generated(kCommands, argv[2], COLORSPACE_VERSION) : std::string();
    if (text.empty()) {
      return Fail("--generate takes man, bash-completion, commands-table, formats-table or defaults-table", kExitUsage);
    }
    std::fputs(text.c_str(), stdout);
    return kExitOk;
  }
  const CommandInfo* info = FindCommand(kCommands, command);
  if (info == nullptr) {
    std::fprintf(stderr, "colorspace: unknown command '%s'\n%s", WithoutControls(command).c_str(),
                 ShortUsage(kCommands).c_str());
    return kExitUsage;
  }
  Options options;
  const std::string error = ParseCommandLine(*info, argc, argv, options);
  if (options.help) {
    std::fputs(HelpFor(kCommands, command).c_str(), stdout);
    return kExitOk;
  }
  if (!error.empty()) return Fail(error, kExitUsage);
  return info->run(options);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything opens a file: see StandardStreams.h.
  cstool::ReserveStandardDescriptors();
  // Large blocks go back to the system when freed, whichever thread freed
  // them, so that the process's memory follows the budget.
  ::mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
  const std::string note = cstool::PrepareOutputs();
  if (!note.empty()) std::fprintf(stderr, "colorspace: note: %s\n", note.c_str());
  int status = cstool::kExitFailure;
  try {
    status = Run(argc, argv);
  } catch (const std::bad_alloc&) {
    status = cstool::Fail("out of memory");
  } catch (const std::exception& error) {
    status = cstool::Fail(error.what());
  }
  return cstool::FinishStandardStreams(status);
}
