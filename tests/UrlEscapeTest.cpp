#include <gtest/gtest.h>

#include "net/UrlEscape.h"

namespace brimo {
namespace {

TEST(UrlEscape, EscapesAPathAsOneSegment) {
  EXPECT_EQ(EscapeSegmentPortable("Quarn Brimo Setup 1.2.3.exe"), "Quarn%20Brimo%20Setup%201.2.3.exe");
  EXPECT_EQ(EscapeSegmentPortable("../x.exe"), "..%2Fx.exe");
  EXPECT_EQ(EscapeSegmentPortable("http://evil.test/a?b#c"), "http:%2F%2Fevil.test%2Fa%3Fb%23c");
  EXPECT_EQ(EscapeSegmentPortable("a\\b\"c<d>e{f}g|h^i[j]k`l&m"),
            "a%5Cb%22c%3Cd%3Ee%7Bf%7Dg%7Ch%5Ei%5Bj%5Dk%60l%26m");
  EXPECT_EQ(EscapeSegmentPortable("100%;+=@:$,!~*'()-_."), "100%;+=@:$,!~*'()-_.");
  EXPECT_EQ(EscapeSegmentPortable(std::string("\x01\t\n\x7F", 4)), "%01%09%0A%7F");
  EXPECT_EQ(EscapeSegmentPortable("caf\xC3\xA9"), "caf%C3%A9");
  EXPECT_EQ(EscapeSegmentPortable(""), "");
}

TEST(UrlEscape, TextThatDoesNotFitTheBufferIsReportedNotCut) {
  const SegmentEscape fits = EscapePathSegment(std::string(511, 'a'));
  EXPECT_EQ(fits.result, 0u);
  EXPECT_EQ(fits.length, 511u);
  EXPECT_EQ(fits.text, std::string(511, 'a'));

  const SegmentEscape tooLong = EscapePathSegment(std::string(171, ' '));  // 513 characters escaped
  EXPECT_NE(tooLong.result, 0u);
  EXPECT_GE(tooLong.length, kEscapeBufferSize);
  EXPECT_TRUE(tooLong.text.empty());
}

}  // namespace
}  // namespace brimo
