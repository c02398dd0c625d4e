#include "formats/png/PngCommon.h"

#include <cstdlib>
#include <cstring>

namespace cstool {
namespace {

// Each block starts with its size, so that freeing it gives back what was
// taken; 16 bytes keep the block aligned as malloc aligns.
constexpr std::size_t kBlockHeader = 16;

}  // namespace

void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  if (state->ready) std::longjmp(state->jump, 1);
}

png_voidp AllocateForPng(png_structp png, png_alloc_size_t size) {
  auto* memory = static_cast<PngMemory*>(png_get_mem_ptr(png));
  const std::uint64_t bytes = std::uint64_t{size} + kBlockHeader;
  if (memory->account != nullptr && !memory->account->Grow(bytes)) {
    memory->refused = true;
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(bytes)));
  if (block == nullptr) {
    if (memory->account != nullptr) memory->account->Shrink(bytes);
    return nullptr;
  }
  std::memcpy(block, &bytes, sizeof bytes);
  return block + kBlockHeader;
}

void FreeForPng(png_structp png, png_voidp pointer) {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kBlockHeader;
  std::uint64_t bytes = 0;
  std::memcpy(&bytes, block, sizeof bytes);
  std::free(block);
  auto* memory = static_cast<PngMemory*>(png_get_mem_ptr(png));
  if (memory->account != nullptr) memory->account->Shrink(bytes);
}

}  // namespace cstool
