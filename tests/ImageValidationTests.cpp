// Descriptor checks: every failing call returns false and writes nothing,
// neither pixels nor masks nor descriptor fields.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

#include "Conversions.h"
#include "TestSupport.h"

namespace {

using testing_support::TestImage;

constexpr std::int32_t kWidth = 8;
constexpr std::int32_t kHeight = 4;

tColorInterfaceImage ValidDescriptor(std::uint8_t* pixels) {
  return {pixels, kWidth, kHeight, 4 * kWidth, FORMAT_RGB, nullptr, 0};
}

TEST(CheckColorArgs, Boundaries) {
  std::uint8_t pixels[4 * kWidth * kHeight] = {};
  struct Case {
    const char* what;
    std::function<void(tColorInterfaceImage&)> change;
    bool passes;
  };
  const Case cases[] = {
      {"valid", [](tColorInterfaceImage&) {}, true},
      {"step exactly 4w", [](tColorInterfaceImage& d) { d.nStep = 4 * d.nWidth; }, true},
      {"step 4w - 1", [](tColorInterfaceImage& d) { d.nStep = 4 * d.nWidth - 1; }, false},
      {"step -4w (bottom-up)", [](tColorInterfaceImage& d) { d.nStep = -4 * d.nWidth; }, true},
      {"padded step", [](tColorInterfaceImage& d) { d.nStep = 4 * d.nWidth + 12; }, true},
      {"format 4096", [](tColorInterfaceImage& d) { d.nFormat = 4096; }, true},
      {"format 1", [](tColorInterfaceImage& d) { d.nFormat = 1; }, true},
      {"format 4097", [](tColorInterfaceImage& d) { d.nFormat = 4097; }, false},
      {"format 0", [](tColorInterfaceImage& d) { d.nFormat = 0; }, false},
      {"format negative", [](tColorInterfaceImage& d) { d.nFormat = -32; }, false},
      {"width 0", [](tColorInterfaceImage& d) { d.nWidth = 0; }, false},
      {"width negative", [](tColorInterfaceImage& d) { d.nWidth = -1; }, false},
      {"height 0", [](tColorInterfaceImage& d) { d.nHeight = 0; }, false},
      {"null pixels", [](tColorInterfaceImage& d) { d.pData = nullptr; }, false},
      {"mask fields ignored", [](tColorInterfaceImage& d) { d.nMaskStep = -5; }, true},
      // 4 * 2^30 wraps to 0 in 32 bits; such widths must not slip through.
      {"width 2^30, step 0",
       [](tColorInterfaceImage& d) {
         d.nWidth = 1 << 30;
         d.nStep = 0;
       },
       false},
      {"width 2^29, step 0",
       [](tColorInterfaceImage& d) {
         d.nWidth = 1 << 29;
         d.nStep = 0;
       },
       false},
      {"width max, step -1",
       [](tColorInterfaceImage& d) {
         d.nWidth = std::numeric_limits<std::int32_t>::max();
         d.nStep = -1;
       },
       false},
  };
  CColorSpace converter;
  for (const Case& c : cases) {
    tColorInterfaceImage descriptor = ValidDescriptor(pixels);
    c.change(descriptor);
    const tColorInterfaceImage before = descriptor;
    EXPECT_EQ(testing_support::CheckColorArgs(converter, &descriptor), c.passes) << c.what;
    EXPECT_TRUE(testing_support::SameDescriptor(before, descriptor)) << c.what;
  }
  EXPECT_FALSE(testing_support::CheckColorArgs(converter, nullptr));
}

struct FailingCall {
  const char* what;
  bool useMask;
  bool inPlaceToo;  // the change also makes the in-place form fail
  std::function<void(tColorInterfaceImage& src, tColorInterfaceImage& dst, std::int32_t sourceFormat)> change;
};

// Every member, every failing descriptor, canary-filled memory: false, and
// not one byte changed anywhere.
TEST(ImageMembers, FailingChecksWriteNothing) {
  const FailingCall calls[] = {
      {"source step 4w-1", false, true, [](auto& s, auto&, auto) { s.nStep = 4 * s.nWidth - 1; }},
      {"source width 0", false, true, [](auto& s, auto&, auto) { s.nWidth = 0; }},
      {"source height 0", true, true, [](auto& s, auto&, auto) { s.nHeight = 0; }},
      {"source null pixels", false, true, [](auto& s, auto&, auto) { s.pData = nullptr; }},
      {"source format 4097", false, true, [](auto& s, auto&, auto) { s.nFormat = 4097; }},
      {"wrong source format", false, true,
       [](auto& s, auto&, auto f) { s.nFormat = f == FORMAT_RGB ? FORMAT_YUV : FORMAT_RGB; }},
      {"wrong source format, masked", true, true, [](auto& s, auto&, auto) { s.nFormat = 4096; }},
      {"width wrapping to step 0", false, true,
       [](auto& s, auto&, auto) {
         s.nWidth = 1 << 30;
         s.nStep = 0;
       }},
      {"destination one column wider", false, false,
       [](auto&, auto& d, auto) {
         d.nWidth += 1;
         d.nStep += 4;
       }},
      {"destination one row shorter", true, false, [](auto&, auto& d, auto) { d.nHeight -= 1; }},
      {"destination format 0", false, false, [](auto&, auto& d, auto) { d.nFormat = 0; }},
      {"destination step too small", true, false, [](auto&, auto& d, auto) { d.nStep = 4; }},
      {"null source mask", true, true, [](auto& s, auto&, auto) { s.pMask = nullptr; }},
      {"mask step w-1", true, true, [](auto& s, auto&, auto) { s.nMaskStep = s.nWidth - 1; }},
      {"mask step negative", true, true, [](auto& s, auto&, auto) { s.nMaskStep = -s.nWidth; }},
  };
  std::mt19937 random(11);
  CColorSpace converter;
  for (const auto& member : testing_support::AllConversions()) {
    for (const FailingCall& call : calls) {
      for (bool inPlace : {false, true}) {
        if (inPlace && !call.inPlaceToo) continue;
        TestImage source(kWidth, kHeight, 4 * kWidth, member.from);
        TestImage destination(kWidth, kHeight, 4 * kWidth, 7);
        source.FillRandom(random);
        destination.FillRandom(random);
        source.SetMask(kWidth, std::vector<std::uint8_t>(std::size_t{kWidth} * kHeight, 1));
        destination.SetMask(kWidth, std::vector<std::uint8_t>(std::size_t{kWidth} * kHeight, 1));
        tColorInterfaceImage src = source.Descriptor();
        tColorInterfaceImage dst = destination.Descriptor();
        call.change(src, dst, member.from);
        const tColorInterfaceImage srcBefore = src;
        const tColorInterfaceImage dstBefore = dst;
        const auto sourceBytes = source.Bytes();
        const auto destinationBytes = destination.Bytes();
        const auto maskBytes = source.MaskBytes();
        const bool result = inPlace ? (converter.*member.inPlace)(&src, call.useMask)
                                    : (converter.*member.twoImages)(&src, &dst, call.useMask);
        const std::string context = std::string(member.name) + (inPlace ? " in place: " : ": ") + call.what;
        EXPECT_FALSE(result) << context;
        EXPECT_TRUE(testing_support::SameDescriptor(src, srcBefore)) << context;
        EXPECT_TRUE(testing_support::SameDescriptor(dst, dstBefore)) << context;
        EXPECT_EQ(source.Bytes(), sourceBytes) << context;
        EXPECT_EQ(destination.Bytes(), destinationBytes) << context;
        EXPECT_EQ(source.MaskBytes(), maskBytes) << context;
      }
    }
    // Null descriptors.
    tColorInterfaceImage any{};
    EXPECT_FALSE((converter.*member.inPlace)(nullptr, false));
    EXPECT_FALSE((converter.*member.twoImages)(nullptr, &any, true));
    EXPECT_FALSE((converter.*member.twoImages)(&any, nullptr, false));
  }
}

TEST(ImageMembers, MaskChecksOnlyWithTheFlag) {
  CColorSpace converter;
  TestImage image(kWidth, kHeight, 4 * kWidth, FORMAT_RGB);
  tColorInterfaceImage descriptor = image.Descriptor();
  descriptor.pMask = nullptr;
  descriptor.nMaskStep = -99;
  EXPECT_TRUE(converter.RGBtoYUV(&descriptor, false));
  EXPECT_EQ(descriptor.nFormat, FORMAT_YUV);

  image.SetMask(kWidth, std::vector<std::uint8_t>(std::size_t{kWidth} * kHeight, 0));
  descriptor = image.Descriptor();
  EXPECT_TRUE(converter.RGBtoYUV(&descriptor, true)) << "mask step equal to the width passes";
}

}  // namespace
