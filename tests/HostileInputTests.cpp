// Damaged and hostile inputs, and outputs the user did not name: each file
// is made here; every case checks the status, the message, the cost where
// one is bounded (generous ceilings, not speed measurements), and that
// nothing was written or left behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "ToolTestSupport.h"
#include "shared/OutputFile.h"

namespace {

using namespace tooltest;

class Hostile : public Tool {
 protected:
  // Runs a command that must fail: status 1, one line naming `expected`,
  // and the directory as it was.
  MeasuredRun Refused(const std::string& arguments, const std::string& expected) {
    const std::vector<std::string> before = Files();
    const MeasuredRun run = RunMeasured(std::string(COLORSPACE_TOOL) + " " + arguments, Path("../err-" + Stamp()));
    EXPECT_EQ(run.status, 1) << arguments << ": " << run.err;
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(Files(), before) << arguments;
    return run;
  }
  std::string Stamp() const { return std::to_string(::getpid()) + "-" + dir_.filename().string(); }
};

std::string Cut(const std::string& bytes, std::size_t size) { return bytes.substr(0, size); }

// Where the first scan's data starts: after the start-of-scan segment.
std::size_t ScanDataStart(const std::string& jpeg) {
  const std::size_t marker = jpeg.find("\xFF\xDA");
  const std::size_t length =
      (static_cast<unsigned char>(jpeg[marker + 2]) << 8) | static_cast<unsigned char>(jpeg[marker + 3]);
  return marker + 2 + length;
}

TEST_F(Hostile, DamagedJpegsAreRefusedInTheDecodersWords) {
  const std::string good = EncodeJpeg({});
  std::string noisy = good;
  std::mt19937 random(5);
  for (std::size_t i = ScanDataStart(good) + 20; i < good.size() - 40; ++i) noisy[i] = static_cast<char>(random());
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"half.jpg", Cut(good, good.size() / 2)},
      {"after-scan-header.jpg", Cut(good, ScanDataStart(good))},
      {"no-end.jpg", Cut(good, good.size() - 2)},
      {"noise.jpg", noisy},
  };
  WriteFile(Path("out.png"), "keep me");
  for (const auto& c : cases) WriteFile(Path(c.name), c.bytes);
  for (const auto& c : cases) {
    const MeasuredRun run = Refused("convert --to yuv " + Path(c.name) + " " + Path("out.png"), "unreadable JPEG (");
    const bool decoderWords = run.err.find("Premature end of JPEG file") != std::string::npos ||
                              run.err.find("Corrupt JPEG data") != std::string::npos;
    EXPECT_TRUE(decoderWords) << c.name << ": " << run.err;
    EXPECT_EQ(Slurp(Path("out.png")), "keep me");
  }
  // Unusual sampling factors are read like any other.
  for (const auto& [h, v] : {std::pair{3, 2}, std::pair{1, 4}}) {
    JpegSettings settings;
    settings.hSample = h;
    settings.vSample = v;
    WriteFile(Path("sampled.jpg"), EncodeJpeg(settings));
    const ToolRun run = Colorspace("convert --to yuv " + Path("sampled.jpg") + " " + Path("sampled.png"));
    EXPECT_EQ(run.status, 0) << h << "x" << v << ": " << run.err;
    EXPECT_EQ(Read(Path("sampled.png")).width, 64);
  }
}

TEST_F(Hostile, JpegScansAreBounded) {
  JpegSettings settings;
  settings.components = 1;
  settings.scans = ScanPerCoefficientBit(10);  // 704 valid scans
  ASSERT_EQ(settings.scans.size(), 704U);
  WriteFile(Path("704-scans.jpg"), EncodeJpeg(settings));
  settings.scans = ScanPerCoefficientBit(5);  // 384
  WriteFile(Path("384-scans.jpg"), EncodeJpeg(settings));
  // One scan of a progressive file repeated 1,000 times.
  settings.width = settings.height = 1024;
  settings.scans.clear();
  settings.progressive = true;
  const std::string progressive = EncodeJpeg(settings);
  const std::size_t first = progressive.find("\xFF\xDA");
  const std::size_t second = progressive.find("\xFF\xDA", first + 2);
  std::string repeated = progressive.substr(0, second);
  for (int i = 0; i < 1000; ++i) repeated += progressive.substr(first, second - first);
  repeated += progressive.substr(second);
  WriteFile(Path("repeated.jpg"), repeated);

  MeasuredRun run = Refused("convert --to yuv " + Path("704-scans.jpg") + " " + Path("out.png"), "more than 500 scans");
  EXPECT_LT(run.seconds, 30);
  run = Refused("convert --to yuv " + Path("repeated.jpg") + " " + Path("out.png"), "unreadable JPEG");
  EXPECT_LT(run.seconds, 30);
  EXPECT_EQ(Colorspace("convert --to yuv " + Path("384-scans.jpg") + " " + Path("out.png")).status, 0);
}

// Chunks claiming 2^31 - 1 bytes in a 150-byte file: refused from libpng's
// own limit, without allocating what they claim.
TEST_F(Hostile, HugeChunkClaimsAreRefusedCheaply) {
  for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT"}) {
    std::string file = kPngSignature + ChunkBytes(GreyHeader(8, 8));
    const std::string claim = std::string("\x7F\xFF\xFF\xFF", 4) + type + "Comment" + std::string(100, 'x');
    file += claim;
    WriteFile(Path("claim.png"), file);
    const MeasuredRun run = Refused("convert --to yuv " + Path("claim.png") + " " + Path("out.png"),
                                    std::string(type) + " chunk claims 2147483647 bytes, more than the 16 MiB");
    EXPECT_LT(run.peakKiB, 100 * 1024) << type;
    fs::remove(Path("claim.png"));
  }
}

// Small files claiming big pictures share one budget; a picture that could
// never fit is refused, not an abort; one that does not fit beside others
// waits for them.
TEST_F(Hostile, MemoryBudgetIsSharedByAllJobs) {
  const std::string idat = ChunkBytes({"IDAT", std::string("\x78\x01\x01\x00\x00\xff\xff\x00\x00\x00\x01", 11)});
  WriteFile(Path("claim.png"), kPngSignature + ChunkBytes(GreyHeader(11585, 11585)) + idat + ChunkBytes({"IEND", ""}));
  MeasuredRun run = Refused("convert --to yuv --max-memory 256M " + Path("claim.png") + " " + Path("out.png"),
                            "more than the memory budget of 256 MiB (--max-memory)");
  EXPECT_LT(run.peakKiB, 100 * 1024);
  WriteFile(Path("million.png"),
            kPngSignature + ChunkBytes(GreyHeader(1000000, 1000000)) + idat + ChunkBytes({"IEND", ""}));
  run = Refused("convert --to yuv --max-pixels 100000000000000 " + Path("million.png") + " " + Path("out.png"),
                "more than the memory budget");
  run = Refused("planes --max-pixels 100000000000000 " + Path("million.png") + " " + Path("out.png"),
                "more than the memory budget");
  fs::remove(Path("claim.png"));
  fs::remove(Path("million.png"));

  // Four pictures of 9 MB each under a 12 MiB budget: one at a time.
  std::string inputs;
  for (int i = 0; i < 4; ++i) {
    Write(Path("in" + std::to_string(i) + ".png"), MakeRandomPicture(1000, 1000, static_cast<unsigned>(i)));
    inputs += " " + Path("in" + std::to_string(i) + ".png");
  }
  const ToolRun batch = Colorspace("convert --to yuv --jobs 4 --max-memory 12M --out-dir " + Path("out") + inputs);
  EXPECT_EQ(batch.status, 0) << batch.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("out")), fs::directory_iterator()), 4);
  EXPECT_EQ(Colorspace("convert --to yuv --max-memory 12X " + Path("in0.png") + " " + Path("x.png")).status, 2);
  // A budget one picture fits in: four jobs at once take turns, none
  // refused (a job waiting for its share holds nothing meanwhile).
  // (A picture's share is kJobBytesPerPixel a pixel, and the decoder's.)
  const std::uint64_t oneShareKiB = std::uint64_t{1000} * 1000 * cstool::kJobBytesPerPixel / 1024 + 300;
  const ToolRun turns = Colorspace("convert --to yuv --jobs 4 --max-memory " + std::to_string(oneShareKiB) +
                                   "K --out-dir " + Path("turns") + inputs);
  EXPECT_EQ(turns.status, 0) << turns.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("turns")), fs::directory_iterator()), 4);
}

// An allocation that fails within the budget (here under an address space
// limit, which sanitizers cannot run under): one line, nothing written.
TEST_F(Hostile, FailedAllocationIsOneLine) {
  if (kSanitized) GTEST_SKIP() << "sanitizers need more address space than the limit leaves";
  const std::string idat = ChunkBytes({"IDAT", std::string("\x78\x01\x01\x00\x00\xff\xff\x00\x00\x00\x01", 11)});
  WriteFile(Path("big.png"), kPngSignature + ChunkBytes(GreyHeader(8000, 8000)) + idat + ChunkBytes({"IEND", ""}));
  const std::vector<std::string> before = Files();
  const MeasuredRun run =
      RunMeasured(std::string(COLORSPACE_TOOL) + " convert --to yuv " + Path("big.png") + " " + Path("out.png"),
                  Path("../err-" + Stamp()), rlim_t{160} << 20, RLIMIT_AS);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err, "colorspace: " + Path("big.png") + ": out of memory while reading it\n");
  EXPECT_EQ(Files(), before);
}

// A 2 GiB file (sparse) behind a header claiming too many pixels: refused
// from the header, without reading the rest.
TEST_F(Hostile, HeaderLimitsApplyBeforeTheRestIsRead) {
  std::string jpeg = EncodeJpeg({});
  const std::size_t frame = jpeg.find("\xFF\xC0");
  jpeg[frame + 5] = '\x0F';  // height 4000
  jpeg[frame + 6] = '\xA0';
  jpeg[frame + 7] = '\x0F';  // width 4000
  jpeg[frame + 8] = '\xA0';
  const std::string png = kPngSignature + ChunkBytes(GreyHeader(4000, 4000));
  for (const auto& [name, start] :
       {std::pair{"big.jpg", jpeg.substr(0, ScanDataStart(jpeg))}, std::pair{"big.png", png}}) {
    WriteFile(Path(name), start);
    ASSERT_EQ(::truncate(Path(name).c_str(), off_t{2} << 30), 0);
    const MeasuredRun run = Refused("convert --to yuv --max-pixels 1000 " + Path(name) + " " + Path("out.png"),
                                    "4000x4000 is 16000000 pixels, above the limit of 1000 (--max-pixels)");
    EXPECT_LT(run.seconds, 5) << name;
    EXPECT_LT(run.peakKiB, 100 * 1024) << name;
    fs::remove(Path(name));
  }
}

// A directory name no system call can take is an error line, not an abort.
TEST_F(Hostile, UnusableDirectoriesAreErrors) {
  Write(Path("in.png"), MakeRandomPicture(4, 4));
  fs::create_symlink("loop", Path("loop"));
  const std::string tooLong = Path(std::string(300, 'd') + "/" + std::string(300, 'e'));
  for (const std::string& dir : {Path("loop"), Path("loop/x"), tooLong}) {
    Refused("convert --to yuv --out-dir " + dir + " " + Path("in.png"), "cannot use " + dir);
    Refused("demo " + dir, "cannot use " + dir);
  }
}

// The model record and the selection chunk must be whole and single.
TEST_F(Hostile, DamagedOrAmbiguousRecordsAreRefused) {
  Write(Path("in.png"), MakeRandomPicture(16, 2));
  Write(Path("mask.png"), MakeMask(16, 2, [](std::size_t p) { return p % 3 == 0; }));
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("in.png") + " " + Path("yuv.png")).status, 0);
  ASSERT_EQ(
      Colorspace("convert --to yuv --mask " + Path("mask.png") + " " + Path("in.png") + " " + Path("m.png")).status, 0);
  Write(Path("in8x4.png"), MakeRandomPicture(8, 4));
  Write(Path("mask8x4.png"), MakeMask(8, 4, [](std::size_t p) { return p % 2 == 0; }));
  ASSERT_EQ(
      Colorspace("convert --to yuv --mask " + Path("mask8x4.png") + " " + Path("in8x4.png") + " " + Path("m8x4.png"))
          .status,
      0);
  const std::vector<Chunk> plain = ParseChunks(Slurp(Path("yuv.png")));
  const std::vector<Chunk> mixed = ParseChunks(Slurp(Path("m.png")));
  auto find = [](const std::vector<Chunk>& chunks, const std::string& type) {
    return *std::find_if(chunks.begin(), chunks.end(), [&](const Chunk& c) { return c.type == type; });
  };
  const Chunk record = find(plain, "tEXt");
  const Chunk selection = find(mixed, "csMK");
  const Chunk otherSelection = find(ParseChunks(Slurp(Path("m8x4.png"))), "csMK");
  auto rebuild = [](std::vector<Chunk> chunks, const std::string& replaced, const std::vector<Chunk>& with,
                    bool afterPixels = false) {
    std::vector<Chunk> out;
    for (const Chunk& c : chunks) {
      if (c.type == replaced) continue;
      if (c.type == (afterPixels ? "IEND" : "IDAT")) out.insert(out.end(), with.begin(), with.end());
      out.push_back(c);
    }
    return BuildPng(out);
  };
  std::string badCrc;
  for (const Chunk& c : plain) badCrc += ChunkBytes(c, c.type == "tEXt");
  WriteFile(Path("bad-crc.png"), kPngSignature + badCrc);
  WriteFile(Path("two-records.png"), rebuild(plain, "tEXt", {record, record}));
  WriteFile(Path("late-record.png"), rebuild(plain, "tEXt", {record}, true));
  WriteFile(Path("two-selections.png"), rebuild(mixed, "csMK", {selection, selection}));
  WriteFile(Path("late-selection.png"), rebuild(mixed, "csMK", {selection}, true));
  WriteFile(Path("foreign-selection.png"), rebuild(mixed, "csMK", {otherSelection}));
  // A compressed record far longer than any record.
  std::string huge = "ColorModel";
  huge += '\0';
  huge += '\0';
  huge += Deflate(std::string(20 << 20, 'y'));
  WriteFile(Path("huge-record.png"), rebuild(plain, "tEXt", {{"zTXt", huge}}));
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"bad-crc.png", "damaged colour model record or selection chunk"},
      {"two-records.png", "more than one colour model record"},
      {"late-record.png", "colour model record comes after the pixel data"},
      {"two-selections.png", "more than one selection chunk"},
      {"late-selection.png", "selection chunk comes after the pixel data"},
      {"foreign-selection.png", "selection chunk belongs to a 8x4 picture, not 16x2"},
      {"huge-record.png", "colour model record is 20405 bytes long"},
  };
  for (const auto& c : cases) {
    const MeasuredRun run = Refused("convert --to yuv " + Path(c.file) + " " + Path("out.png"), c.message);
    EXPECT_NE(run.err.find(Path(c.file)), std::string::npos) << run.err;
  }
}

// No command writes over one of its inputs, and names made for --out-dir or
// by demo never follow what is already there.
TEST_F(Hostile, NoWriteThatNoNameAskedFor) {
  Write(Path("p.png"), MakeRandomPicture(6, 4));
  const std::string original = Slurp(Path("p.png"));
  Refused("planes " + Path("p.png") + " " + Path("p.png"), "is the same file as the input");
  Refused("convert --to yuv " + Path("p.png") + " - >>" + Path("p.png"), "standard output is the same file");
  Refused("planes " + Path("p.png") + " - >>" + Path("p.png"), "standard output is the same file");
  EXPECT_EQ(Slurp(Path("p.png")), original);

  fs::create_directories(Path("out"));
  fs::create_directories(Path("elsewhere"));
  WriteFile(Path("elsewhere/target.png"), "outside the folder");
  fs::create_symlink(Path("elsewhere/target.png"), Path("out/p.png"));
  Refused("convert --to yuv --out-dir " + Path("out") + " " + Path("p.png"), "is a symbolic link");
  EXPECT_EQ(Slurp(Path("elsewhere/target.png")), "outside the folder");
  fs::remove(Path("out/p.png"));
  ASSERT_EQ(::mkfifo(Path("out/p.png").c_str(), 0600), 0);
  const MeasuredRun run =
      Refused("convert --to yuv --out-dir " + Path("out") + " " + Path("p.png"), "is not a regular file");
  EXPECT_LT(run.seconds, 10) << "a FIFO is never opened";
  fs::create_directories(Path("demo"));
  fs::create_symlink(Path("elsewhere/target.png"), Path("demo/chart.png"));
  Refused("demo " + Path("demo"), "is a symbolic link");
  EXPECT_EQ(Slurp(Path("elsewhere/target.png")), "outside the folder");
  // An explicitly named link is still followed, as before.
  fs::create_symlink(Path("elsewhere/target.png"), Path("named.png"));
  EXPECT_EQ(Colorspace("convert --to yuv " + Path("p.png") + " " + Path("named.png")).status, 0);
  EXPECT_EQ(cstool::ModelText(Read(Path("elsewhere/target.png")).record), "yuv");
}

// A signal at a random moment of a four-job batch leaves no temporary file,
// whichever thread is creating one; a write beyond the file size limit
// fails that file alone.
TEST_F(Hostile, SignalsDuringABatchLeaveNoTemporaryFile) {
  std::vector<std::string> arguments = {COLORSPACE_TOOL, "convert", "--to",      "yuv",
                                        "--jobs",        "4",       "--out-dir", Path("out")};
  for (int i = 0; i < 60; ++i) {
    const std::string name = Path("in" + std::to_string(i) + ".png");
    Write(name, MakeRandomPicture(160, 120, static_cast<unsigned>(i)));
    arguments.push_back(name);
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // Every signal that removes the temporary files but SIGXFSZ, which
  // another process's kill does not make a write fail.
  std::vector<int> signals;
  const std::string readme = Slurp(COLORSPACE_README);
  for (const int signal : cstool::kCleanedUpSignals) {
    // The README names each (SIGXFSZ as a write beyond the file size limit).
    if (signal == SIGXFSZ) continue;
    signals.push_back(signal);
    const std::string name = std::string("SIG") + ::sigabbrev_np(signal);
    EXPECT_TRUE(std::regex_search(readme, std::regex(name + "\\b"))) << name << " is not in the README";
  }
  std::mt19937 random(11);
  int interrupted = 0;
  for (int round = 0; round < 44; ++round) {
    fs::remove_all(Path("out"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PrepareChild();
      ::execv(COLORSPACE_TOOL, argv.data());
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 150000));
    const int signal = signals[static_cast<std::size_t>(round) % signals.size()];
    ::kill(child, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signal);
      ++interrupted;
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 0) << "finished before the signal";
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(Path("out"), ignored)) {
      ASSERT_EQ(entry.path().filename().string().find(".colorspace-"), std::string::npos)
          << "round " << round << ", signal " << signal;
    }
  }
  EXPECT_GT(interrupted, 10);

  WriteFile(Path("big-out.png"), "keep me");
  Write(Path("big.png"), MakeRandomPicture(300, 300));
  const std::vector<std::string> before = Files();
  const MeasuredRun run =
      RunMeasured(std::string(COLORSPACE_TOOL) + " convert --to yuv " + Path("big.png") + " " + Path("big-out.png"),
                  Path("../err-" + Stamp()), 4096);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
  EXPECT_EQ(Files(), before);
  EXPECT_EQ(Slurp(Path("big-out.png")), "keep me");
}

TEST_F(Hostile, SmallerOnes) {
  // A record's text is escaped and cut.
  std::vector<Chunk> chunks = ParseChunks([&] {
    Write(Path("in.png"), MakeRandomPicture(4, 4));
    return Slurp(Path("in.png"));
  }());
  chunks.insert(chunks.begin() + 1,
                Chunk{"tEXt", std::string("ColorModel\0yuv\x1b[31m\nred", 23) + std::string(3000, 'z')});
  WriteFile(Path("escape.png"), BuildPng(chunks));
  const MeasuredRun run = Refused("convert --to rgb " + Path("escape.png") + " " + Path("out.png"),
                                  "records an unknown colour model 'yuv\\x1B[31m\\x0Ared");
  EXPECT_NE(run.err.find("zzz...'"), std::string::npos) << run.err;
  EXPECT_LT(run.err.size(), 300U);

  // A name that fits fits with its temporary name too.
  const std::string longName = Path(std::string(250, 'n') + ".png");
  EXPECT_EQ(Colorspace("convert --to yuv " + Path("in.png") + " " + longName).status, 0);
  EXPECT_EQ(cstool::ModelText(Read(longName).record), "yuv");
  fs::remove(longName);

  // Planes of a picture too wide for its three planes side by side in
  // libpng's default limits.
  Write(Path("wide.png"), MakeRandomPicture(400000, 1));
  ToolRun tool = Colorspace("planes --compression fast " + Path("wide.png") + " " + Path("planes.png"));
  EXPECT_EQ(tool.status, 0) << tool.err;
  EXPECT_EQ(Read(Path("planes.png")).width, 1200000);
  fs::remove(Path("wide.png"));
  fs::remove(Path("planes.png"));

  // Pipes as inputs.
  Write(Path("a.png"), MakeRandomPicture(5, 5));
  WriteFile(Path("a.jpg"), EncodeJpeg({}));
  for (const char* input : {"a.png", "a.jpg"}) {
    for (const char* name : {"-", "/dev/stdin"}) {
      const std::string command =
          "cat " + Path(input) + " | " + COLORSPACE_TOOL + " convert --to yuv " + name + " " + Path("piped.png");
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
      EXPECT_EQ(cstool::ModelText(Read(Path("piped.png")).record), "yuv");
    }
  }
}

// A mixed file whose selection chunk another program dropped: refused with
// the way out, which is the mask again or forgetting the record.
TEST_F(Hostile, LostSelectionCanBeRecovered) {
  const Picture original = MakeRandomPicture(12, 5);
  Write(Path("in.png"), original);
  Write(Path("mask.png"), MakeMask(12, 5, [](std::size_t p) { return p % 4 == 0; }));
  ASSERT_EQ(
      Colorspace("convert --to yuv --mask " + Path("mask.png") + " " + Path("in.png") + " " + Path("m.png")).status, 0);
  std::vector<Chunk> chunks = ParseChunks(Slurp(Path("m.png")));
  chunks.erase(std::remove_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "csMK"; }),
               chunks.end());
  WriteFile(Path("lost.png"), BuildPng(chunks));
  Refused("convert --to rgb " + Path("lost.png") + " " + Path("back.png"), "--forget-selection");
  ToolRun run =
      Colorspace("convert --to rgb --mask " + Path("mask.png") + " " + Path("lost.png") + " " + Path("back.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(Colorspace("convert --to rgb " + Path("m.png") + " " + Path("expected.png")).status, 0);
  EXPECT_EQ(Read(Path("back.png")).bgra, Read(Path("expected.png")).bgra);
  run = Colorspace("convert --to yuv --forget-selection " + Path("lost.png") + " " + Path("forgot.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(cstool::ModelText(Read(Path("forgot.png")).record), "yuv");
}

// Descriptors 0, 1 and 2 closed when the tool starts: no file it opens
// takes their numbers, so no message lands in an output and no input is
// read as another; using one fails as it would have.
TEST_F(Hostile, ClosedStandardDescriptorsAreNeverReused) {
  Picture deep = MakeRandomPicture(40, 30, 5);
  Write(Path("a.png"), deep);
  {
    // A 16-bit picture, whose note would have been written into the other
    // job's output.
    std::vector<Chunk> chunks = ParseChunks(Slurp(Path("a.png")));
    std::string header = chunks[0].data;
    header[8] = 16;
    header[9] = 2;
    std::string raw;
    for (int y = 0; y < 30; ++y) {
      raw += '\0';
      for (int x = 0; x < 40 * 3; ++x) raw += std::string(2, static_cast<char>(x + y));
    }
    WriteFile(Path("deep.png"), BuildPng({{"IHDR", header}, {"IDAT", Deflate(raw, 6)}, {"IEND", ""}}));
  }
  const std::string inputs = " " + Path("deep.png") + " " + Path("a.png");
  for (int round = 0; round < 5; ++round) {
    fs::remove_all(Path("out"));
    const int raw = std::system(
        (std::string(COLORSPACE_TOOL) + " convert --to yuv --jobs 2 --out-dir " + Path("out") + inputs + " 2>&-")
            .c_str());
    // The note could not be told: the run fails, and says so nowhere.
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
    for (const char* name : {"deep.png", "a.png"}) {
      Picture written;
      const cstool::ReadResult result =
          cstool::ReadImage(Path(std::string("out/") + name), cstool::kDefaultMaxPixels, written);
      EXPECT_TRUE(result.Ok()) << name << ": " << result.error;
    }
  }
  // Standard input closed: '-' fails as a closed descriptor does.
  MeasuredRun run = RunMeasured(std::string(COLORSPACE_TOOL) + " convert --to yuv - " + Path("from-stdin.png") + " <&-",
                                Path("../err-" + Stamp()));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "colorspace: cannot read -: Bad file descriptor\n");
  EXPECT_FALSE(fs::exists(Path("from-stdin.png")));
  // Standard output closed: a picture or a colour sent there fails.
  run = RunMeasured(std::string(COLORSPACE_TOOL) + " convert --to yuv " + Path("a.png") + " - >&-",
                    Path("../err-" + Stamp()));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "colorspace: cannot write to standard output: Bad file descriptor\n");
}

// A header whose sizes multiply past 2^64: refused with one line, alone or
// in a batch, never an abort that leaves a temporary file.
TEST_F(Hostile, SizesThatWouldWrapAreRefused) {
  WriteFile(Path("big.y4m"), "YUV4MPEG2 W2147483647 H1073741825 C444 XCOLORRANGE=FULL\nFRAME\n");
  Write(Path("fine.png"), MakeRandomPicture(8, 8));
  const std::string options = "convert --to rgb --max-pixels 18446744073709551615 --max-memory 100G ";
  Refused(options + Path("big.y4m") + " " + Path("big.png"), "2147483647x1073741825 is too large to hold in memory");
  const MeasuredRun run = RunMeasured(std::string(COLORSPACE_TOOL) + " " + options + "--to yuv --out-dir " +
                                          Path("out") + " " + Path("big.y4m") + " " + Path("fine.png"),
                                      Path("../err-" + Stamp()));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  std::vector<std::string> written;
  for (const auto& entry : fs::directory_iterator(Path("out"))) written.push_back(entry.path().filename().string());
  EXPECT_EQ(written, std::vector<std::string>{"fine.png"});
}

// Threads that cannot start (a process limit, as a batch system sets):
// the run goes on with fewer, says what an interruption may then leave,
// and finishes every file.
TEST_F(Hostile, ThreadsThatCannotStartLeaveFewerWorkers) {
  if (!CanRunAsOtherUser()) GTEST_SKIP() << "needs root, to run the tool as another user under a process limit";
  fs::permissions(dir_, fs::perms::all);
  std::string inputs;
  for (int i = 0; i < 6; ++i) {
    Write(Path("in" + std::to_string(i) + ".png"), MakeRandomPicture(64, 48, static_cast<unsigned>(i)));
    inputs += " " + Path("in" + std::to_string(i) + ".png");
  }
  Write(Path("large.png"), MakeRandomPicture(1200, 1000, 9));  // compressed in slices when threads start
  // LeakSanitizer needs a thread of its own at exit, which the limit denies.
  const std::string tool = "env ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 " + std::string(COLORSPACE_TOOL);
  for (const rlim_t processes : {rlim_t{1}, rlim_t{3}}) {
    fs::remove_all(Path("out"));
    const MeasuredRun run = RunAsOtherUser(tool + " convert --to yuv --jobs 8 --out-dir " + Path("out") + inputs,
                                           Path("err-" + std::to_string(processes)), processes);
    EXPECT_EQ(run.status, 0) << processes << ": " << run.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("out")), fs::directory_iterator()), 6) << processes;
    if (processes == 1) {
      EXPECT_NE(run.err.find("an interruption may leave"), std::string::npos) << run.err;
    }
    const MeasuredRun one =
        RunAsOtherUser(tool + " convert --to yuv --jobs 8 " + Path("large.png") + " " + Path("out/l.png"),
                       Path("err-large"), processes);
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(Read(Path("out/l.png")).width, 1200);
  }
}

// Everything a file holds counts against the budget, metadata included,
// inflated as it is read: 31 texts that inflate to 16 MiB each are refused
// at once under 64 MiB, alone or eight at a time.
TEST_F(Hostile, TheBudgetCountsMetadataAsItInflates) {
  Write(Path("in.png"), MakeRandomPicture(32, 32));
  std::vector<Chunk> chunks = ParseChunks(Slurp(Path("in.png")));
  const std::string packed = Deflate(std::string((16 << 20) - 1, 'x'));
  for (int i = 0; i < 31; ++i) {
    chunks.insert(chunks.begin() + 1, Chunk{"zTXt", "Comment" + std::to_string(i) + std::string(2, '\0') + packed});
  }
  // Many small compressed texts cost what they hold, not a step each.
  std::vector<Chunk> small = ParseChunks(Slurp(Path("in.png")));
  const std::string tiny = Deflate("text");
  for (int i = 0; i < 20000; ++i) {
    small.insert(small.begin() + 1, Chunk{"zTXt", "Note" + std::to_string(i) + std::string(2, '\0') + tiny});
  }
  WriteFile(Path("small-texts.png"), BuildPng(small));
  const MeasuredRun texts = RunMeasured(std::string(COLORSPACE_TOOL) + " convert --to yuv --max-memory 64M " +
                                            Path("small-texts.png") + " " + Path("small-texts-out.png"),
                                        Path("../err-" + Stamp()));
  EXPECT_EQ(texts.status, 0) << texts.err;
  if (!kSanitized) {
    EXPECT_LT(texts.peakKiB, 100 * 1024);
  }
  const std::string bomb = BuildPng(chunks);
  ASSERT_LT(bomb.size(), 600U << 10);
  std::string inputs;
  for (int i = 0; i < 8; ++i) {
    WriteFile(Path("bomb" + std::to_string(i) + ".png"), bomb);
    inputs += " " + Path("bomb" + std::to_string(i) + ".png");
  }
  MeasuredRun run = Refused("convert --to yuv --max-memory 64M " + Path("bomb0.png") + " " + Path("out.png"),
                            "more than the memory budget of 64 MiB (--max-memory)");
  EXPECT_LT(run.seconds, 10);
  if (!kSanitized) {
    EXPECT_LT(run.peakKiB, 120 * 1024);
  }
  run = RunMeasured(
      std::string(COLORSPACE_TOOL) + " convert --to yuv --jobs 8 --max-memory 64M --out-dir " + Path("out") + inputs,
      Path("../err-" + Stamp()));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 8) << run.err;
  EXPECT_LT(run.seconds, 30);
  if (!kSanitized) {
    EXPECT_LT(run.peakKiB, 160 * 1024);
  }
}

// A large picture whose slices the budget cannot hold beside it is
// compressed in one piece, within the budget.
TEST_F(Hostile, SlicesOnlyWhereTheBudgetHoldsThem) {
  Write(Path("noise.png"), MakeRandomPicture(1600, 1200, 4));  // 7.3 MiB of noise, admitted at 8 bytes a pixel
  const std::string tool = std::string(COLORSPACE_TOOL) + " convert --to yuv --jobs 4 --compression fast ";
  const MeasuredRun tight =
      RunMeasured(tool + "--max-memory 16M " + Path("noise.png") + " " + Path("tight.png"), Path("../err-" + Stamp()));
  EXPECT_EQ(tight.status, 0) << tight.err;
  const MeasuredRun roomy = RunMeasured(tool + Path("noise.png") + " " + Path("roomy.png"), Path("../err-" + Stamp()));
  EXPECT_EQ(roomy.status, 0) << roomy.err;
  EXPECT_EQ(Read(Path("tight.png")).bgra, Read(Path("roomy.png")).bgra);
  if (!kSanitized) {
    EXPECT_LT(tight.peakKiB, roomy.peakKiB) << "the slices were held beside the picture";
  }
}

// The model record is read however many text chunks come before it, and
// every text is kept.
TEST_F(Hostile, TheRecordSurvivesAnyNumberOfTexts) {
  Write(Path("in.png"), MakeRandomPicture(24, 16));
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("in.png") + " " + Path("yuv.png")).status, 0);
  ASSERT_EQ(Colorspace("convert --to rgb " + Path("yuv.png") + " " + Path("direct.png")).status, 0);
  const std::vector<Chunk> chunks = ParseChunks(Slurp(Path("yuv.png")));
  for (const int count : {30, 31, 1000}) {
    std::vector<Chunk> many = chunks;
    for (int i = 0; i < count; ++i) {
      many.insert(many.begin() + 1, Chunk{"tEXt", "Note" + std::to_string(i) + '\0' + "text " + std::to_string(i)});
    }
    WriteFile(Path("texts.png"), BuildPng(many));
    const ToolRun run = Colorspace("convert --to rgb " + Path("texts.png") + " " + Path("back.png"));
    ASSERT_EQ(run.status, 0) << count << ": " << run.err;
    const Picture back = Read(Path("back.png"));
    EXPECT_EQ(back.bgra, Read(Path("direct.png")).bgra) << count;
    EXPECT_EQ(back.metadata.texts.size(), static_cast<std::size_t>(count));
  }
}

// A mask is an rgb picture: one recorded as another model, or a YUV4MPEG2
// file, is refused (its black would select).
TEST_F(Hostile, AMaskIsAnRgbPicture) {
  Write(Path("in.png"), MakeRandomPicture(8, 8));
  Write(Path("mask.png"), MakeMask(8, 8, [](std::size_t p) { return p % 2 == 0; }));
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("mask.png") + " " + Path("mask-yuv.png")).status, 0);
  ASSERT_EQ(Colorspace("convert --to ycbcr " + Path("mask.png") + " " + Path("mask.y4m")).status, 0);
  ASSERT_EQ(Colorspace("convert --to yuv --mask " + Path("mask.png") + " " + Path("mask.png") + " " + Path("mixed.png"))
                .status,
            0);
  for (const char* mask : {"mask-yuv.png", "mask.y4m", "mixed.png"}) {
    Refused("convert --to yuv --mask " + Path(mask) + " " + Path("in.png") + " " + Path("out.png"),
            "; a mask is an rgb picture");
  }
  EXPECT_NE(OneLine(Colorspace("convert --help").out).find("a mask is an rgb picture"), std::string::npos);
}

// An existing output the user may not write is refused, as cp refuses it;
// a replaced file keeps its owner, and one whose owner would change is
// refused.
TEST_F(Hostile, OutputsTheUserMayNotWriteAreRefused) {
  if (!CanRunAsOtherUser()) GTEST_SKIP() << "needs root, to run the tool as another user";
  fs::permissions(dir_, fs::perms::all);  // a folder both users write, as /tmp is without its sticky bit
  Write(Path("in.png"), MakeRandomPicture(6, 6));
  WriteFile(Path("mine.png"), "read only");
  ASSERT_EQ(::chown(Path("mine.png").c_str(), kOtherUser, kOtherGroup), 0);
  ::chmod(Path("mine.png").c_str(), 0444);
  WriteFile(Path("private.png"), "another user's, private");
  ::chmod(Path("private.png").c_str(), 0600);
  WriteFile(Path("theirs.png"), "another user's, open to all");
  ::chmod(Path("theirs.png").c_str(), 0666);
  MeasuredRun run = RunAsOtherUser(
      std::string(COLORSPACE_TOOL) + " convert --to yuv " + Path("in.png") + " " + Path("mine.png"), Path("err-1"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "colorspace: cannot write " + Path("mine.png") + ": Permission denied; nothing written\n");
  run = RunAsOtherUser(std::string(COLORSPACE_TOOL) + " convert --to yuv " + Path("in.png") + " " + Path("private.png"),
                       Path("err-3"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Permission denied; nothing written"), std::string::npos) << run.err;
  run = RunAsOtherUser(std::string(COLORSPACE_TOOL) + " convert --to yuv " + Path("in.png") + " " + Path("theirs.png"),
                       Path("err-2"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("belongs to another user (uid 0), and replacing it would change its owner"), std::string::npos)
      << run.err;
  EXPECT_EQ(Slurp(Path("mine.png")), "read only");
  EXPECT_EQ(Slurp(Path("theirs.png")), "another user's, open to all");
  EXPECT_EQ(Slurp(Path("private.png")), "another user's, private");
  struct stat status {};
  ::stat(Path("theirs.png").c_str(), &status);
  EXPECT_EQ(status.st_uid, 0U);
  // Root replaces the other user's file, which stays theirs.
  ::chmod(Path("mine.png").c_str(), 0640);
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("in.png") + " " + Path("mine.png")).status, 0);
  ::stat(Path("mine.png").c_str(), &status);
  EXPECT_EQ(status.st_uid, kOtherUser);
  EXPECT_EQ(status.st_gid, kOtherGroup);
  EXPECT_EQ(status.st_mode & 07777, 0640U);
}

// What a command writes to standard output is checked; the names of an open
// descriptor are that descriptor, written like '-'.
TEST_F(Hostile, StandardOutputIsCheckedAndDescriptorNamesAreWrittenDirectly) {
  const std::string tool = COLORSPACE_TOOL;
  for (const char* command : {"pixel --to yuv 1 2 3", "--help", "--version", "convert --help"}) {
    for (const char* redirect : {" >/dev/full", " >&-"}) {
      const MeasuredRun run = RunMeasured(tool + " " + command + redirect, Path("../err-" + Stamp()));
      EXPECT_EQ(run.status, 1) << command << redirect;
      EXPECT_EQ(run.err.rfind("colorspace: cannot write to standard output: ", 0), 0U) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
  }
  const MeasuredRun demo = RunMeasured(tool + " demo " + Path("demo") + " >/dev/full", Path("../err-" + Stamp()));
  EXPECT_EQ(demo.status, 1) << demo.err;
  fs::remove_all(Path("demo"));

  Write(Path("in.png"), MakeRandomPicture(9, 7));
  for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    const std::string command = tool + " convert --to yuv " + Path("in.png") + " " + name + " | cat >" + Path("p.png");
    EXPECT_EQ(std::system(command.c_str()), 0) << name;
    EXPECT_EQ(cstool::ModelText(Read(Path("p.png")).record), "yuv") << name;
  }
  std::system((tool + " convert --to yuv " + Path("in.png") + " /dev/fd/5 5>" + Path("five.png")).c_str());
  EXPECT_EQ(Read(Path("five.png")).width, 9);
  Refused("convert --to yuv " + Path("in.png") + " /dev/fd/7", "cannot write /dev/fd/7: Bad file descriptor");
  EXPECT_EQ(Files(), (std::vector<std::string>{"five.png", "in.png", "p.png"}));
}

// A palette index past the palette's end is damage; chunks libpng warns
// about are left out with a note, and the picture converts.
TEST_F(Hostile, DamagedPalettesAndChunksLibpngWarnsAbout) {
  const std::string header("\0\0\0\x04\0\0\0\x02\x08\x03\0\0\0", 13);  // 4x2, 8-bit palette
  auto paletted = [&](const std::string& indices) {
    std::string raw;
    for (int y = 0; y < 2; ++y) raw += '\0' + indices;
    return BuildPng(
        {{"IHDR", header}, {"PLTE", std::string("\xFF\0\0\0\xFF\0", 6)}, {"IDAT", Deflate(raw, 6)}, {"IEND", ""}});
  };
  WriteFile(Path("good.png"), paletted(std::string("\0\x01\x01\0", 4)));
  WriteFile(Path("last.png"), paletted(std::string("\0\x01\0\x02", 4)));  // past the end in each row's last pixel
  WriteFile(Path("far.png"), paletted(std::string("\x05\x01\0\0", 4)));
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("good.png") + " " + Path("good-out.png")).status, 0);
  Refused("convert --to yuv " + Path("last.png") + " " + Path("out.png"),
          "its pixels use palette entry 2, past the end of its 2-entry palette");
  Refused("convert --to yuv " + Path("far.png") + " " + Path("out.png"), "palette entry 5");

  Write(Path("in.png"), MakeRandomPicture(5, 5));
  std::vector<Chunk> chunks = ParseChunks(Slurp(Path("in.png")));
  for (const char* type : {"bKGD", "gAMA", "tEXt", "zTXt", "iTXt", "sRGB", "cHRM", "pHYs", "eXIf", "iCCP", "tIME"}) {
    chunks.insert(chunks.begin() + 1, Chunk{type, ""});
  }
  WriteFile(Path("empty.png"), BuildPng(chunks));
  const ToolRun run = Colorspace("convert --to yuv " + Path("empty.png") + " " + Path("empty-out.png"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("note: " + Path("empty.png") + ": libpng warns: gAMA: invalid"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("left out one tEXt chunk with an invalid keyword"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("bKGD"), std::string::npos) << "a chunk the tool does not keep is not worth a word";
  EXPECT_EQ(cstool::ModelText(Read(Path("empty-out.png")).record), "yuv");
}

// Messages say what happened.
TEST_F(Hostile, MessagesSayWhatHappened) {
  WriteFile(Path("newline.y4m"), "YUV4MPEG2 W2 H1 C444 XCOLORRANGE=FULL\nFRAME\n123456\n");
  ToolRun run = Colorspace("convert --to rgb " + Path("newline.y4m") + " " + Path("out.png"));
  EXPECT_EQ(run.status, 0) << run.err;
  WriteFile(Path("twice.y4m"), "YUV4MPEG2 W2 H1 C444 XCOLORRANGE=LIMITED XCOLORRANGE=FULL\nFRAME\n123456");
  Refused("convert --to rgb " + Path("twice.y4m") + " " + Path("x.png"), "gives XCOLORRANGE more than once");
  Write(Path("in.png"), MakeRandomPicture(4, 4));
  Refused("convert --to yuv --max-memory 1 " + Path("in.png") + " " + Path("x.png"),
          "more than the memory budget of 1 byte (--max-memory)");
  Refused("convert --to yuv " + Path("in.png") + " " + Path(std::string(252, 'n') + ".png"),
          ": File name too long; nothing written");
}

}  // namespace
