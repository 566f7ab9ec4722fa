#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "BrimoVersion.h"

namespace {

// The version resource of the built program (BRIMO_PROGRAM), read back as Explorer reads it.
class VersionInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* program = std::getenv("BRIMO_PROGRAM");
    ASSERT_NE(program, nullptr) << "BRIMO_PROGRAM names the program to read";
    path_.assign(program, program + std::strlen(program));
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    data_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, data_.data()));
  }

  std::wstring value(const wchar_t* name) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data_.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) || !text)
      return L"<none>";
    return text;
  }

  static std::wstring wide(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(n - 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    return out;
  }

  std::wstring path_;
  std::vector<char> data_;
};

TEST_F(VersionInfoTest, NamesTheMakerAndTheProduct) {
  EXPECT_EQ(value(L"CompanyName"), wide(BRIMO_COMPANY_NAME));
  EXPECT_EQ(value(L"FileDescription"), L"Quarn Brimo Installer");
  EXPECT_EQ(value(L"ProductName"), wide(BRIMO_PRODUCT_NAME));
  EXPECT_EQ(value(L"LegalCopyright"), wide(BRIMO_LEGAL_COPYRIGHT));
  EXPECT_EQ(value(L"OriginalFilename"), L"QuarnBrimoInstaller.exe");
}

TEST_F(VersionInfoTest, CarriesTheProjectVersionInTextAndNumbers) {
  EXPECT_EQ(value(L"FileVersion"), wide(BRIMO_VERSION_TEXT));
  EXPECT_EQ(value(L"ProductVersion"), wide(BRIMO_VERSION_TEXT));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD ms = MAKELONG(BRIMO_VERSION_MINOR, BRIMO_VERSION_MAJOR);
  const DWORD ls = MAKELONG(BRIMO_VERSION_TWEAK, BRIMO_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, ms);
  EXPECT_EQ(fixed->dwFileVersionLS, ls);
  EXPECT_EQ(fixed->dwProductVersionMS, ms);
  EXPECT_EQ(fixed->dwProductVersionLS, ls);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

}  // namespace
