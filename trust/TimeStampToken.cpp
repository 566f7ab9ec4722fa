#include "trust/TimeStampToken.h"

#include <array>
#include <cstring>

namespace brimo {

namespace {

// One DER element: its tag and its content, within the input.
struct Element {
  std::uint8_t tag = 0;
  const std::uint8_t* content = nullptr;
  std::size_t length = 0;
};

// Reads elements one after another from a range; any malformed element ends the reader.
class DerReader {
 public:
  DerReader(const std::uint8_t* data, std::size_t size) : at_(data), left_(size) {}

  bool empty() const { return left_ == 0; }

  // The next element, definite length in its shortest form only (as DER has it).
  std::optional<Element> Next() {
    if (left_ < 2) return std::nullopt;
    Element element;
    element.tag = at_[0];
    // Multi-byte tags never occur in the fields read here.
    if ((element.tag & 0x1F) == 0x1F) return std::nullopt;
    std::size_t header = 2;
    std::size_t length = at_[1];
    if (length & 0x80) {
      const std::size_t count = length & 0x7F;
      // At most four length bytes: nothing here comes near 4 GiB.
      if (count == 0 || count > 4 || left_ < 2 + count || at_[2] == 0) return std::nullopt;
      length = 0;
      for (std::size_t i = 0; i < count; ++i) length = (length << 8) | at_[2 + i];
      if (length < 0x80) return std::nullopt;
      header += count;
    }
    if (length > left_ - header) return std::nullopt;
    element.content = at_ + header;
    element.length = length;
    at_ += header + length;
    left_ -= header + length;
    return element;
  }

  // The next element when it has this tag.
  std::optional<Element> Next(std::uint8_t tag) {
    const std::optional<Element> element = Next();
    if (!element || element->tag != tag) return std::nullopt;
    return element;
  }

 private:
  const std::uint8_t* at_;
  std::size_t left_;
};

constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kNull = 0x05;
constexpr std::uint8_t kObjectId = 0x06;
constexpr std::uint8_t kGeneralizedTime = 0x18;
constexpr std::uint8_t kSequence = 0x30;

DerReader Inside(const Element& element) { return DerReader(element.content, element.length); }

struct KnownHash {
  ImprintHash hash;
  std::array<std::uint8_t, 9> oid;  // DER content of the object identifier
  std::size_t oidLength;
  std::size_t digestSize;
};
// 1.3.14.3.2.26, 2.16.840.1.101.3.4.2.1 / .2 / .3
constexpr KnownHash kKnownHashes[] = {
    {ImprintHash::Sha1, {0x2B, 0x0E, 0x03, 0x02, 0x1A}, 5, 20},
    {ImprintHash::Sha256, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01}, 9, 32},
    {ImprintHash::Sha384, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02}, 9, 48},
    {ImprintHash::Sha512, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03}, 9, 64},
};

const KnownHash* FindHash(const Element& oid) {
  for (const KnownHash& known : kKnownHashes)
    if (oid.length == known.oidLength && std::memcmp(oid.content, known.oid.data(), oid.length) == 0)
      return &known;
  return nullptr;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool Digits(const std::uint8_t* text, std::size_t count, unsigned& value) {
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// "YYYYMMDDHHMMSS[.f+]Z", as DER writes a GeneralizedTime (UTC, no trailing zero in a fraction).
std::optional<std::int64_t> UnixSeconds(const Element& time) {
  const std::uint8_t* text = time.content;
  const std::size_t length = time.length;
  if (length < 15 || text[length - 1] != 'Z') return std::nullopt;
  unsigned year, month, day, hour, minute, second;
  if (!Digits(text, 4, year) || !Digits(text + 4, 2, month) || !Digits(text + 6, 2, day) ||
      !Digits(text + 8, 2, hour) || !Digits(text + 10, 2, minute) || !Digits(text + 12, 2, second))
    return std::nullopt;
  if (length > 15) {
    if (length < 17 || text[14] != '.' || text[length - 2] == '0') return std::nullopt;
    for (std::size_t i = 15; i < length - 1; ++i)
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  static constexpr unsigned kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDaysIn[month - 1] || (month == 2 && day == 29 && !leap) ||
      hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  return DaysFromCivil(year, month, day) * 86400 + std::int64_t{hour} * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<TimeStampInfo> ReadTimeStampInfo(const std::uint8_t* data, std::size_t size) {
  DerReader whole(data, size);
  const std::optional<Element> info = whole.Next(kSequence);
  if (!info || !whole.empty()) return std::nullopt;
  DerReader fields = Inside(*info);

  const std::optional<Element> version = fields.Next(kInteger);
  if (!version || version->length != 1 || version->content[0] != 1) return std::nullopt;
  if (!fields.Next(kObjectId)) return std::nullopt;  // the policy

  const std::optional<Element> imprint = fields.Next(kSequence);
  if (!imprint) return std::nullopt;
  DerReader imprintFields = Inside(*imprint);
  const std::optional<Element> algorithm = imprintFields.Next(kSequence);
  const std::optional<Element> hashed = imprintFields.Next(kOctetString);
  if (!algorithm || !hashed || !imprintFields.empty()) return std::nullopt;
  DerReader algorithmFields = Inside(*algorithm);
  const std::optional<Element> oid = algorithmFields.Next(kObjectId);
  if (!oid) return std::nullopt;
  // The parameters are absent or NULL.
  if (!algorithmFields.empty()) {
    const std::optional<Element> parameters = algorithmFields.Next(kNull);
    if (!parameters || parameters->length != 0 || !algorithmFields.empty()) return std::nullopt;
  }
  const KnownHash* hash = FindHash(*oid);
  if (!hash || hashed->length != hash->digestSize) return std::nullopt;

  if (!fields.Next(kInteger)) return std::nullopt;  // the serial number
  const std::optional<Element> genTime = fields.Next(kGeneralizedTime);
  if (!genTime) return std::nullopt;
  const std::optional<std::int64_t> seconds = UnixSeconds(*genTime);
  if (!seconds) return std::nullopt;

  TimeStampInfo result;
  result.hash = hash->hash;
  result.hashedMessage.assign(hashed->content, hashed->content + hashed->length);
  result.genTime = *seconds;
  return result;
}

}  // namespace brimo
