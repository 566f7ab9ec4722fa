#include <gtest/gtest.h>
#include <string>

#include "trust/Sha512.h"

namespace brimo {
namespace {

constexpr char kAbc[] =
    "3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw==";
constexpr char kMillionA[] =
    "5xhIPQznaWROLkLHvBW0Y44fmLE7IEQoVjKoA6+pc+veD/JEh36mCkywQyzld8Mb6wCcXCxJqi5OrbIXrYzAmw==";

TEST(Sha512, DigestsOfKnownInputsInAnyChunking) {
  Sha512 abc;
  abc.Update("a", 1);
  abc.Update("bc", 2);
  EXPECT_EQ(EncodeBase64(abc.Finish().value()), kAbc);

  Sha512 million;
  const std::string chunk(16384, 'a');
  std::size_t left = 1000000;
  while (left > 0) {
    const std::size_t n = std::min(left, chunk.size() - left % 7);  // uneven chunks
    million.Update(chunk.data(), n);
    left -= n;
  }
  EXPECT_EQ(EncodeBase64(million.Finish().value()), kMillionA);
}

TEST(Sha512, OnlyEightyEightCharactersOfBase64AreADigest) {
  const auto decoded = DecodeBase64Digest(kAbc);
  ASSERT_TRUE(decoded);
  Sha512 abc;
  abc.Update("abc", 3);
  EXPECT_EQ(decoded, abc.Finish());

  const std::string good = kAbc;
  EXPECT_FALSE(DecodeBase64Digest(""));
  EXPECT_FALSE(DecodeBase64Digest(good.substr(1)));             // 87 characters
  EXPECT_FALSE(DecodeBase64Digest(good + "="));                 // 89
  EXPECT_FALSE(DecodeBase64Digest(good.substr(0, 86) + "AA"));  // no padding: 66 bytes
  EXPECT_FALSE(DecodeBase64Digest("!" + good.substr(1)));       // not base64
  EXPECT_FALSE(DecodeBase64Digest(good.substr(0, 40) + " " + good.substr(41)));
  EXPECT_FALSE(DecodeBase64Digest(std::string(44, 'A') + "=" + std::string(41, 'A') + "=="));
}

}  // namespace
}  // namespace brimo
