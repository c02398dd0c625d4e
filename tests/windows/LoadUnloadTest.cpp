// Loads and unloads the DLL repeatedly, with and without objects made in
// between, through the exported members found by name. This program does
// not link the DLL, so every FreeLibrary really unloads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

namespace {

// Member functions of a 32-bit Windows class use the thiscall convention
// (object in ECX). GCC applies the attribute to plain function pointers but
// warns that they are not members, which is the point here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
using Constructor = void(__attribute__((thiscall)) *)(void* self);
using Destructor = void(__attribute__((thiscall)) *)(void* self);
using PackedConversion = void(__attribute__((thiscall)) *)(void* self, std::uint32_t& pixel);
#pragma GCC diagnostic pop

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::uint32_t ConvertOnce(HMODULE module) {
  const auto construct = Find<Constructor>(module, "_ZN11CColorSpaceC1Ev");
  const auto destroy = Find<Destructor>(module, "_ZN11CColorSpaceD1Ev");
  const auto toYUV = Find<PackedConversion>(module, "_ZN11CColorSpace8RGBtoYUVERj");
  EXPECT_NE(construct, nullptr);
  EXPECT_NE(destroy, nullptr);
  EXPECT_NE(toYUV, nullptr);
  if (construct == nullptr || destroy == nullptr || toYUV == nullptr) return 0;
  alignas(8) unsigned char storage[8] = {};  // the class has no data members
  construct(storage);
  std::uint32_t pixel = 0x00FFFFFF;
  toYUV(storage, pixel);
  destroy(storage);
  return pixel;
}

TEST(LoadUnload, RepeatedLoadsHaveNoEffect) {
  for (int round = 0; round < 8; ++round) {
    HMODULE module = LoadLibraryA(COLORSPACE_DLL_PATH);
    ASSERT_NE(module, nullptr) << "round " << round;
    if (round % 2 == 1) {
      EXPECT_EQ(ConvertOnce(module), 0x00FF807FU) << "round " << round;
      EXPECT_EQ(ConvertOnce(module), 0x00FF807FU) << "round " << round;
    }
    ASSERT_NE(FreeLibrary(module), 0);
    EXPECT_EQ(GetModuleHandleA("ColorSpace.dll"), nullptr) << "still loaded after round " << round;
  }
}

TEST(LoadUnload, NestedLoadsShareOneModule) {
  HMODULE first = LoadLibraryA(COLORSPACE_DLL_PATH);
  HMODULE second = LoadLibraryA(COLORSPACE_DLL_PATH);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  ASSERT_NE(FreeLibrary(second), 0);
  EXPECT_EQ(ConvertOnce(first), 0x00FF807FU);
  ASSERT_NE(FreeLibrary(first), 0);
  EXPECT_EQ(GetModuleHandleA("ColorSpace.dll"), nullptr);
}

}  // namespace
