#include "trust/VersionResource.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brimo {

namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kVersionId = 1;
constexpr std::uint32_t kNeutralLanguage = 0;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::uint32_t kMaxSections = 96;
constexpr std::size_t kMaxVersionBlock = 0xFFFF;

// Little-endian reads that fail instead of reading past the end.
class Bytes {
 public:
  explicit Bytes(const std::string& data) : data_(data) {}
  std::size_t size() const { return data_.size(); }
  bool U16(std::size_t at, std::uint32_t& value) const { return Read(at, 2, value); }
  bool U32(std::size_t at, std::uint32_t& value) const { return Read(at, 4, value); }

 private:
  bool Read(std::size_t at, std::size_t count, std::uint32_t& value) const {
    if (at > data_.size() || data_.size() - at < count) return false;
    value = 0;
    for (std::size_t i = count; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(data_[at + i]);
    return true;
  }
  const std::string& data_;
};

struct Section {
  std::uint32_t address, size, fileOffset, fileSize;
};

// Little-endian fields read through the caller's reader; nothing is read but what is asked for.
class Source {
 public:
  explicit Source(const ReadBytes& read) : read_(read) {}
  bool U16(std::uint64_t at, std::uint32_t& value) const { return Read(at, 2, value); }
  bool U32(std::uint64_t at, std::uint32_t& value) const { return Read(at, 4, value); }
  bool Block(std::uint64_t at, std::size_t count, std::string& out) const {
    out.assign(count, '\0');
    return count == 0 || read_(at, count, &out[0]);
  }

 private:
  bool Read(std::uint64_t at, std::size_t count, std::uint32_t& value) const {
    unsigned char bytes[4] = {};
    if (!read_(at, count, bytes)) return false;
    value = 0;
    for (std::size_t i = count; i-- > 0;) value = (value << 8) | bytes[i];
    return true;
  }
  const ReadBytes& read_;
};

// The file offset of an address of the image, within one section's data.
std::optional<std::uint64_t> FileOffset(const std::vector<Section>& sections, std::uint32_t address) {
  for (const Section& s : sections)
    if (address >= s.address && address - s.address < s.size && address - s.address < s.fileSize)
      return std::uint64_t{s.fileOffset} + (address - s.address);
  return std::nullopt;
}

struct Entry {
  std::uint32_t name, offset;
};

// The entries of a resource directory with an id (named ones skipped), as they stand.
std::optional<std::vector<Entry>> IdEntries(const Source& source, std::uint64_t directory) {
  std::uint32_t named = 0, ids = 0;
  if (!source.U16(directory + 12, named) || !source.U16(directory + 14, ids)) return std::nullopt;
  std::string table;
  if (!source.Block(directory + 16 + 8 * std::uint64_t{named}, 8 * std::size_t{ids}, table))
    return std::nullopt;
  const Bytes bytes(table);
  std::vector<Entry> entries(ids);
  for (std::uint32_t i = 0; i < ids; ++i) {
    bytes.U32(8 * std::size_t{i}, entries[i].name);
    bytes.U32(8 * std::size_t{i} + 4, entries[i].offset);
  }
  return entries;
}

// The entry with id as the system's loader finds it: a binary search over the ids, which a well-made
// file keeps in ascending order (an unordered one is read the way the loader reads it).
std::optional<std::uint32_t> FindId(const std::vector<Entry>& entries, std::uint32_t id) {
  std::size_t low = 0, high = entries.size();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (entries[middle].name == id) return entries[middle].offset;
    if (entries[middle].name < id) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return std::nullopt;
}

// The bytes of the version resource as Windows loads it: type RT_VERSION, id 1, in the neutral
// language when there is one, else in the first language listed.
std::optional<std::string> VersionBlock(const ReadBytes& read) {
  const Source source(read);
  std::uint32_t mz = 0, header = 0, signature = 0, sectionCount = 0, optionalSize = 0, magic = 0;
  if (!source.U16(0, mz) || mz != 0x5A4D || !source.U32(0x3C, header) || !source.U32(header, signature) ||
      signature != 0x00004550 || !source.U16(header + 6, sectionCount) ||
      !source.U16(header + 20, optionalSize) || !source.U16(header + 24, magic) ||
      sectionCount > kMaxSections)
    return std::nullopt;
  const std::uint64_t optional = std::uint64_t{header} + 24;
  const std::uint64_t directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
  std::uint32_t resourceAddress = 0, resourceSize = 0;
  if (directories == optional || !source.U32(directories + 16, resourceAddress) ||
      !source.U32(directories + 20, resourceSize) || resourceAddress == 0)
    return std::nullopt;
  std::string table;
  if (!source.Block(optional + optionalSize, 40 * std::size_t{sectionCount}, table)) return std::nullopt;
  const Bytes headers(table);
  std::vector<Section> sections(sectionCount);
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const std::size_t at = 40 * std::size_t{i};
    Section& s = sections[i];
    headers.U32(at + 8, s.size);
    headers.U32(at + 12, s.address);
    headers.U32(at + 16, s.fileSize);
    headers.U32(at + 20, s.fileOffset);
  }
  const std::optional<std::uint64_t> root = FileOffset(sections, resourceAddress);
  if (!root) return std::nullopt;
  // Type, name, language: three levels of directories, then the data entry.
  std::uint64_t entry = *root;
  for (int level = 0; level < 3; ++level) {
    const std::optional<std::vector<Entry>> entries = IdEntries(source, entry);
    if (!entries) return std::nullopt;
    std::optional<std::uint32_t> offset = FindId(*entries, level == 0   ? kRtVersion
                                                           : level == 1 ? kVersionId
                                                                        : kNeutralLanguage);
    if (level == 2 && !offset && !entries->empty()) offset = entries->front().offset;
    if (!offset || ((*offset & 0x80000000u) != 0) != (level < 2)) return std::nullopt;
    entry = *root + (*offset & 0x7FFFFFFFu);
  }
  std::uint32_t dataAddress = 0, dataSize = 0;
  if (!source.U32(entry, dataAddress) || !source.U32(entry + 4, dataSize)) return std::nullopt;
  const std::optional<std::uint64_t> data = FileOffset(sections, dataAddress);
  // The tree's own length is 16 bits: nothing past 64 KiB belongs to it.
  std::string block;
  if (!data || !source.Block(*data, std::min<std::size_t>(dataSize, kMaxVersionBlock), block))
    return std::nullopt;
  return block;
}

// One node of a VS_VERSIONINFO tree: its key, its value and the range of its children.
struct Node {
  std::u16string key;
  std::size_t value = 0, valueBytes = 0;
  std::size_t children = 0, end = 0;
};

std::size_t Align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

std::optional<Node> ReadNode(const Bytes& bytes, std::size_t at, std::size_t limit) {
  std::uint32_t length = 0, valueLength = 0, type = 0;
  if (!bytes.U16(at, length) || !bytes.U16(at + 2, valueLength) || !bytes.U16(at + 4, type) || length < 6 ||
      length > limit - at)
    return std::nullopt;
  Node node;
  node.end = at + length;
  std::size_t cursor = at + 6;
  for (;;) {
    std::uint32_t unit = 0;
    if (cursor + 2 > node.end || !bytes.U16(cursor, unit)) return std::nullopt;
    cursor += 2;
    if (unit == 0) break;
    node.key.push_back(static_cast<char16_t>(unit));
  }
  node.value = Align4(cursor);
  // Text values count their length in UTF-16 units, binary ones in bytes.
  node.valueBytes = type == 1 ? std::size_t{valueLength} * 2 : valueLength;
  if (node.value > node.end || node.end - node.value < node.valueBytes) return std::nullopt;
  node.children = Align4(node.value + node.valueBytes);
  return node;
}

// The children of a node, in order.
std::vector<Node> Children(const Bytes& bytes, const Node& node) {
  std::vector<Node> children;
  for (std::size_t at = node.children; at < node.end;) {
    const std::optional<Node> child = ReadNode(bytes, at, node.end);
    if (!child) break;
    children.push_back(*child);
    at = Align4(child->end);
  }
  return children;
}

std::wstring Text(const std::string& image, std::size_t at, std::size_t bytes) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    char32_t unit = static_cast<unsigned char>(image[at + i]) | static_cast<unsigned char>(image[at + i + 1])
                                                                    << 8;
    if (unit == 0) break;
    // A surrogate pair makes one character; an unpaired surrogate becomes U+FFFD.
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes) {
      const char32_t low =
          static_cast<unsigned char>(image[at + i + 2]) | static_cast<unsigned char>(image[at + i + 3]) << 8;
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (unit >= 0xD800 && unit < 0xE000) unit = 0xFFFD;
    text.push_back(static_cast<wchar_t>(unit));
  }
  return text;
}

std::u16string Hex8(std::uint32_t language, std::uint32_t codePage) {
  const std::uint32_t value = language << 16 | codePage;
  std::u16string text;
  for (int shift = 28; shift >= 0; shift -= 4)
    text.push_back(static_cast<char16_t>(u"0123456789abcdef"[(value >> shift) & 15]));
  return text;
}

bool SameKeyIgnoringCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<InstallerIdentity> ReadVersionResource(const ReadBytes& read) {
  const std::optional<std::string> block = VersionBlock(read);
  if (!block) return std::nullopt;
  const std::string& image = *block;
  const Bytes bytes(image);
  const std::optional<Node> root = ReadNode(bytes, 0, image.size());
  std::uint32_t signature = 0;
  if (!root || root->key != u"VS_VERSION_INFO" || root->valueBytes < kFixedInfoSize ||
      !bytes.U32(root->value, signature) || signature != kFixedInfoSignature)
    return std::nullopt;
  std::uint32_t ms = 0, ls = 0;
  bytes.U32(root->value + 16, ms);
  bytes.U32(root->value + 20, ls);
  InstallerIdentity identity;
  identity.productVersion = {static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms),
                             static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls)};

  // The string table of the first language the translation list names, as every reader of version
  // resources looks it up.
  std::optional<std::u16string> language;
  std::vector<Node> tables;
  for (const Node& child : Children(bytes, *root)) {
    if (child.key == u"VarFileInfo") {
      for (const Node& var : Children(bytes, child)) {
        std::uint32_t id = 0, codePage = 0;
        if (var.key != u"Translation" || language || var.valueBytes < 4 || !bytes.U16(var.value, id) ||
            !bytes.U16(var.value + 2, codePage))
          continue;
        language = Hex8(id, codePage);
      }
    } else if (child.key == u"StringFileInfo") {
      for (const Node& table : Children(bytes, child)) tables.push_back(table);
    }
  }
  if (!language) return identity;
  for (const Node& table : tables) {
    if (!SameKeyIgnoringCase(table.key, *language)) continue;
    for (const Node& entry : Children(bytes, table))
      if (entry.key == u"ProductName") {
        identity.productName = Text(image, entry.value, entry.valueBytes);
        return identity;
      }
    break;
  }
  return identity;
}

std::optional<InstallerIdentity> ReadVersionResource(const std::string& image) {
  return ReadVersionResource([&image](std::uint64_t offset, std::size_t count, void* out) {
    if (offset > image.size() || image.size() - offset < count) return false;
    std::memcpy(out, image.data() + offset, count);
    return true;
  });
}

}  // namespace brimo
