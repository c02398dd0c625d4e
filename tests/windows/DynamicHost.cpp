// A host that does not link the DLL: it loads it, finds every member of
// CColorSpace by its decorated name, calls each one through a member pointer
// (ECX carries the object on 32-bit Windows), checks the results, and
// unloads it again, several times over. Built for both Windows ABIs.
#include <ColorSpace/ColorSpace.h>
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "HostPlatform.h"

namespace {

// The exported names, in the class's declaration order, for the ABI this
// host is built for.
enum Export {
  kConstructor,
  kDestructor,
  kAssignment,
  kCheckColorArgs,
  kLinearInPlace,
  kRGBtoYCbCrComponents,
  kRGBtoYCbCrPacked,
  kRGBtoYCbCrTwoImages,
  kRGBtoYCbCrInPlace,
  kRGBtoYUVComponents,
  kRGBtoYUVPacked,
  kRGBtoYUVTwoImages,
  kRGBtoYUVInPlace,
  kYCbCrtoRGBComponents,
  kYCbCrtoRGBPacked,
  kYCbCrtoRGBTwoImages,
  kYCbCrtoRGBInPlace,
  kYUVtoRGBComponents,
  kYUVtoRGBPacked,
  kYUVtoRGBTwoImages,
  kYUVtoRGBInPlace,
  kExports
};

#if defined(_MSC_VER) && defined(_M_IX86)
const char* const kNames[kExports] = {
    "??0CColorSpace@@QAE@XZ",
    "??1CColorSpace@@QAE@XZ",
    "??4CColorSpace@@QAEAAV0@ABV0@@Z",
    "?CheckColorArgs@CColorSpace@@AAE_NPBUtColorInterfaceImage@@@Z",
    "?LinearInPlace@CColorSpace@@AAE_NPAUtColorInterfaceImage@@QAY03$$CBM1_N@Z",
    "?RGBtoYCbCr@CColorSpace@@QAEXAAE00@Z",
    "?RGBtoYCbCr@CColorSpace@@QAEXAAI@Z",
    "?RGBtoYCbCr@CColorSpace@@QAE_NPBUtColorInterfaceImage@@PAU2@_N@Z",
    "?RGBtoYCbCr@CColorSpace@@QAE_NPAUtColorInterfaceImage@@_N@Z",
    "?RGBtoYUV@CColorSpace@@QAEXAAE00@Z",
    "?RGBtoYUV@CColorSpace@@QAEXAAI@Z",
    "?RGBtoYUV@CColorSpace@@QAE_NPBUtColorInterfaceImage@@PAU2@_N@Z",
    "?RGBtoYUV@CColorSpace@@QAE_NPAUtColorInterfaceImage@@_N@Z",
    "?YCbCrtoRGB@CColorSpace@@QAEXAAE00@Z",
    "?YCbCrtoRGB@CColorSpace@@QAEXAAI@Z",
    "?YCbCrtoRGB@CColorSpace@@QAE_NPBUtColorInterfaceImage@@PAU2@_N@Z",
    "?YCbCrtoRGB@CColorSpace@@QAE_NPAUtColorInterfaceImage@@_N@Z",
    "?YUVtoRGB@CColorSpace@@QAEXAAE00@Z",
    "?YUVtoRGB@CColorSpace@@QAEXAAI@Z",
    "?YUVtoRGB@CColorSpace@@QAE_NPBUtColorInterfaceImage@@PAU2@_N@Z",
    "?YUVtoRGB@CColorSpace@@QAE_NPAUtColorInterfaceImage@@_N@Z",
};
#elif defined(_MSC_VER)
const char* const kNames[kExports] = {
    "??0CColorSpace@@QEAA@XZ",
    "??1CColorSpace@@QEAA@XZ",
    "??4CColorSpace@@QEAAAEAV0@AEBV0@@Z",
    "?CheckColorArgs@CColorSpace@@AEAA_NPEBUtColorInterfaceImage@@@Z",
    "?LinearInPlace@CColorSpace@@AEAA_NPEAUtColorInterfaceImage@@QEAY03$$CBM1_N@Z",
    "?RGBtoYCbCr@CColorSpace@@QEAAXAEAE00@Z",
    "?RGBtoYCbCr@CColorSpace@@QEAAXAEAI@Z",
    "?RGBtoYCbCr@CColorSpace@@QEAA_NPEBUtColorInterfaceImage@@PEAU2@_N@Z",
    "?RGBtoYCbCr@CColorSpace@@QEAA_NPEAUtColorInterfaceImage@@_N@Z",
    "?RGBtoYUV@CColorSpace@@QEAAXAEAE00@Z",
    "?RGBtoYUV@CColorSpace@@QEAAXAEAI@Z",
    "?RGBtoYUV@CColorSpace@@QEAA_NPEBUtColorInterfaceImage@@PEAU2@_N@Z",
    "?RGBtoYUV@CColorSpace@@QEAA_NPEAUtColorInterfaceImage@@_N@Z",
    "?YCbCrtoRGB@CColorSpace@@QEAAXAEAE00@Z",
    "?YCbCrtoRGB@CColorSpace@@QEAAXAEAI@Z",
    "?YCbCrtoRGB@CColorSpace@@QEAA_NPEBUtColorInterfaceImage@@PEAU2@_N@Z",
    "?YCbCrtoRGB@CColorSpace@@QEAA_NPEAUtColorInterfaceImage@@_N@Z",
    "?YUVtoRGB@CColorSpace@@QEAAXAEAE00@Z",
    "?YUVtoRGB@CColorSpace@@QEAAXAEAI@Z",
    "?YUVtoRGB@CColorSpace@@QEAA_NPEBUtColorInterfaceImage@@PEAU2@_N@Z",
    "?YUVtoRGB@CColorSpace@@QEAA_NPEAUtColorInterfaceImage@@_N@Z",
};
#else
const char* const kNames[kExports] = {
    "_ZN11CColorSpaceC1Ev",
    "_ZN11CColorSpaceD1Ev",
    "_ZN11CColorSpaceaSERKS_",
    "_ZN11CColorSpace14CheckColorArgsEPK20tColorInterfaceImage",
    "_ZN11CColorSpace13LinearInPlaceEP20tColorInterfaceImagePA4_KfS4_b",
    "_ZN11CColorSpace10RGBtoYCbCrERhS0_S0_",
    "_ZN11CColorSpace10RGBtoYCbCrERj",
    "_ZN11CColorSpace10RGBtoYCbCrEPK20tColorInterfaceImagePS0_b",
    "_ZN11CColorSpace10RGBtoYCbCrEP20tColorInterfaceImageb",
    "_ZN11CColorSpace8RGBtoYUVERhS0_S0_",
    "_ZN11CColorSpace8RGBtoYUVERj",
    "_ZN11CColorSpace8RGBtoYUVEPK20tColorInterfaceImagePS0_b",
    "_ZN11CColorSpace8RGBtoYUVEP20tColorInterfaceImageb",
    "_ZN11CColorSpace10YCbCrtoRGBERhS0_S0_",
    "_ZN11CColorSpace10YCbCrtoRGBERj",
    "_ZN11CColorSpace10YCbCrtoRGBEPK20tColorInterfaceImagePS0_b",
    "_ZN11CColorSpace10YCbCrtoRGBEP20tColorInterfaceImageb",
    "_ZN11CColorSpace8YUVtoRGBERhS0_S0_",
    "_ZN11CColorSpace8YUVtoRGBERj",
    "_ZN11CColorSpace8YUVtoRGBEPK20tColorInterfaceImagePS0_b",
    "_ZN11CColorSpace8YUVtoRGBEP20tColorInterfaceImageb",
};
#endif

// Constructors and destructors have no member pointers: they are called as
// functions that take the object the way members do (in ECX on 32-bit).
#if defined(_M_IX86) || defined(__i386__)
#define HOST_THISCALL __attribute__((thiscall))
#else
#define HOST_THISCALL
#endif
// GCC applies the attribute to plain function pointers but warns that they
// are not members, which is the point here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
using Lifecycle = void(HOST_THISCALL*)(void* self);
#pragma GCC diagnostic pop

Lifecycle LifecycleAt(FARPROC address) { return reinterpret_cast<Lifecycle>(reinterpret_cast<void*>(address)); }

using Assignment = CColorSpace& (CColorSpace::*)(const CColorSpace&);
using Check = bool (CColorSpace::*)(const tColorInterfaceImage*);
using Linear = bool (CColorSpace::*)(tColorInterfaceImage*, const float[3][4], const float[3][4], bool);
using Components = void (CColorSpace::*)(std::uint8_t&, std::uint8_t&, std::uint8_t&);
using Packed = void (CColorSpace::*)(std::uint32_t&);
using TwoImages = bool (CColorSpace::*)(const tColorInterfaceImage*, tColorInterfaceImage*, bool);
using InPlace = bool (CColorSpace::*)(tColorInterfaceImage*, bool);

// A member pointer to a non-virtual member of a class without bases: the
// address alone (platform ABI), or the address and a zero adjustment (the
// GNU ABI).
template <typename Member>
Member MemberAt(FARPROC address) {
  struct Parts {
    FARPROC address;
    std::intptr_t adjustment;
  };
  static_assert(sizeof(Member) == sizeof(FARPROC) || sizeof(Member) == sizeof(Parts));
  Member member{};
  const Parts parts{address, 0};
  std::memcpy(&member, &parts, sizeof member);
  return member;
}

int g_failures = 0;

void Expect(bool condition, const char* what) {
  if (!condition) {
    host::Write("FAILED: ");
    host::Write(what);
    host::Write("\n");
    ++g_failures;
  }
}

struct Conversion {
  const char* name;
  Export first;  // the three-component form; the others follow in order
  std::int32_t from;
  std::int32_t to;
  std::uint32_t packedIn;
  std::uint32_t packedOut;
};

// Expected values of the exact conversions (the packed form).
const Conversion kConversions[] = {
    {"RGBtoYCbCr", kRGBtoYCbCrComponents, FORMAT_RGB, FORMAT_YCBCR, 0x00FF0000, 0x00515AEF},
    {"RGBtoYUV", kRGBtoYUVComponents, FORMAT_RGB, FORMAT_YUV, 0xFFFFFFFF, 0x00FF807F},
    {"YCbCrtoRGB", kYCbCrtoRGBComponents, FORMAT_YCBCR, FORMAT_RGB, 0x0080FFFF, 0x00FF00FF},
    {"YUVtoRGB", kYUVtoRGBComponents, FORMAT_YUV, FORMAT_RGB, 0x00000000, 0x00008700},
};

void CallEveryMember(HMODULE module) {
  FARPROC found[kExports] = {};
  for (int i = 0; i < kExports; ++i) {
    found[i] = GetProcAddress(module, kNames[i]);
    if (found[i] == nullptr) {
      host::Write("FAILED: not exported: ");
      host::Write(kNames[i]);
      host::Write("\n");
      ++g_failures;
      return;
    }
  }
  // The class has no data members; any storage with its alignment will do.
  alignas(16) unsigned char storage[2][16] = {};
  auto* converter = reinterpret_cast<CColorSpace*>(storage[0]);
  auto* other = reinterpret_cast<CColorSpace*>(storage[1]);
  LifecycleAt(found[kConstructor])(converter);
  LifecycleAt(found[kConstructor])(other);

  Expect(&(converter->*MemberAt<Assignment>(found[kAssignment]))(*other) == converter,
         "assignment returns the object it was called on");

  std::uint8_t pixels[16] = {0, 0, 255, 0x11, 10, 20, 30, 0x22, 0, 0, 0, 0x33, 255, 255, 255, 0x44};
  std::uint8_t mask[4] = {1, 0, 1, 1};
  tColorInterfaceImage image{pixels, 2, 2, 8, FORMAT_RGB, mask, 2};
  const Check check = MemberAt<Check>(found[kCheckColorArgs]);
  Expect((converter->*check)(&image), "CheckColorArgs accepts a valid image");
  tColorInterfaceImage bad = image;
  bad.nStep = 7;
  Expect(!(converter->*check)(&bad), "CheckColorArgs refuses a short step");

  const float identity[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
  Expect((converter->*MemberAt<Linear>(found[kLinearInPlace]))(&image, identity, identity, true) &&
             image.nFormat == FORMAT_YUV && pixels[2] == 255 && pixels[4] == 10,
         "LinearInPlace with the identity keeps the pixels and sets the YUV code");

  for (const Conversion& conversion : kConversions) {
    const Components components = MemberAt<Components>(found[conversion.first]);
    const Packed packed = MemberAt<Packed>(found[conversion.first + 1]);
    const TwoImages twoImages = MemberAt<TwoImages>(found[conversion.first + 2]);
    const InPlace inPlace = MemberAt<InPlace>(found[conversion.first + 3]);

    std::uint32_t word = conversion.packedIn;
    (converter->*packed)(word);
    Expect(word == conversion.packedOut, conversion.name);

    auto a = static_cast<std::uint8_t>(conversion.packedIn >> 16);
    auto b = static_cast<std::uint8_t>(conversion.packedIn >> 8);
    auto c = static_cast<std::uint8_t>(conversion.packedIn);
    (converter->*components)(a, b, c);
    Expect(((std::uint32_t{a} << 16) | (std::uint32_t{b} << 8) | c) == conversion.packedOut, conversion.name);

    // One pixel holding the input word, converted by every image form.
    for (int form = 0; form < 4; ++form) {
      std::uint8_t source[4] = {};
      std::memcpy(source, &conversion.packedIn, 4);
      std::uint8_t target[4] = {9, 9, 9, 9};
      std::uint8_t selected = 1;
      tColorInterfaceImage src{source, 1, 1, 4, conversion.from, &selected, 1};
      tColorInterfaceImage dst{target, 1, 1, 4, 1, nullptr, 0};
      const bool useMask = form % 2 == 1;
      const bool result =
          form < 2 ? (converter->*twoImages)(&src, &dst, useMask) : (converter->*inPlace)(&src, useMask);
      const std::uint8_t* out = form < 2 ? target : source;
      const std::int32_t format = form < 2 ? dst.nFormat : src.nFormat;
      std::uint32_t got = 0;
      std::memcpy(&got, out, 3);
      const std::uint8_t byte3 = form < 2 ? 9 : static_cast<std::uint8_t>(conversion.packedIn >> 24);
      // The fast path may differ from the exact one by one per component.
      bool close = true;
      for (int k = 0; k < 3; ++k) {
        const int want = static_cast<int>((conversion.packedOut >> (8 * k)) & 0xFF);
        const int have = static_cast<int>((got >> (8 * k)) & 0xFF);
        close = close && (useMask ? have == want : (have - want <= 1 && want - have <= 1));
      }
      Expect(result && format == conversion.to && out[3] == byte3 && close, conversion.name);
      tColorInterfaceImage wrong = src;
      wrong.nFormat = conversion.to;
      Expect(form < 2 ? !(converter->*twoImages)(&wrong, &dst, useMask) : !(converter->*inPlace)(&wrong, useMask),
             "a source of the wrong model is refused");
    }
  }
  LifecycleAt(found[kDestructor])(other);
  LifecycleAt(found[kDestructor])(converter);
}

}  // namespace

int host::HostMain() {
  const char* const dll = "ColorSpace.dll";
  for (int round = 0; round < 8; ++round) {
    HMODULE module = LoadLibraryA(dll);
    Expect(module != nullptr, "LoadLibrary");
    if (module == nullptr) break;
    // Odd rounds only load and unload, with no object ever made.
    if (round % 2 == 0) CallEveryMember(module);
    HMODULE again = LoadLibraryA(dll);
    Expect(again == module, "a second load shares the module");
    Expect(FreeLibrary(again) != 0 && FreeLibrary(module) != 0, "FreeLibrary");
    Expect(GetModuleHandleA(dll) == nullptr, "the module is gone after the last FreeLibrary");
  }
  host::Write(g_failures == 0 ? "every member called by name, 8 load and unload cycles: passed\n"
                              : "dynamic host: FAILED\n");
  return g_failures == 0 ? 0 : 1;
}
