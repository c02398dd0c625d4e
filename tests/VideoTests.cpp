// Video frames end to end: every common YUV4MPEG2 sampling read as ffmpeg
// writes it and written as ffmpeg reads it, streams to sequences and back,
// raw planes, streams cut short or interrupted, one frame in memory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ToolTestSupport.h"

namespace {

using namespace tooltest;

const std::string kFfmpeg = "ffmpeg -nostdin -loglevel error -y ";

// How far a picture is from another, over R, G and B.
struct Distance {
  double mean = 0;
  int percentile99 = 0;
};
Distance Between(const Picture& a, const Picture& b) {
  std::vector<int> differences;
  for (std::size_t i = 0; i < a.bgra.size() && i < b.bgra.size(); ++i) {
    if (i % 4 != 3) differences.push_back(std::abs(int{a.bgra[i]} - int{b.bgra[i]}));
  }
  std::sort(differences.begin(), differences.end());
  double sum = 0;
  for (const int d : differences) sum += d;
  return {sum / static_cast<double>(differences.size()), differences[differences.size() * 99 / 100]};
}

class Video : public Tool {
 protected:
  // ffmpeg's test picture, blurred in RGB so that reduced chroma keeps it.
  void MakeOriginal() {
    ASSERT_EQ(Shell(kFfmpeg +
                    "-f lavfi -i testsrc2=size=320x240 -frames:v 1 -vf "
                    "format=gbrp,gblur=sigma=3,format=rgb24 " +
                    Path("original.png")),
              0);
  }
  // A stream of `frames` frames of w x h planes, sampled as `tags` say
  // (4:4:4, 4:2:2 or 4:2:0), each frame's values different; written here,
  // byte by byte.
  std::string MakeStream(int width, int height, int frames, const std::string& tags = "C444 XCOLORRANGE=FULL") {
    std::string stream =
        "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F30000:1001 " + tags + "\n";
    const int across = tags.find("444") != std::string::npos ? width : (width + 1) / 2;
    const int chroma = across * (tags.find("420") != std::string::npos ? (height + 1) / 2 : height);
    for (int f = 0; f < frames; ++f) {
      stream += "FRAME\n";
      for (int i = 0; i < width * height + 2 * chroma; ++i) stream += static_cast<char>(16 + (i * 7 + f * 40) % 200);
    }
    return stream;
  }
};

// ffmpeg writes each sampling, with its chroma where the tag says it sits;
// the tool reads each back close to the original.
TEST_F(Video, EverySamplingIsReadAsFfmpegWritesIt) {
  if (!HasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed: it writes the streams read here";
  MakeOriginal();
  const Picture original = Read(Path("original.png"));
  const struct {
    const char* name;
    const char* filter;  // ffmpeg's scale: the matrix, and where it puts chroma
    const char* options;
    const char* tag;
  } streams[] = {
      {"444", "out_color_matrix=bt601", "-pix_fmt yuv444p", "C444"},
      {"422", "out_color_matrix=bt601:out_h_chr_pos=0", "-pix_fmt yuv422p", "C422"},
      {"420jpeg", "out_color_matrix=bt601:out_h_chr_pos=128:out_v_chr_pos=128", "-pix_fmt yuv420p", "C420jpeg"},
      {"420mpeg2", "out_color_matrix=bt601:out_h_chr_pos=0:out_v_chr_pos=128",
       "-pix_fmt yuv420p -chroma_sample_location left", "C420mpeg2"},
      {"420paldv", "out_color_matrix=bt601:out_h_chr_pos=0:out_v_chr_pos=0",
       "-pix_fmt yuv420p -chroma_sample_location topleft", "C420paldv"},
      {"full420", "out_color_matrix=bt601:out_range=pc", "-pix_fmt yuvj420p", "C420jpeg"},
  };
  for (const auto& s : streams) {
    const std::string y4m = Path(std::string(s.name) + ".y4m");
    ASSERT_EQ(Shell(kFfmpeg + "-i " + Path("original.png") + " -vf scale=" + s.filter + " " + s.options +
                    " -f yuv4mpegpipe " + y4m),
              0);
    ASSERT_NE(Slurp(y4m).substr(0, 200).find(std::string(" ") + s.tag + " "), std::string::npos) << s.name;
    const std::string back = Path(std::string(s.name) + ".png");
    const ToolRun run = Colorspace("convert --to rgb " + y4m + " " + back);
    ASSERT_EQ(run.status, 0) << s.name << ": " << run.err;
    const Distance distance = Between(Read(back), original);
    EXPECT_LE(distance.mean, 1.5) << s.name;
    EXPECT_LE(distance.percentile99, 16) << s.name;
  }
  // Grey: the luma alone, as ffmpeg itself decodes it.
  ASSERT_EQ(Shell(kFfmpeg + "-i " + Path("original.png") +
                  " -vf scale=out_color_matrix=bt601 -pix_fmt gray -f "
                  "yuv4mpegpipe " +
                  Path("grey.y4m")),
            0);
  ASSERT_EQ(Shell(kFfmpeg + "-i " + Path("grey.y4m") + " -pix_fmt rgb24 " + Path("grey-ffmpeg.png")), 0);
  ASSERT_EQ(Colorspace("convert --to rgb " + Path("grey.y4m") + " " + Path("grey.png")).status, 0);
  EXPECT_LE(MaxDifference(Read(Path("grey.png")), Read(Path("grey-ffmpeg.png")), false), 1);
}

// The tool writes 4:2:0 at both sitings and 4:2:2; ffprobe names the pixel
// format and counts the frames, and ffmpeg's interpolating decode (told
// where the chroma sits) comes back close to the original.
TEST_F(Video, EverySamplingIsWrittenAsFfmpegReadsIt) {
  if (!HasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed: it reads the streams written here";
  MakeOriginal();
  const Picture original = Read(Path("original.png"));
  const struct {
    const char* options;
    const char* pixelFormat;
    const char* chromaPosition;  // for ffmpeg's decode
  } outputs[] = {
      {"--sampling 420", "yuv420p", "in_h_chr_pos=128:in_v_chr_pos=128"},
      {"--sampling 420 --chroma-siting left", "yuv420p", "in_h_chr_pos=0:in_v_chr_pos=128"},
      {"--sampling 422", "yuv422p", "in_h_chr_pos=0"},
  };
  for (const auto& o : outputs) {
    const std::string y4m = Path("out.y4m");
    const ToolRun run = Colorspace("convert --to ycbcr " + std::string(o.options) + " " + Path("original.png") + " " +
                                   Path("original.png") + " " + y4m);
    ASSERT_EQ(run.status, 0) << o.options << ": " << run.err;
    const std::string probe = Printed(
        "ffprobe -v error -count_frames -show_entries stream=pix_fmt,nb_read_frames -of default=noprint_wrappers=1 " +
        y4m);
    EXPECT_EQ(probe, std::string("pix_fmt=") + o.pixelFormat + "\nnb_read_frames=2\n") << o.options;
    ASSERT_EQ(Shell(kFfmpeg + "-i " + y4m + " -frames:v 1 -vf scale=in_color_matrix=bt601:" + o.chromaPosition +
                    ":flags=bilinear+accurate_rnd+full_chroma_int -pix_fmt rgb24 " + Path("decoded.png")),
              0);
    const Distance distance = Between(Read(Path("decoded.png")), original);
    EXPECT_LE(distance.mean, 1.6) << o.options;
    EXPECT_LE(distance.percentile99, 16) << o.options;
  }
}

// Where a siting puts chroma: a picture whose colour changes at one column,
// written and read back at each siting, keeps the change at that column.
TEST_F(Video, ChromaSitsWhereTheTagSays) {
  Picture edge = MakeRandomPicture(16, 4);
  edge.hasAlpha = false;
  for (std::size_t p = 0; p < edge.Pixels(); ++p) {
    const bool right = p % 16 >= 8;
    edge.bgra[4 * p] = right ? 200 : 56;      // V
    edge.bgra[4 * p + 1] = right ? 56 : 200;  // U
    edge.bgra[4 * p + 2] = 128;               // Y
    edge.bgra[4 * p + 3] = 255;
  }
  edge.record.model = cstool::Model::kYUV;
  Write(Path("edge.png"), edge);
  for (const char* siting : {"center", "left"}) {
    const std::string y4m = Path(std::string(siting) + ".y4m");
    ASSERT_EQ(Colorspace("convert --to yuv --sampling 420 --chroma-siting " + std::string(siting) + " " +
                         Path("edge.png") + " " + y4m)
                  .status,
              0);
    const std::string file = Slurp(y4m);
    const std::size_t planes = file.find("FRAME\n") + 6;
    const std::string v = file.substr(planes + std::size_t{16 * 4 + 8 * 2}, 8);  // the V plane's first row
    if (std::string(siting) == "center") {
      // Samples between columns 2i and 2i+1: the change stays whole.
      EXPECT_EQ(static_cast<unsigned char>(v[3]), 56);
      EXPECT_EQ(static_cast<unsigned char>(v[4]), 200);
    } else {
      // Samples at the even columns, [1 2 1]: column 8 sees 7, 8 and 9.
      EXPECT_EQ(static_cast<unsigned char>(v[3]), 56);
      EXPECT_EQ(static_cast<unsigned char>(v[4]), (56 + 2 * 200 + 200 + 2) / 4);
    }
    // Read back, the change is where it was, spread over the pixels
    // between the samples on either side of it.
    const Picture back = Read(y4m);
    const int settled = std::string(siting) == "center" ? 9 : 10;
    for (int x = 0; x < 16; ++x) {
      const int value = back.bgra[4 * static_cast<std::size_t>(x)];
      if (x <= 6) {
        EXPECT_EQ(value, 56) << siting << " " << x;
      }
      if (x >= settled) {
        EXPECT_EQ(value, 200) << siting << " " << x;
      }
    }
  }
}

// A stream becomes a numbered sequence and the sequence a stream again;
// pictures of another size are refused before anything is written; a
// stream to a one-picture name is refused with the way to name a sequence.
TEST_F(Video, StreamsBecomeSequencesAndBack) {
  WriteFile(Path("in.y4m"), MakeStream(24, 16, 3));
  fs::create_directories(Path("frames"));
  ToolRun run = Colorspace("convert --to rgb " + Path("in.y4m") + " " + Path("frames/%03d.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Path("frames"))) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"001.png", "002.png", "003.png"}));

  run = Colorspace("convert --to yuv " + Path("frames/001.png") + " " + Path("frames/002.png") + " " +
                   Path("frames/003.png") + " " + Path("again.y4m"));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string again = Slurp(Path("again.y4m"));
  EXPECT_EQ(again.substr(0, again.find('\n')), "YUV4MPEG2 W24 H16 F25:1 Ip A1:1 C444 XCOLORRANGE=FULL");
  std::size_t frames = 0;
  for (std::size_t at = again.find("FRAME\n"); at != std::string::npos; at = again.find("FRAME\n", at + 1)) ++frames;
  EXPECT_EQ(frames, 3U);
  // ... in the order given: each frame is that picture's own.
  const std::size_t frameBytes = 6 + 24 * 16 * 3;  // "FRAME\n" and the planes
  for (std::size_t k = 1; k <= 3; ++k) {
    const std::string picture = Path("frames/00" + std::to_string(k) + ".png");
    ASSERT_EQ(Colorspace("convert --to yuv " + picture + " " + Path("one.y4m")).status, 0);
    const std::string one = Slurp(Path("one.y4m"));
    EXPECT_EQ(again.substr(again.find('\n') + 1 + (k - 1) * frameBytes, frameBytes), one.substr(one.find('\n') + 1))
        << "frame " << k;
  }

  // A stream to a stream keeps its rate; --fps sets another.
  run = Colorspace("convert --to ycbcr --sampling 420 " + Path("in.y4m") + " " + Path("studio.y4m"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Slurp(Path("studio.y4m")).substr(0, 70).find("F30000:1001 Ip A1:1 C420jpeg XCOLORRANGE=LIMITED"),
            std::string::npos);
  run = Colorspace("convert --to ycbcr --fps 24 " + Path("in.y4m") + " " + Path("24.y4m"));
  EXPECT_NE(Slurp(Path("24.y4m")).find(" F24:1 "), std::string::npos);
  // Interlaced 4:4:4 converts, and its interlacing is carried.
  WriteFile(Path("fields.y4m"), MakeStream(24, 16, 2, "It C444 XCOLORRANGE=FULL"));
  run = Colorspace("convert --to ycbcr " + Path("fields.y4m") + " " + Path("fields-out.y4m"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Slurp(Path("fields-out.y4m")).substr(0, 80).find(" It A1:1 C444 "), std::string::npos);
  // On a terminal, the frames are counted on the progress line.
  if (std::system("script --version >/dev/null 2>&1") == 0) {
    const ToolRun shown = RunShellCommand("script -qec '" + std::string(COLORSPACE_TOOL) + " convert --to ycbcr " +
                                          Path("in.y4m") + " " + Path("shown.y4m") + "' /dev/null");
    EXPECT_NE(shown.out.find("[frame 3 of 3] " + Path("in.y4m")), std::string::npos) << shown.out;
  }

  Write(Path("small.png"), MakeRandomPicture(8, 8));
  const std::vector<std::string> before = Files();
  run = Colorspace("convert --to yuv " + Path("frames/001.png") + " " + Path("small.png") + " " + Path("mixed.y4m"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the frames of one stream or sequence have one size; nothing written"), std::string::npos)
      << run.err;
  run = Colorspace("convert --to rgb " + Path("in.y4m") + " " + Path("one.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("name the output with a frame number (as frames/%04d.png)"), std::string::npos) << run.err;
  EXPECT_EQ(Files(), before);
}

// Raw planes: written as ffmpeg extracts them from the tool's own stream,
// read back with the options that say what they hold, refused without them
// or when the size is not whole frames.
TEST_F(Video, RawPlanesInAndOut) {
  Picture picture = MakeRandomPicture(20, 10);
  picture.hasAlpha = false;
  Write(Path("in.png"), picture);
  ToolRun run = Colorspace("convert --to ycbcr --sampling 420 " + Path("in.png") + " " + Path("out.yuv"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(fs::file_size(Path("out.yuv")), 20U * 10 + 2 * 10 * 5);
  if (HasFfmpeg()) {
    ASSERT_EQ(Colorspace("convert --to ycbcr --sampling 420 " + Path("in.png") + " " + Path("out.y4m")).status, 0);
    ASSERT_EQ(Shell(kFfmpeg + "-i " + Path("out.y4m") + " -f rawvideo -pix_fmt yuv420p " + Path("ffmpeg.yuv")), 0);
    EXPECT_EQ(Slurp(Path("out.yuv")), Slurp(Path("ffmpeg.yuv")));
  }
  // NV12 reads back as the planar file does.
  ASSERT_EQ(Colorspace("convert --to ycbcr --sampling nv12 " + Path("in.png") + " " + Path("nv12.yuv")).status, 0);
  const std::string raw = " --input-size 20x10 --from ycbcr ";
  ASSERT_EQ(Colorspace("convert --to rgb --input-sampling 420" + raw + Path("out.yuv") + " " + Path("a.png")).status,
            0);
  ASSERT_EQ(Colorspace("convert --to rgb --input-sampling nv12" + raw + Path("nv12.yuv") + " " + Path("b.png")).status,
            0);
  EXPECT_EQ(Read(Path("a.png")).bgra, Read(Path("b.png")).bgra);
  // The planes are read as the same planes in a .y4m are, at either
  // siting: --chroma-siting says where raw 4:2:0 chroma sits.
  for (const std::string siting : {"center", "left"}) {
    const std::string y4m = Path(siting + ".y4m");
    const std::string yuv = Path(siting + ".yuv");
    for (const std::string& output : {y4m, yuv}) {
      ASSERT_EQ(Colorspace("convert --to ycbcr --sampling 420 --chroma-siting " + siting + " " + Path("in.png") + " " +
                           output)
                    .status,
                0);
    }
    ASSERT_EQ(Colorspace("convert --to rgb " + y4m + " " + Path(siting + "-y4m.png")).status, 0);
    run = Colorspace("convert --to rgb --input-sampling 420 --chroma-siting " + siting + raw + yuv + " " +
                     Path(siting + "-yuv.png"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read(Path(siting + "-yuv.png")).bgra, Read(Path(siting + "-y4m.png")).bgra) << siting;
  }
  EXPECT_EQ(Read(Path("a.png")).bgra, Read(Path("center-y4m.png")).bgra);
  EXPECT_NE(Read(Path("center-yuv.png")).bgra, Read(Path("left-yuv.png")).bgra);
  // From standard input, told raw by the options.
  run = Colorspace("convert --to rgb --input-sampling 420" + raw + "- " + Path("c.png") + " <" + Path("out.yuv"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read(Path("c.png")).bgra, Read(Path("a.png")).bgra);
  // ... also where the shell has already read into the file: the frames
  // are what is left from there.
  WriteFile(Path("after-a-header.yuv"), "header!" + Slurp(Path("out.yuv")));
  run = RunShellCommand("{ dd bs=7 count=1 status=none of=/dev/null; " + std::string(COLORSPACE_TOOL) +
                        " convert --to rgb --input-sampling 420" + raw + "- " + Path("d.png") + "; } <" +
                        Path("after-a-header.yuv"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read(Path("d.png")).bgra, Read(Path("a.png")).bgra);

  WriteFile(Path("odd.yuv"), Slurp(Path("out.yuv")) + "x");
  run = Colorspace("convert --to rgb --input-sampling 420" + raw + Path("odd.yuv") + " " + Path("x.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("not a whole number of 20x10 420 frames of 300 bytes"), std::string::npos) << run.err;
  run = Colorspace("convert --to rgb " + Path("out.yuv") + " " + Path("x.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("give --input-size WxH, --input-sampling 444|422|420|nv12 and --from yuv|ycbcr"),
            std::string::npos)
      << run.err;
  run = Colorspace("convert --to yuv --sampling nv12 " + Path("in.png") + " " + Path("x.y4m"));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--sampling nv12 does not apply"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(Path("x.png")));
}

// A stream cut short keeps the frames before the cut, says which frame,
// and ends 1; interrupted, a stream output leaves nothing and a sequence
// the pictures already finished, with no temporary file.
TEST_F(Video, CutAndInterruptedStreams) {
  const std::string stream = MakeStream(16, 8, 3);
  WriteFile(Path("cut.y4m"), stream.substr(0, stream.size() - 10));
  ToolRun run = Colorspace("convert --to ycbcr " + Path("cut.y4m") + " " + Path("kept.y4m"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "colorspace: " + Path("cut.y4m") + ": frame 3 is cut short; the 2 frames before it are in " +
                         Path("kept.y4m") + "\n");
  const std::string kept = Slurp(Path("kept.y4m"));
  EXPECT_EQ(kept.size(), kept.find('\n') + 1 + std::size_t{2} * (6 + 16 * 8 * 3));
  // Where keeping them would replace a file, that file is left as it was.
  WriteFile(Path("old.y4m"), "old");
  run = Colorspace("convert --to ycbcr " + Path("cut.y4m") + " " + Path("old.y4m"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("frame 3 is cut short; " + Path("old.y4m") + " is left as it was"), std::string::npos)
      << run.err;
  EXPECT_EQ(Slurp(Path("old.y4m")), "old");

  // A long stream from a pipe that never ends, interrupted.
  const std::string header = "YUV4MPEG2 W640 H480 C444 XCOLORRANGE=FULL\n";
  WriteFile(Path("header.y4m"), header);
  const std::string frame = "FRAME\n" + std::string(std::size_t{640} * 480 * 3, '\x60');
  WriteFile(Path("frame.bin"), frame);
  fs::create_directories(Path("seq"));
  for (const std::string output : {"stream.y4m", "seq/%04d.png"}) {
    const std::string command =
        "(cat " + Path("header.y4m") + "; while cat " + Path("frame.bin") + "; do :; done) | exec " + COLORSPACE_TOOL +
        " convert " + (output == "stream.y4m" ? "--to ycbcr " : "--compression fast --to rgb ") + "- " + Path(output);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PrepareChild();
      ::setpgid(0, 0);
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Interrupted once it is under way: a picture of the sequence is
    // finished, or the stream's temporary file is there.
    auto underWay = [&] {
      std::error_code ignored;
      for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored)) {
        const std::string name = entry.path().filename().string();
        if (output == "stream.y4m" ? name.find(".stream.y4m.colorspace-") == 0 : name.find(".png") == 4) return true;
      }
      return false;
    };
    for (int wait = 0; wait < 3000 && !underWay(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const bool started = underWay();
    ::kill(-child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(started) << output << ": the conversion never got under way";
    EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == SIGTERM : WEXITSTATUS(status) == 128 + SIGTERM)
        << output << ": ended with status " << status;
    // The tool may outlive the shell by the moment it takes to clean up.
    for (int wait = 0; wait < 500 && ::kill(-child, 0) == 0; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      EXPECT_EQ(entry.path().filename().string().find(".colorspace-"), std::string::npos) << entry.path();
    }
  }
  EXPECT_FALSE(fs::exists(Path("stream.y4m")));
  EXPECT_GT(std::distance(fs::directory_iterator(Path("seq")), fs::directory_iterator()), 0);
  for (const auto& entry : fs::directory_iterator(Path("seq"))) EXPECT_EQ(Read(entry.path().string()).width, 640);
}

// One frame in memory: 30 frames of 1080p 4:2:0 (93 MB) to pictures stay
// far below what the frames would take together.
TEST_F(Video, StreamsKeepOneFrameInMemory) {
  WriteFile(Path("hd.y4m"), MakeStream(1920, 1080, 30, "C420jpeg"));
  fs::create_directories(Path("frames"));
  const MeasuredRun run = RunMeasured(std::string(COLORSPACE_TOOL) + " convert --to rgb --compression fast " +
                                          Path("hd.y4m") + " " + Path("frames/%02d.png"),
                                      Path("../err-video"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("frames")), fs::directory_iterator()), 30);
  if (!kSanitized) {
    EXPECT_LT(run.peakKiB, 64 * 1024);
  }
}

// What would mislabel or lose frames is refused or carried: a stream to one
// picture writes nothing even to a pipe; a sequence never replaces an input
// or the mask; a stream's frames share one interlacing; interlaced frames
// are not reduced to 4:2:0 in any format; the pixels' shape is carried; a
// grey stream without a range is full range; raw planes are planes, whatever
// their first bytes.
TEST_F(Video, StreamsKeepWhatTheyAre) {
  WriteFile(Path("three.y4m"), MakeStream(8, 4, 3));
  ToolRun run = Colorspace("convert --to rgb " + Path("three.y4m") + " -");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "") << "nothing of the first frame goes out";

  fs::create_directories(Path("seq"));
  Write(Path("seq/f2.png"), MakeRandomPicture(8, 4));
  const std::string before = Slurp(Path("seq/f2.png"));
  for (const std::string& arguments :
       {"--to yuv " + Path("seq/f2.png") + " " + Path("seq/f2.png") + " " + Path("seq/f%d.png"),
        "--to yuv --from yuv " + Path("three.y4m") + " " + Path("./seq/../seq/f%d.png"),
        "--to ycbcr --mask " + Path("seq/f2.png") + " " + Path("seq/f2.png") + " " + Path("seq/f%d.png")}) {
    run = Colorspace("convert " + arguments);
    if (arguments.find("three.y4m") != std::string::npos) {
      EXPECT_EQ(run.status, 0) << run.err;  // f2.png is no input here: replaced as any output
      Write(Path("seq/f2.png"), MakeRandomPicture(8, 4));
      continue;
    }
    EXPECT_EQ(run.status, 1) << arguments;
    EXPECT_NE(run.err.find("is a name of the sequence"), std::string::npos) << run.err;
    EXPECT_EQ(Slurp(Path("seq/f2.png")), before);
  }

  WriteFile(Path("top.y4m"), MakeStream(8, 4, 1, "It C422 XCOLORRANGE=FULL"));
  WriteFile(Path("bottom.y4m"), MakeStream(8, 4, 1, "Ib C422 XCOLORRANGE=FULL"));
  run = Colorspace("convert --to yuv " + Path("top.y4m") + " " + Path("bottom.y4m") + " " + Path("both.y4m"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("a stream's frames have one interlacing"), std::string::npos) << run.err;
  for (const char* output : {"fields.y4m", "fields.yuv"}) {
    run = Colorspace("convert --to yuv --sampling 420 " + Path("top.y4m") + " " + Path(output));
    EXPECT_EQ(run.status, 1) << output;
    EXPECT_NE(run.err.find("an interlaced stream is not written 4:2:0"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(Path("both.y4m")) || fs::exists(Path("fields.y4m")) || fs::exists(Path("fields.yuv")));

  WriteFile(Path("wide.y4m"), MakeStream(8, 4, 1, "A16:11 C444 XCOLORRANGE=FULL"));
  ASSERT_EQ(Colorspace("convert --to ycbcr " + Path("wide.y4m") + " " + Path("wide-out.y4m")).status, 0);
  EXPECT_NE(Slurp(Path("wide-out.y4m")).substr(0, 80).find(" A16:11 "), std::string::npos);
  // Only a pixel shape that is one is carried; 0:0, for "unknown" as a
  // rate or a shape, is read as unknown.
  WriteFile(Path("odd-shape.y4m"), MakeStream(8, 4, 1, "A1:2:3 C444 XCOLORRANGE=FULL"));
  run = Colorspace("convert --to ycbcr " + Path("odd-shape.y4m") + " " + Path("odd-shape-out.y4m"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("its header gives the pixel aspect A1:2:3"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(Path("odd-shape-out.y4m")));
  std::string unknown = MakeStream(8, 4, 1, "C444 XCOLORRANGE=FULL");
  unknown.replace(unknown.find(" F30000:1001 "), 13, " F0:0 A0:0 ");
  WriteFile(Path("unknown.y4m"), unknown);
  run = Colorspace("convert --to ycbcr " + Path("unknown.y4m") + " " + Path("unknown-out.y4m"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Slurp(Path("unknown-out.y4m")).substr(0, 80).find(" F25:1 Ip A0:0 "), std::string::npos);
  // Read as one picture (a mask), a stream of two frames is refused as such
  // without the second frame being read.
  WriteFile(Path("two.y4m"), MakeStream(8, 4, 2));
  run = Colorspace("planes " + Path("two.y4m") + " " + Path("two-planes.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("holds more than one frame, where one picture is read"), std::string::npos) << run.err;

  std::string grey = "YUV4MPEG2 W2 H1 Cmono\nFRAME\n";
  grey += std::string("\x10\xEB", 2);
  WriteFile(Path("grey.y4m"), grey);
  run = Colorspace("convert --to rgb " + Path("grey.y4m") + " " + Path("grey.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("taken as yuv (full range), as video tools take a grey stream"), std::string::npos);
  const Picture back = Read(Path("grey.png"));
  EXPECT_EQ(back.bgra[2], 16);
  EXPECT_EQ(back.bgra[6], 235);

  WriteFile(Path("jpeg-like.yuv"), std::string("\xFF\xD8\xFF", 3) + std::string(4 * 4 * 3 - 3, '\x40'));
  run = Colorspace("convert --to rgb --input-size 4x4 --input-sampling 444 --from yuv " + Path("jpeg-like.yuv") + " " +
                   Path("planes.png"));
  EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace
