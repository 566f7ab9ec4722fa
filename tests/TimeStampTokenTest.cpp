#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "trust/TimeStampToken.h"

namespace brimo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Tlv(std::uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const std::size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<std::uint8_t>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<std::uint8_t>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

const Bytes kSha256Oid{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const Bytes kDigest32(32, 0xAB);

// A TSTInfo as a time-stamping authority writes one, with the parts a case changes.
Bytes TstInfo(const std::string& genTime = "20200601123456Z", const Bytes& oid = kSha256Oid,
              const Bytes& digest = kDigest32, const Bytes& version = {1},
              const Bytes& parameters = {0x05, 0x00}) {
  const Bytes algorithm = Tlv(0x30, Cat({Tlv(0x06, oid), parameters}));
  return Tlv(0x30, Cat({Tlv(0x02, version), Tlv(0x06, {0x2A, 0x03, 0x04, 0x01}),
                        Tlv(0x30, Cat({algorithm, Tlv(0x04, digest)})), Tlv(0x02, {0x00, 0xD9, 0xB2}),
                        Tlv(0x18, Text(genTime)), Tlv(0x30, Tlv(0x02, {0x01})), Tlv(0x02, {0x42})}));
}

std::optional<TimeStampInfo> Read(const Bytes& der) { return ReadTimeStampInfo(der.data(), der.size()); }

TEST(ReadTimeStampInfo, TheTimeAndTheStampedDigest) {
  const std::optional<TimeStampInfo> info = Read(TstInfo());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->genTime, 1591014896);  // 2020-06-01 12:34:56 UTC
  EXPECT_EQ(info->hash, ImprintHash::Sha256);
  EXPECT_EQ(info->hashedMessage, kDigest32);
  // Absent parameters, other algorithms, fractions of a second (dropped), leap days, the far future.
  EXPECT_TRUE(Read(TstInfo("20200601123456Z", kSha256Oid, kDigest32, {1}, {})));
  const std::optional<TimeStampInfo> sha512 = Read(
      TstInfo("20240229235959.125Z", {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03}, Bytes(64, 1)));
  ASSERT_TRUE(sha512);
  EXPECT_EQ(sha512->hash, ImprintHash::Sha512);
  EXPECT_EQ(sha512->genTime, 1709251199);
  const std::optional<TimeStampInfo> sha1 =
      Read(TstInfo("99991231235959Z", {0x2B, 0x0E, 0x03, 0x02, 0x1A}, Bytes(20, 1)));
  ASSERT_TRUE(sha1);
  EXPECT_EQ(sha1->genTime, 253402300799);
  EXPECT_EQ(Read(TstInfo("19700101000000Z"))->genTime, 0);
}

TEST(ReadTimeStampInfo, RefusesWhatIsNotAWellFormedTstInfo) {
  for (const char* time :
       {"20210229000000Z", "20201301000000Z", "20200600000000Z", "20200601240000Z", "20200601006000Z",
        "20200601000060Z", "20200601000000", "2020060100000Z", "20200601000000.Z", "20200601000000.50Z",
        "20200601000000+0100", "2020060100000aZ"})
    EXPECT_FALSE(Read(TstInfo(time))) << time;
  EXPECT_FALSE(Read(TstInfo("20200601123456Z", kSha256Oid, Bytes(31, 0xAB)))) << "digest of the wrong size";
  EXPECT_FALSE(
      Read(TstInfo("20200601123456Z", {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05}, Bytes(16, 1))))
      << "MD5";
  EXPECT_FALSE(Read(TstInfo("20200601123456Z", kSha256Oid, kDigest32, {2}))) << "version 2";
  EXPECT_FALSE(Read(TstInfo("20200601123456Z", kSha256Oid, kDigest32, {1}, {0x04, 0x00}))) << "parameters";

  const Bytes good = TstInfo();
  // Every truncation, and anything after the end.
  for (std::size_t size = 0; size < good.size(); ++size)
    EXPECT_FALSE(ReadTimeStampInfo(good.data(), size)) << size;
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_FALSE(Read(longer));
  // The outer length in a longer form than needed, and a length that runs past the input.
  Bytes padded = {0x30, 0x81, good[1]};
  padded.insert(padded.end(), good.begin() + 2, good.end());
  EXPECT_FALSE(Read(padded));
  Bytes overlong = good;
  overlong[1] = static_cast<std::uint8_t>(overlong[1] + 1);
  EXPECT_FALSE(Read(overlong));
}

}  // namespace
}  // namespace brimo
