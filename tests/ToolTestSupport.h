// What the tool's end-to-end tests share: running the tool, reading and
// writing pictures, and making JPEG and PNG files byte by byte.
#pragma once

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "commands/Commands.h"
#include "formats/Formats.h"
#include "formats/jpeg/JpegFormat.h"
#include "formats/png/PngCompression.h"
#include "shared/Picture.h"

namespace tooltest {

namespace fs = std::filesystem;
using cstool::Model;
using cstool::Picture;

// Under a sanitizer, memory and time are the sanitizer's, not the tool's.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// A shell command's exit status (-1 when it did not exit).
inline int Shell(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// What a shell command prints.
inline std::string Printed(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
    ::pclose(pipe);
  }
  return out;
}

// `data` as a zlib stream, as PNG's compressed chunks hold it.
inline std::string Deflate(const std::string& data, int level = 9) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
            static_cast<uLong>(data.size()), level);
  packed.resize(size);
  return packed;
}

// ffmpeg, the independent reader and writer of video, is installed.
inline bool HasFfmpeg() { return Shell("ffmpeg -version >/dev/null 2>&1") == 0; }

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

class Tool : public ::testing::Test {
 public:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("colorspace-tool-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  ToolRun Colorspace(const std::string& arguments) const {
    const std::string out = Path("stdout.txt");
    const std::string err = Path("stderr.txt");
    const std::string command = std::string(COLORSPACE_TOOL) + " " + arguments + " >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
    fs::remove(out);
    fs::remove(err);
    return run;
  }

  // Any shell command, its output and messages.
  ToolRun RunShellCommand(const std::string& command) const {
    const std::string out = Path("shell-out.txt");
    const std::string err = Path("shell-err.txt");
    const int raw = std::system(("(" + command + ") >" + out + " 2>" + err).c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
    fs::remove(out);
    fs::remove(err);
    return run;
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static Picture Read(const std::string& path) {
    Picture picture;
    const cstool::ReadResult result = cstool::ReadImage(path, cstool::kDefaultMaxPixels, picture);
    EXPECT_TRUE(result.Ok()) << path << ": " << result.error;
    return picture;
  }

  static void Write(const std::string& path, const Picture& picture) {
    cstool::Progress progress(1);
    cstool::WriteSettings settings;
    settings.given.Set("--compression", cstool::Compression::kFast);
    ASSERT_EQ(cstool::WritePicture(path, picture, settings, progress), "");
  }

  // Only the files a test made itself: no temporary file may be left over.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static Picture MakeRandomPicture(int width, int height, unsigned seed = 3) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.bgra.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    std::mt19937 random(seed);
    for (auto& b : picture.bgra) b = static_cast<std::uint8_t>(random());
    return picture;
  }

  // White where `selected` says, black elsewhere.
  static Picture MakeMask(int width, int height, bool (*selected)(std::size_t)) {
    Picture mask = MakeRandomPicture(width, height);
    mask.hasAlpha = false;
    for (std::size_t p = 0; p < mask.Pixels(); ++p) {
      const std::uint8_t value = selected(p) ? 255 : 0;
      std::memset(&mask.bgra[4 * p], value, 3);
      mask.bgra[4 * p + 3] = 255;
    }
    return mask;
  }

  fs::path dir_;
};

// Text as one line: runs of white space become one space, so that wrapped
// help can be searched for a phrase.
inline std::string OneLine(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool space = c == ' ' || c == '\n' || c == '\t';
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  return out;
}

inline int MaxDifference(const Picture& a, const Picture& b, bool alpha) {
  int worst = 0;
  for (std::size_t i = 0; i < a.bgra.size(); ++i) {
    if (!alpha && i % 4 == 3) continue;
    worst = std::max(worst, std::abs(int{a.bgra[i]} - int{b.bgra[i]}));
  }
  return worst;
}

// In a child about to run the tool: every signal as it is by default and
// none blocked, whatever the test runner set (a runner may start its jobs
// with SIGINT ignored, and the tool rightly keeps an ignored signal
// ignored), and no core file from a signal that lands early.
inline void PrepareChild() {
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal != SIGKILL && signal != SIGSTOP) ::signal(signal, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
}

// A run of the tool with its cost: wall time and the child's peak memory.
struct MeasuredRun {
  int status = -1;  // exit status, or -signal
  std::string err;
  double seconds = 0;
  long peakKiB = 0;
};

// Runs `command` through the shell in a child that `prepare` sets up first,
// standard error to `errPath`.
template <typename Prepare>
MeasuredRun RunInChild(const std::string& command, const std::string& errPath, Prepare prepare) {
  MeasuredRun run;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    PrepareChild();
    prepare();
    const std::string line = "exec " + command + " 2>" + errPath;
    ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKiB = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  run.err = Tool::Slurp(errPath);
  std::filesystem::remove(errPath);
  return run;
}

// With `resource` (RLIMIT_FSIZE, RLIMIT_AS) limited to `limit` when it is
// not 0.
inline MeasuredRun RunMeasured(const std::string& command, const std::string& errPath, rlim_t limit = 0,
                               int resource = RLIMIT_FSIZE) {
  return RunInChild(command, errPath, [&] {
    if (limit != 0) {
      const rlimit bound{limit, limit};
      ::setrlimit(resource, &bound);
    }
  });
}

// The user the permission and thread-limit tests run the tool as.
inline constexpr uid_t kOtherUser = 65534;  // nobody
inline constexpr gid_t kOtherGroup = 65534;

// Whether this process may run commands as kOtherUser (it runs as root).
inline bool CanRunAsOtherUser() { return ::geteuid() == 0; }

// As kOtherUser, with at most `processes` processes and threads for that
// user when it is not 0 (the kernel ignores that limit for root).
inline MeasuredRun RunAsOtherUser(const std::string& command, const std::string& errPath, rlim_t processes = 0) {
  return RunInChild(command, errPath, [&] {
    const gid_t groups[] = {kOtherGroup};
    if (::setgroups(1, groups) != 0 || ::setgid(kOtherGroup) != 0 || ::setuid(kOtherUser) != 0) ::_exit(126);
    if (processes != 0) {
      const rlimit bound{processes, processes};
      ::setrlimit(RLIMIT_NPROC, &bound);
    }
  });
}

struct JpegSettings {
  int width = 64;
  int height = 48;
  int components = 3;  // 1 grey, 3 colour, 4 CMYK
  int hSample = 1;     // the first component's sampling factors
  int vSample = 1;
  bool progressive = false;
  std::vector<jpeg_scan_info> scans = {};  // a scan script of its own, when not empty
  // Markers: an ICC profile (in as many segments as it needs), EXIF, and a
  // density in dots per inch; each when given.
  std::vector<std::uint8_t> icc = {};
  std::vector<std::uint8_t> exif = {};
  int dpi = 0;
};

// Encodes a smooth pattern with libjpeg.
inline std::string EncodeJpeg(const JpegSettings& settings) {
  jpeg_compress_struct encoder{};
  jpeg_error_mgr errors{};
  encoder.err = jpeg_std_error(&errors);
  jpeg_create_compress(&encoder);
  unsigned char* bytes = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&encoder, &bytes, &size);
  encoder.image_width = static_cast<JDIMENSION>(settings.width);
  encoder.image_height = static_cast<JDIMENSION>(settings.height);
  encoder.input_components = settings.components;
  encoder.in_color_space = settings.components == 1 ? JCS_GRAYSCALE : (settings.components == 3 ? JCS_RGB : JCS_CMYK);
  jpeg_set_defaults(&encoder);
  jpeg_set_quality(&encoder, 90, TRUE);
  encoder.comp_info[0].h_samp_factor = settings.hSample;
  encoder.comp_info[0].v_samp_factor = settings.vSample;
  if (settings.progressive) jpeg_simple_progression(&encoder);
  if (!settings.scans.empty()) {
    encoder.scan_info = settings.scans.data();
    encoder.num_scans = static_cast<int>(settings.scans.size());
  }
  if (settings.dpi > 0) {
    encoder.density_unit = 1;
    encoder.X_density = static_cast<UINT16>(settings.dpi);
    encoder.Y_density = static_cast<UINT16>(settings.dpi);
  }
  jpeg_start_compress(&encoder, TRUE);
  if (!settings.icc.empty()) {
    jpeg_write_icc_profile(&encoder, settings.icc.data(), static_cast<unsigned int>(settings.icc.size()));
  }
  if (!settings.exif.empty()) {
    std::vector<JOCTET> app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), settings.exif.begin(), settings.exif.end());
    jpeg_write_marker(&encoder, JPEG_APP0 + 1, app1.data(), static_cast<unsigned int>(app1.size()));
  }
  std::vector<JSAMPLE> row(static_cast<std::size_t>(settings.width * settings.components));
  while (encoder.next_scanline < encoder.image_height) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      row[i] = static_cast<JSAMPLE>((i * 3 + std::size_t{encoder.next_scanline} * 5) % 256);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&encoder, rows, 1);
  }
  jpeg_finish_compress(&encoder);
  jpeg_destroy_compress(&encoder);
  std::string file(reinterpret_cast<const char*>(bytes), size);
  std::free(bytes);
  return file;
}

// One grey component in many valid scans: for each of the 64 coefficients
// a first scan at precision `firstShift`, then one refinement per bit.
inline std::vector<jpeg_scan_info> ScanPerCoefficientBit(int firstShift) {
  std::vector<jpeg_scan_info> scans;
  for (int k = 0; k < 64; ++k) {
    scans.push_back({1, {0, 0, 0, 0}, k, k, 0, firstShift});
    for (int shift = firstShift; shift > 0; --shift) scans.push_back({1, {0, 0, 0, 0}, k, k, shift, shift - 1});
  }
  return scans;
}

struct Chunk {
  std::string type;
  std::string data;
};

inline std::string ChunkBytes(const Chunk& chunk, bool badCrc = false) {
  std::string bytes;
  const auto length = static_cast<std::uint32_t>(chunk.data.size());
  for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(length >> shift);
  const std::string body = chunk.type + chunk.data;
  bytes += body;
  auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const unsigned char*>(body.data()), static_cast<unsigned>(body.size())));
  if (badCrc) crc ^= 1;
  for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(crc >> shift);
  return bytes;
}

inline const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

// The chunks of a PNG, in order (CRCs not checked).
inline std::vector<Chunk> ParseChunks(const std::string& file) {
  std::vector<Chunk> chunks;
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(file.data() + at);
    const std::size_t length = (std::size_t{p[0]} << 24) | (std::size_t{p[1]} << 16) | (std::size_t{p[2]} << 8) | p[3];
    chunks.push_back({file.substr(at + 4, 4), file.substr(at + 8, length)});
    at += 12 + length;
  }
  return chunks;
}

inline std::string BuildPng(const std::vector<Chunk>& chunks) {
  std::string file = kPngSignature;
  for (const Chunk& chunk : chunks) file += ChunkBytes(chunk);
  return file;
}

// A header chunk for a grey 8-bit picture of any claimed size.
inline Chunk GreyHeader(std::uint32_t width, std::uint32_t height) {
  std::string data;
  for (const std::uint32_t value : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) data += static_cast<char>(value >> shift);
  }
  data += std::string("\x08\0\0\0\0", 5);
  return {"IHDR", data};
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tooltest
