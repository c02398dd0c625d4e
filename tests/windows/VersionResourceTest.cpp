// Reads the DLL's version strings back through the Windows version API.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string QueryString(const std::vector<char>& block, const char* name) {
  const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
  char* value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) == 0 || length == 0) {
    return "<missing>";
  }
  return std::string(value);
}

TEST(VersionResource, CarriesTheBuildStrings) {
  const char* dll = COLORSPACE_DLL_PATH;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(dll, &ignored);
  ASSERT_GT(size, 0U) << dll;
  std::vector<char> block(size);
  ASSERT_NE(GetFileVersionInfoA(dll, 0, size, block.data()), 0);

  EXPECT_EQ(QueryString(block, "Build"), COLORSPACE_EXPECTED_BUILD);
  EXPECT_EQ(QueryString(block, "BuildDate"), COLORSPACE_EXPECTED_BUILD_DATE);
  EXPECT_EQ(QueryString(block, "BuildTime"), COLORSPACE_EXPECTED_BUILD_TIME);
  EXPECT_EQ(QueryString(block, "ProductName"), "ColorSpace");
  EXPECT_EQ(QueryString(block, "OriginalFilename"), "ColorSpace.dll");

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_NE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length), 0);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDU);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), COLORSPACE_EXPECTED_MAJOR);
}

}  // namespace
