// The portable escaper against the shell's own UrlEscapeA, byte for byte.
#include <windows.h>

#include <shlwapi.h>

#include <gtest/gtest.h>

#include "net/UrlEscape.h"

namespace brimo {
namespace {

std::string ShellEscape(const std::string& text) {
  char buffer[4096] = {};
  DWORD length = sizeof(buffer);
  EXPECT_EQ(UrlEscapeA(text.c_str(), buffer, &length, URL_ESCAPE_SEGMENT_ONLY), S_OK) << text;
  return std::string(buffer, length);
}

TEST(UrlEscapeWindows, PortableEscaperMatchesTheShellOnEveryByte) {
  for (int b = 1; b < 256; ++b) {
    const std::string text = std::string("a") + static_cast<char>(b) + "z";
    EXPECT_EQ(EscapeSegmentPortable(text), ShellEscape(text)) << "byte " << b;
  }
}

TEST(UrlEscapeWindows, PortableEscaperMatchesTheShellOnTrickyPaths) {
  const char* const kPaths[] = {"Quarn Brimo Setup 1.0.exe",
                                "../x.exe",
                                "http://127.0.0.1:1/a.exe",
                                "a/b?c#d%e&f+g;h=i@j:k",
                                "\"quoted\" 'single'",
                                "caf\xC3\xA9 \xE2\x82\xAC.exe",
                                "tab\there\r\nnewline",
                                "%41%",
                                "~user/..//"};
  for (const char* path : kPaths) EXPECT_EQ(EscapeSegmentPortable(path), ShellEscape(path)) << path;
}

TEST(UrlEscapeWindows, BufferOverflowReportsTheNeededLengthWithoutText) {
  const SegmentEscape tooLong = EscapePathSegment(std::string(200, ' '));
  EXPECT_NE(tooLong.result, 0u);
  EXPECT_GE(tooLong.length, kEscapeBufferSize);
  EXPECT_TRUE(tooLong.text.empty());
  EXPECT_EQ(EscapePathSegment("a b").text, "a%20b");
}

}  // namespace
}  // namespace brimo
