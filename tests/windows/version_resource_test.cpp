// The DLL's version resource read back the way Explorer's file properties and
// installers read it: GetFileVersionInfo and VerQueryValue on the file itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> versionInfo(const wchar_t* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return {};
  std::vector<uint8_t> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return {};
  return block;
}

std::wstring widen(const char* text) {
  return std::wstring(text, text + std::char_traits<char>::length(text));
}

std::wstring stringValue(std::vector<uint8_t>& block, const std::wstring& name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring query = L"\\StringFileInfo\\040904B0\\" + name;
  if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) {
    return L"<missing>";
  }
  return std::wstring(static_cast<const wchar_t*>(value));
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class VersionResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    block_ = versionInfo(widen(TAVRO_DRIVER_PATH).c_str());
    ASSERT_FALSE(block_.empty()) << "no version resource in " << TAVRO_DRIVER_PATH << " (error "
                                 << GetLastError() << ")";
  }
  std::vector<uint8_t> block_;
};

TEST_F(VersionResourceTest, StringsNameTheDriverItsFileAndTheProjectVersion) {
  const struct {
    const wchar_t* name;
    std::wstring expected;
  } cases[] = {
      {L"FileDescription", L"TAVRO Driver"},
      {L"ProductName", L"TAVRO Driver"},
      {L"FileVersion", widen(TAVRO_PROJECT_VERSION)},
      {L"ProductVersion", widen(TAVRO_PROJECT_VERSION)},
      {L"OriginalFilename", widen(TAVRO_DRIVER_FILE_NAME)},
      {L"LegalCopyright", L"Copyright (c) 2026 The TAVRO Driver authors"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(narrow(stringValue(block_, c.name)), narrow(c.expected)) << narrow(c.name);
  }
}

TEST_F(VersionResourceTest, FixedInfoCarriesTheNumericVersionOfADll) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", &value, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  const DWORD expectedMs = (TAVRO_VERSION_MAJOR << 16) | TAVRO_VERSION_MINOR;
  EXPECT_EQ(fixed->dwFileVersionMS, expectedMs);
  EXPECT_EQ(fixed->dwProductVersionMS, expectedMs);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
}

}  // namespace
