// PNG input through libpng. Everything libpng allocates is taken from the
// job's memory account; the text chunks and the tool's selection chunk are
// read here, as they come, so that no number of chunks pushes the colour
// model record out of a cache and every text is kept.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "formats/Formats.h"
#include "formats/png/PngFormat.h"
#include "shared/InputFile.h"
#include "shared/Messages.h"

namespace cstool {
namespace {

// The colour model record is a few words: longer is refused.
constexpr std::uint32_t kMaxRecordBytes = 4096;
// What a kept text costs besides its bytes: its place in the list.
constexpr std::uint64_t kTextOverheadBytes = sizeof(Metadata::Text);
// Inflated text grows a step at a time, each taken from the account before
// it is used: the first a few times the compressed size, later ones as
// large as what is there already, up to this.
constexpr std::size_t kInflateStepBytes = std::size_t{64} << 10;
constexpr std::size_t kFirstInflateStepBytes = 256;

// Ancillary chunks libpng knows that the tool does not keep: read as
// unknown chunks and dropped, so that what libpng would say about them
// never concerns the user. The texts and the selection are read here too.
constexpr png_byte kChunksReadHere[] = "tEXt\0zTXt\0iTXt\0csMK\0bKGD\0hIST\0oFFs\0pCAL\0sBIT\0sCAL\0sPLT\0tIME";
constexpr int kChunksReadHereCount = 12;

std::uint32_t BigEndian(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Follows the chunks as libpng reads them, to know which chunk a warning is
// about and to refuse what libpng would resolve silently: a second model
// record or selection chunk, one after the pixel data, a record too long,
// and a chunk claiming more than libpng would allocate.
class ChunkWatch {
 public:
  explicit ChunkWatch(std::string path) : path_(std::move(path)) {}

  // Returns false, with the refusal in `problem`, when the file must be
  // refused.
  bool Feed(const unsigned char* data, std::size_t size) {
    while (size > 0) {
      std::size_t take = 0;
      switch (phase_) {
        case Phase::kSignature:
          take = std::min(size, std::size_t{8} - done_);
          if ((done_ += take) == 8) Begin(Phase::kHeader);
          break;
        case Phase::kHeader:
          take = std::min(size, std::size_t{8} - done_);
          std::memcpy(header_ + done_, data, take);
          if ((done_ += take) == 8 && !StartChunk()) return false;
          break;
        case Phase::kData:
          take = static_cast<std::size_t>(std::min<std::uint64_t>(size, length_ - done_));
          if (done_ < sizeof start_) {
            std::memcpy(start_ + done_, data, std::min(take, sizeof start_ - static_cast<std::size_t>(done_)));
          }
          if ((done_ += take) == length_ && !EndData()) return false;
          break;
        case Phase::kCrc:
          take = std::min(size, std::size_t{4} - done_);
          if ((done_ += take) == 4) Begin(Phase::kHeader);
          break;
      }
      data += take;
      size -= take;
    }
    return true;
  }

  // Whether the chunk read last is the model record or the selection.
  bool OnRecordOrSelection() const { return inRecord_ || inSelection_; }
  // How many chunks have begun: names the chunk read last.
  int ChunkNumber() const { return chunks_; }
  const std::string& Problem() const { return problem_; }

 private:
  enum class Phase { kSignature, kHeader, kData, kCrc };

  void Begin(Phase phase) {
    phase_ = phase;
    done_ = 0;
  }

  bool StartChunk() {
    ++chunks_;
    length_ = BigEndian(header_);
    std::memcpy(type_, header_ + 4, 4);
    inRecord_ = false;
    inSelection_ = std::memcmp(type_, kSelectionChunk, 4) == 0;
    if (std::memcmp(type_, "IDAT", 4) == 0) {
      seenPixels_ = true;
    } else if (length_ > kMaxChunkBytes) {
      // libpng would allocate what the chunk claims before reading it.
      return Refuse("its " + Printable(std::string(reinterpret_cast<const char*>(type_), 4), 4) + " chunk claims " +
                    std::to_string(length_) + " bytes, more than the " + std::to_string(kMaxChunkBytes >> 20) +
                    " MiB any chunk but the pixel data may have");
    }
    if (inSelection_ && seenPixels_) return Refuse("its selection chunk comes after the pixel data");
    if (inSelection_ && ++selections_ > 1) return Refuse("it has more than one selection chunk");
    std::memset(start_, 0, sizeof start_);
    Begin(Phase::kData);
    return length_ > 0 || EndData();
  }

  bool EndData() {
    Begin(Phase::kCrc);
    const bool text =
        std::memcmp(type_, "tEXt", 4) == 0 || std::memcmp(type_, "zTXt", 4) == 0 || std::memcmp(type_, "iTXt", 4) == 0;
    if (!text) return true;
    const std::size_t keyLength = std::strlen(kModelKey);
    inRecord_ = length_ > keyLength && std::memcmp(start_, kModelKey, keyLength + 1) == 0;
    if (!inRecord_) return true;
    if (seenPixels_) return Refuse("its colour model record comes after the pixel data");
    if (++records_ > 1) return Refuse("it has more than one colour model record");
    if (length_ > kMaxRecordBytes) {
      return Refuse("its colour model record is " + std::to_string(length_) + " bytes long, more than a record can be");
    }
    return true;
  }

  bool Refuse(const std::string& why) {
    problem_ = path_ + ": " + why;
    return false;
  }

  std::string path_;
  Phase phase_ = Phase::kSignature;
  std::uint64_t done_ = 0;
  unsigned char header_[8] = {};
  unsigned char type_[4] = {};
  std::uint64_t length_ = 0;
  unsigned char start_[80] = {};  // the data's start: a text chunk's keyword
  bool inRecord_ = false;
  bool inSelection_ = false;
  bool seenPixels_ = false;
  int records_ = 0;
  int selections_ = 0;
  int chunks_ = 0;
  std::string problem_;
};

// Everything one read holds. libpng reports errors by long jump, so the
// callbacks build no object that a jump would skip: they write their
// message into `error` and jump only once their locals are gone.
struct ReadState {
  ReadState(InputFile& from, const ReadOptions& limits) : input(&from), watch(from.Path()) {
    memory.account = limits.memory;
    error.owner = this;
  }
  PngErrorState error{};
  PngMemory memory;
  InputFile* input;
  ChunkWatch watch;
  // Found besides the pixels.
  Metadata metadata;
  std::string modelText;
  bool hasModelText = false;
  bool hasSelection = false;
  std::vector<std::uint8_t> selection;  // the packed chunk
  NoteList notes;                       // without the file's name
  int warnedChunk = 0;                  // the chunk libpng warned about last
  bool admitted = false;                // the picture's share is taken already
};

ReadState& StateOf(png_structp png) { return *static_cast<ReadState*>(png_get_io_ptr(png)); }

[[noreturn]] void Jump(ReadState& state) { std::longjmp(state.error.jump, 1); }

void SetMessage(ReadState& state, const std::string& message, bool whole) noexcept {
  std::snprintf(state.error.message, sizeof state.error.message, "%s", message.c_str());
  state.error.whole = whole;
}

// Whether the budget turned an allocation down; its refusal is then the
// message.
bool SetMemoryRefusal(ReadState& state) noexcept {
  if (!state.memory.refused) return false;
  try {
    SetMessage(state, state.input->Path() + " " + state.memory.account->Refusal(), true);
  } catch (const std::bad_alloc&) {
    SetMessage(state, "out of memory while reading it", false);
  }
  return true;
}

void ReadFromSource(png_structp png, png_bytep data, std::size_t length) {
  ReadState& state = StateOf(png);
  const std::size_t got = state.input->Read(data, length);
  if (got != length) {
    if (state.input->Failed()) {
      std::snprintf(state.error.message, sizeof state.error.message, "cannot read it: %s",
                    state.input->Reason().c_str());
      Jump(state);
    }
    png_error(png, "the file ends early");
  }
  if (!state.watch.Feed(data, length)) {
    SetMessage(state, state.watch.Problem(), true);
    Jump(state);
  }
}

// A warning about the model record or the selection (a bad CRC) would lose
// what the pixels are: that is an error, and so is a warning that comes
// from an allocation the budget refused. Other warnings concern metadata:
// the user hears of them, and what libpng could not read is left out.
void OnReadWarning(png_structp png, png_const_charp message) {
  // Found through the error pointer: libpng may warn before it has an
  // input pointer (while it is created).
  ReadState& state = *static_cast<ReadState*>(static_cast<PngErrorState*>(png_get_error_ptr(png))->owner);
  if (!state.error.ready) return;  // while created: creation fails, and says why
  if (SetMemoryRefusal(state)) Jump(state);
  if (state.watch.OnRecordOrSelection()) {
    std::snprintf(state.error.message, sizeof state.error.message,
                  "damaged colour model record or selection chunk (%s)", message);
    Jump(state);
  }
  state.warnedChunk = state.watch.ChunkNumber();
  try {
    state.notes.Add(std::string("libpng warns: ") + message + " (what it cannot read is left out)");
  } catch (const std::bad_alloc&) {
    // A note lost for want of memory: the picture is unaffected.
  }
}

// libpng's rule for a keyword it will write: 1 to 79 Latin-1 printable
// bytes, no space at either end and no two in a row.
bool ValidKeyword(const std::string& key) {
  if (key.empty() || key.size() > 79 || key.front() == ' ' || key.back() == ' ') return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const auto c = static_cast<unsigned char>(key[i]);
    if (c < 32 || (c > 126 && c < 161)) return false;
    if (c == ' ' && key[i + 1] == ' ') return false;
  }
  return true;
}

// The budget turned an allocation down: that is why the read fails.
void RefuseForMemory(ReadState& state) noexcept {
  state.memory.refused = true;
  SetMemoryRefusal(state);
}

// Takes `bytes` from the job's account for what the read keeps; false,
// with the budget's refusal set, when the budget refuses them.
bool TakeKept(ReadState& state, std::uint64_t bytes) noexcept {
  if (state.memory.account == nullptr || state.memory.account->Grow(bytes)) return true;
  RefuseForMemory(state);
  return false;
}

enum class Inflated { kDone, kTooLong, kDamaged, kNoMemory };

// Inflates zlib data into `out`, no further than `limit` bytes. The
// string's memory is taken into `held` before it grows (it grows by
// doubling, as std::string does, so the copies stay linear): `held` is what
// its storage takes.
Inflated Inflate(const std::uint8_t* data, std::size_t size, std::size_t limit,
                 MemoryBudget::Account::Reservation& held, std::string& out) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return Inflated::kNoMemory;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  Inflated result = Inflated::kDamaged;
  for (;;) {
    if (out.size() == limit) {
      // Full: the text fits only if nothing but the stream's end is left.
      Bytef spare = 0;
      stream.next_out = &spare;
      stream.avail_out = 1;
      result =
          inflate(&stream, Z_NO_FLUSH) == Z_STREAM_END && stream.avail_out == 1 ? Inflated::kDone : Inflated::kTooLong;
      break;
    }
    const std::size_t had = out.size();
    const std::size_t wanted = had == 0 ? std::max(kFirstInflateStepBytes, 4 * size) : had;
    const std::size_t step = std::min({kInflateStepBytes, wanted, limit - had});
    if (had + step > out.capacity()) {
      const std::size_t capacity = std::max(had + step, 2 * out.capacity());
      if (!held.Grow(capacity - held.Bytes())) {
        result = Inflated::kNoMemory;
        break;
      }
      out.reserve(capacity);
    }
    out.resize(had + step);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + had);
    stream.avail_out = static_cast<uInt>(step);
    const int status = inflate(&stream, Z_NO_FLUSH);
    out.resize(out.size() - stream.avail_out);
    if (status == Z_STREAM_END) {
      result = Inflated::kDone;
      break;
    }
    if (status != Z_OK && status != Z_BUF_ERROR) break;
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;  // cut short
  }
  inflateEnd(&stream);
  return result;
}

enum class Outcome { kHandled, kRefused };

// A text chunk: kept (counted in the budget), taken as the model record,
// or left out with a note; the record's damage refuses the file.
Outcome ReadText(ReadState& state, const png_unknown_chunk& chunk) {
  const auto* data = chunk.data;
  const std::size_t size = chunk.size;
  const std::string type(reinterpret_cast<const char*>(chunk.name), 4);
  // An empty chunk has no data at all (libpng hands over no pointer).
  const auto* keyEnd =
      size == 0 ? nullptr : static_cast<const std::uint8_t*>(std::memchr(data, 0, std::min<std::size_t>(size, 80)));
  const std::string key =
      keyEnd == nullptr ? std::string()
                        : std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(keyEnd - data));
  const bool record = key == kModelKey;
  auto drop = [&](const std::string& why) {
    if (record) {
      SetMessage(state, "damaged colour model record (" + why + ")", false);
      return Outcome::kRefused;
    }
    state.notes.Add("left out one " + type + " chunk " + why);
    return Outcome::kHandled;
  };
  if (keyEnd == nullptr || !ValidKeyword(key)) return drop("with an invalid keyword");
  std::string named = "'";  // built in steps: GCC 12 warns wrongly about "'" + string
  named += Printable(key, 79);
  named += '\'';
  Metadata::Text text;
  text.key = key;
  std::size_t at = key.size() + 1;
  bool compressed = false;
  if (type == "tEXt") {
    text.compression = PNG_TEXT_COMPRESSION_NONE;
  } else if (type == "zTXt") {
    if (at >= size || data[at] != 0) return drop(named + " with an unknown compression");
    compressed = true;
    ++at;
    text.compression = PNG_TEXT_COMPRESSION_zTXt;
  } else {
    if (at + 2 > size || data[at] > 1 || data[at + 1] != 0) {
      return drop(named + " with an unknown compression");
    }
    compressed = data[at] == 1;
    text.compression = compressed ? PNG_ITXT_COMPRESSION_zTXt : PNG_ITXT_COMPRESSION_NONE;
    at += 2;
    for (std::string* field : {&text.language, &text.translatedKey}) {
      const auto* end = static_cast<const std::uint8_t*>(std::memchr(data + at, 0, size - at));
      if (end == nullptr) return drop(named + " that is cut short");
      field->assign(reinterpret_cast<const char*>(data + at), static_cast<std::size_t>(end - (data + at)));
      at = static_cast<std::size_t>(end - data) + 1;
    }
  }
  // What the text holds, given back unless the text is kept.
  MemoryBudget::Account::Reservation held(state.memory.account);
  if (compressed) {
    const std::size_t limit = record ? kMaxRecordBytes : static_cast<std::size_t>(kMaxChunkBytes);
    const Inflated inflated = Inflate(data + at, size - at, limit, held, text.text);
    if (inflated == Inflated::kNoMemory) {
      RefuseForMemory(state);
      return Outcome::kRefused;
    }
    if (inflated == Inflated::kTooLong) {
      return drop(named + " that inflates beyond " + ByteAmount(limit));
    }
    if (inflated == Inflated::kDamaged) return drop(named + " whose compressed text is damaged");
  } else {
    text.text.assign(reinterpret_cast<const char*>(data + at), size - at);
  }
  // Texts end at a zero byte, as libpng reads and writes them; what is kept
  // is what the text holds, no more.
  text.text.resize(std::strlen(text.text.c_str()));
  if (compressed) {
    text.text.shrink_to_fit();
    held.Shrink(held.Bytes() - std::min<std::uint64_t>(held.Bytes(), text.text.capacity()));
  }
  if (record) {
    state.modelText = text.text;
    state.hasModelText = true;
    return Outcome::kHandled;
  }
  const std::uint64_t bytes = kTextOverheadBytes + text.key.size() + text.language.size() + text.translatedKey.size() +
                              (compressed ? 0 : text.text.capacity());
  if (!TakeKept(state, bytes)) return Outcome::kRefused;
  state.metadata.texts.push_back(std::move(text));
  held.Keep();  // held with the picture until the job ends
  return Outcome::kHandled;
}

Outcome ReadChunk(ReadState& state, const png_unknown_chunk& chunk) noexcept {
  // libpng hands over a chunk it found damaged (a bad CRC) after warning.
  if (state.warnedChunk == state.watch.ChunkNumber()) return Outcome::kHandled;
  try {
    const std::string type(reinterpret_cast<const char*>(chunk.name), 4);
    if (type == "tEXt" || type == "zTXt" || type == "iTXt") return ReadText(state, chunk);
    if (std::memcmp(chunk.name, kSelectionChunk, 4) == 0) {
      if (!TakeKept(state, chunk.size)) return Outcome::kRefused;
      state.hasSelection = true;
      state.selection.assign(chunk.data, chunk.data + chunk.size);
      return Outcome::kHandled;
    }
    if ((chunk.name[0] & 0x20) == 0) {
      // A critical chunk: the picture cannot be read without it.
      SetMessage(state, "it needs the chunk " + Printable(type, 4) + ", which this reader does not know", false);
      return Outcome::kRefused;
    }
    return Outcome::kHandled;  // ancillary and not kept
  } catch (const std::bad_alloc&) {
    SetMessage(state, "out of memory while reading it", false);
    return Outcome::kRefused;
  }
}

int OnChunk(png_structp png, png_unknown_chunkp chunk) {
  ReadState& state = *static_cast<ReadState*>(png_get_user_chunk_ptr(png));
  if (ReadChunk(state, *chunk) == Outcome::kRefused) Jump(state);
  return 1;
}

void CollectMetadata(png_structp png, png_infop info, Metadata& metadata) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileLength = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) != 0) {
    metadata.iccName = name != nullptr ? name : "ICC profile";
    metadata.icc.assign(profile, profile + profileLength);
  }
  int intent = 0;
  if (png_get_sRGB(png, info, &intent) != 0) metadata.srgbIntent = intent;
  png_fixed_point gamma = 0;
  if (png_get_valid(png, info, PNG_INFO_gAMA) != 0 && png_get_gAMA_fixed(png, info, &gamma) != 0) {
    metadata.gamma = gamma;
  }
  std::vector<png_fixed_point> points(8);
  if (png_get_valid(png, info, PNG_INFO_cHRM) != 0 &&
      png_get_cHRM_fixed(png, info, &points[0], &points[1], &points[2], &points[3], &points[4], &points[5], &points[6],
                         &points[7]) != 0) {
    metadata.chromaticities.emplace(points.begin(), points.end());
  }
  png_uint_32 x = 0;
  png_uint_32 y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit) != 0) metadata.density = Metadata::Density{x, y, unit};
  png_uint_32 exifLength = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &exifLength, &exif) != 0 && exif != nullptr) {
    metadata.exif.assign(exif, exif + exifLength);
  }
}

// The chunks libpng keeps itself, copied out before its memory goes; the
// copies are taken from the account first.
bool CopyMetadata(ReadState& state, png_structp png, png_infop info) noexcept {
  try {
    Metadata kept;
    CollectMetadata(png, info, kept);
    if (!TakeKept(state, kept.icc.size() + kept.exif.size())) return false;
    kept.texts = std::move(state.metadata.texts);
    state.metadata = std::move(kept);
    return true;
  } catch (const std::bad_alloc&) {
    SetMessage(state, "out of memory while reading it", false);
    return false;
  }
}

// The picture's share of the job's memory (its pixels and the table of its
// rows), taken once: a refusal naming the file, or nothing.
std::string Admit(ReadState& state, const ReadOptions& limits, std::uint64_t width, std::uint64_t height) {
  if (state.admitted) return {};
  std::string refusal = AdmitPicture(limits, state.input->Path(), width, height, sizeof(png_bytep) * height);
  state.admitted = refusal.empty();
  return refusal;
}

// Takes the picture's share (once) and its memory; false, with the message
// set, when either is refused.
bool TakeMemory(ReadState& state, const ReadOptions& limits, png_uint_32 width, png_uint_32 height, Picture& picture,
                std::vector<png_bytep>& rows) noexcept {
  try {
    const std::string refusal = Admit(state, limits, width, height);
    if (!refusal.empty()) {
      SetMessage(state, refusal, true);
      return false;
    }
    picture.bgra.resize(std::size_t{4} * width * height);
    rows.resize(height);
    return true;
  } catch (const std::bad_alloc&) {
    SetMessage(state, "out of memory while reading it", false);
    return false;
  }
}

// Each row holds its palette indices in its first bytes; they become
// B, G, R, A in place, from the row's end, where nothing is read again.
// Returns the highest index used; one past the palette is expanded as
// black, for the caller to refuse.
int ExpandPalette(Picture& picture, const png_color* colours, int entries, const png_byte* alpha, int alphas) {
  static constexpr png_color kNoColour{0, 0, 0};
  const auto width = static_cast<std::size_t>(picture.width);
  int highest = 0;
  for (std::size_t y = 0; y < static_cast<std::size_t>(picture.height); ++y) {
    std::uint8_t* row = picture.bgra.data() + 4 * width * y;
    for (std::size_t x = width; x-- > 0;) {
      const std::uint8_t index = row[x];
      highest = std::max<int>(highest, index);
      const png_color& colour = index < entries ? colours[index] : kNoColour;
      std::uint8_t* pixel = row + 4 * x;
      pixel[0] = colour.blue;
      pixel[1] = colour.green;
      pixel[2] = colour.red;
      pixel[3] = index < alphas ? alpha[index] : 255;
    }
  }
  return highest;
}

// libpng reports errors by long jump, so this function keeps no object with
// a destructor between the jump target and the calls that may jump; the
// caller owns the buffers.
bool ReadWithLibpng(ReadState& state, const ReadOptions& limits, Picture& picture, std::vector<png_bytep>& rows,
                    bool& reduced16) {
  png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &state.error, OnPngError, OnReadWarning,
                                             &state.memory, AllocateForPng, FreeForPng);
  png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    if (!SetMemoryRefusal(state)) SetMessage(state, "out of memory while reading it", false);
    return false;
  }
  state.error.ready = true;
  if (setjmp(state.error.jump) != 0) {
    // An error libpng raised for want of memory is the budget's refusal.
    if (!state.error.whole) SetMemoryRefusal(state);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &state, ReadFromSource);
  png_set_read_user_chunk_fn(png, &state, OnChunk);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kChunksReadHere, kChunksReadHereCount);
  // The pixel limit, not libpng's default of a million a side, decides.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_read_info(png, info);

  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info);
  const int colourType = png_get_color_type(png, info);
  const bool palette = colourType == PNG_COLOR_TYPE_PALETTE;
  reduced16 = depth == 16;
  picture.hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (palette) {
    // Indices are read as they are, one a byte, and expanded here, where
    // each is checked against the palette: libpng 1.6 checks none once it
    // expands them, and misses each row's last one when it does not.
    if (depth < 8) png_set_packing(png);
  } else {
    if (depth == 16) png_set_strip_16(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != std::size_t{palette ? 1U : 4U} * width) {
    png_error(png, "unsupported pixel layout");
  }

  if (!TakeMemory(state, limits, width, height, picture, rows)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  picture.width = static_cast<std::int32_t>(width);
  picture.height = static_cast<std::int32_t>(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = picture.bgra.data() + std::size_t{4} * width * y;
  png_read_image(png, rows.data());
  png_read_end(png, info);
  if (palette) {
    png_colorp colours = nullptr;
    int entries = 0;
    png_get_PLTE(png, info, &colours, &entries);
    png_bytep alpha = nullptr;
    int alphas = 0;
    png_get_tRNS(png, info, &alpha, &alphas, nullptr);
    // An index past the palette's end names no colour: the picture is
    // damaged.
    const int highest = ExpandPalette(picture, colours, entries, alpha, alphas);
    if (highest >= entries) {
      std::snprintf(state.error.message, sizeof state.error.message,
                    "its pixels use palette entry %d, past the end of its %d-entry palette", highest, entries);
      png_destroy_read_struct(&png, &info, nullptr);
      return false;
    }
  }
  const bool copied = CopyMetadata(state, png, info);
  png_destroy_read_struct(&png, &info, nullptr);
  return copied;
}

// A PNG as a reader of one picture, sized from its header chunk (which comes
// first; libpng reads it again) when opened: the limits apply, and the
// picture's share is taken, before libpng allocates anything.
class PngPicture : public OnePictureReader {
 public:
  using OnePictureReader::OnePictureReader;

  std::string Open(ReadResult& /*result*/) {
    unsigned char start[24] = {};
    if (input_.Peek(start, sizeof start) != sizeof start || std::memcmp(start + 12, "IHDR", 4) != 0) return {};
    width_ = BigEndian(start + 16);
    height_ = BigEndian(start + 20);
    sized_ = true;
    return CheckPixelLimit(input_.Path(), width_, height_, options_.maxPixels);
  }

 private:
  bool ReadPicture(Picture& picture, ReadResult& result) override {
    const std::string& path = input_.Path();
    ReadState state(input_, options_);
    if (sized_) result.error = Admit(state, options_, width_, height_);
    if (!result.Ok()) return false;
    std::vector<png_bytep> rows;
    bool reduced16 = false;
    if (!ReadWithLibpng(state, options_, picture, rows, reduced16)) {
      result.error = state.error.whole ? std::string(state.error.message) : path + ": " + state.error.message;
    } else if (state.hasModelText && !ParseModelText(state.modelText, picture.record)) {
      result.error = path + " records an unknown colour model '" + Printable(state.modelText, 64) + "'";
    } else if (picture.record.Mixed() && state.hasSelection) {
      std::string why;
      picture.record.selection =
          UnpackSelection(state.selection.data(), state.selection.size(), picture.width, picture.height, why);
      if (picture.record.selection.empty()) result.error = path + " is recorded as mixed, but its selection " + why;
    }
    if (!result.Ok()) {
      picture = Picture{};
      return false;
    }
    picture.metadata = std::move(state.metadata);
    if (reduced16) result.notes.push_back(path + ": 16-bit samples reduced to 8 bits");
    for (const std::string& note : state.notes.Lines()) result.notes.push_back(path + ": " + note);
    return true;
  }

  bool sized_ = false;
};

}  // namespace

std::unique_ptr<FrameReader> OpenPngReader(InputFile& input, const ReadOptions& options, ReadResult& result) {
  return OpenReader<PngPicture>(input, options, result);
}

}  // namespace cstool
