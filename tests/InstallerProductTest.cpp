#include <gtest/gtest.h>

#include "trust/InstallerProduct.h"

namespace brimo {
namespace {

TEST(ParseFourPartVersion, ExactlyFourNumbersUpTo65535) {
  EXPECT_EQ(ParseFourPartVersion("1.2.0.65535"), (FourPartVersion{1, 2, 0, 65535}));
  EXPECT_EQ(ParseFourPartVersion("0.0.0.0"), (FourPartVersion{0, 0, 0, 0}));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.65536", "1.2.3.000001", "1..3.4", "1.2.3.4.",
                          ".1.2.3", "1.2.3.-4", "1.2.3.+4", "v1.2.3.4", "1.2.3.4 ", "99999999999.0.0.0"})
    EXPECT_FALSE(ParseFourPartVersion(bad)) << bad;
}

TEST(ProductRefusal, NamesWhatIsWrongAndAcceptsTheProductAtOrAboveTheFloor) {
  const ProductRequirement both{L"Quarn Brimo", FourPartVersion{1, 2, 0, 0}};
  const auto identity = [](const wchar_t* name, FourPartVersion version) {
    return std::optional<InstallerIdentity>(InstallerIdentity{std::wstring(name), version});
  };
  EXPECT_FALSE(ProductRefusal(identity(L"Quarn Brimo", {1, 2, 0, 0}), both));
  // Part by part, most significant first: neither text order nor a sum of parts.
  EXPECT_FALSE(ProductRefusal(identity(L"Quarn Brimo", {1, 10, 0, 0}), both));
  EXPECT_FALSE(ProductRefusal(identity(L"Quarn Brimo", {2, 0, 0, 0}), both));
  EXPECT_EQ(ProductRefusal(identity(L"Quarn Brimo", {1, 1, 65535, 65535}), both),
            L"version 1.1.65535.65535 is older than 1.2.0.0");
  EXPECT_EQ(ProductRefusal(identity(L"Quarn Brimo", {0, 9, 0, 0}), both),
            L"version 0.9.0.0 is older than 1.2.0.0");
  EXPECT_EQ(ProductRefusal(identity(L"Quarn Brimo Uninstaller", {9, 0, 0, 0}), both),
            L"product is 'Quarn Brimo Uninstaller', expected 'Quarn Brimo'");
  EXPECT_EQ(ProductRefusal(identity(L"quarn brimo", {9, 0, 0, 0}), both),
            L"product is 'quarn brimo', expected 'Quarn Brimo'");
  EXPECT_EQ(ProductRefusal(InstallerIdentity{std::nullopt, {9, 0, 0, 0}}, both), L"no product name");
  EXPECT_EQ(ProductRefusal(std::nullopt, both), L"no version resource");
}

TEST(ProductRefusal, AsksOnlyForWhatIsSet) {
  EXPECT_FALSE(ProductRefusal(std::nullopt, ProductRequirement{}));
  const InstallerIdentity unnamedOld{std::nullopt, {0, 1, 0, 0}};
  EXPECT_FALSE(ProductRefusal(InstallerIdentity{std::wstring(L"Quarn Brimo"), {0, 1, 0, 0}},
                              ProductRequirement{L"Quarn Brimo", std::nullopt}));
  EXPECT_FALSE(ProductRefusal(InstallerIdentity{std::wstring(L"Other"), {1, 0, 0, 0}},
                              ProductRequirement{L"", FourPartVersion{1, 0, 0, 0}}));
  EXPECT_EQ(ProductRefusal(unnamedOld, ProductRequirement{L"", FourPartVersion{1, 0, 0, 0}}),
            L"version 0.1.0.0 is older than 1.0.0.0");
  EXPECT_EQ(ProductRefusal(std::nullopt, ProductRequirement{L"", FourPartVersion{0, 0, 0, 0}}),
            L"no version resource");
}

}  // namespace
}  // namespace brimo
