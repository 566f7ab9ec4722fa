#include "publish/VersionResource.h"

#include <cstdint>
#include <vector>

namespace brimo {

namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;
constexpr int kMaxDepth = 3;

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

// The file offset of an address of the image, within one section's data.
std::optional<std::size_t> FileOffset(const std::vector<Section>& sections, std::uint32_t address) {
  for (const Section& s : sections)
    if (address >= s.address && address - s.address < s.size && address - s.address < s.fileSize)
      return std::size_t{s.fileOffset} + (address - s.address);
  return std::nullopt;
}

// The first entry of a resource directory (with id, when given): its data offset, relative to the
// resource section.
std::optional<std::uint32_t> DirectoryEntry(const Bytes& bytes, std::size_t directory,
                                            std::optional<std::uint32_t> id) {
  std::uint32_t named = 0, ids = 0;
  if (!bytes.U16(directory + 12, named) || !bytes.U16(directory + 14, ids)) return std::nullopt;
  for (std::uint32_t i = 0; i < named + ids; ++i) {
    std::uint32_t name = 0, offset = 0;
    if (!bytes.U32(directory + 16 + 8 * std::size_t{i}, name) ||
        !bytes.U32(directory + 20 + 8 * std::size_t{i}, offset))
      return std::nullopt;
    if (!id || (!(name & 0x80000000u) && name == *id)) return offset;
  }
  return std::nullopt;
}

// The bytes of the RT_VERSION resource (its first name, its first language).
std::optional<std::pair<std::size_t, std::size_t>> VersionBlock(const std::string& image) {
  const Bytes bytes(image);
  std::uint32_t header = 0, signature = 0, sectionCount = 0, optionalSize = 0, magic = 0;
  if (image.size() < 2 || image[0] != 'M' || image[1] != 'Z' || !bytes.U32(0x3C, header) ||
      !bytes.U32(header, signature) || signature != 0x00004550 || !bytes.U16(header + 6, sectionCount) ||
      !bytes.U16(header + 20, optionalSize) || !bytes.U16(header + 24, magic))
    return std::nullopt;
  const std::size_t optional = std::size_t{header} + 24;
  const std::size_t directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
  std::uint32_t resourceAddress = 0, resourceSize = 0;
  if (directories == optional || !bytes.U32(directories + 16, resourceAddress) ||
      !bytes.U32(directories + 20, resourceSize) || resourceAddress == 0)
    return std::nullopt;
  std::vector<Section> sections;
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const std::size_t at = optional + optionalSize + 40 * std::size_t{i};
    Section s{};
    if (!bytes.U32(at + 8, s.size) || !bytes.U32(at + 12, s.address) || !bytes.U32(at + 16, s.fileSize) ||
        !bytes.U32(at + 20, s.fileOffset))
      return std::nullopt;
    sections.push_back(s);
  }
  const std::optional<std::size_t> root = FileOffset(sections, resourceAddress);
  if (!root) return std::nullopt;
  // Type, name, language: three levels of directories, then the data entry.
  std::size_t entry = *root;
  for (int level = 0; level < kMaxDepth; ++level) {
    const std::optional<std::uint32_t> offset =
        DirectoryEntry(bytes, entry, level == 0 ? std::optional<std::uint32_t>(kRtVersion) : std::nullopt);
    if (!offset || ((*offset & 0x80000000u) != 0) != (level < kMaxDepth - 1)) return std::nullopt;
    entry = *root + (*offset & 0x7FFFFFFFu);
  }
  std::uint32_t dataAddress = 0, dataSize = 0;
  if (!bytes.U32(entry, dataAddress) || !bytes.U32(entry + 4, dataSize)) return std::nullopt;
  const std::optional<std::size_t> data = FileOffset(sections, dataAddress);
  if (!data || *data > image.size() || image.size() - *data < dataSize) return std::nullopt;
  return std::make_pair(*data, std::size_t{dataSize});
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

std::optional<InstallerIdentity> ReadVersionResource(const std::string& image) {
  const auto block = VersionBlock(image);
  if (!block) return std::nullopt;
  const Bytes bytes(image);
  const std::optional<Node> root = ReadNode(bytes, block->first, block->first + block->second);
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

  // As Windows looks it up: under each language of the translation list, in order.
  std::vector<std::u16string> languages;
  std::vector<Node> tables;
  for (const Node& child : Children(bytes, *root)) {
    if (child.key == u"VarFileInfo") {
      for (const Node& var : Children(bytes, child)) {
        if (var.key != u"Translation") continue;
        for (std::size_t at = var.value; at + 4 <= var.value + var.valueBytes; at += 4) {
          std::uint32_t language = 0, codePage = 0;
          bytes.U16(at, language);
          bytes.U16(at + 2, codePage);
          languages.push_back(Hex8(language, codePage));
        }
      }
    } else if (child.key == u"StringFileInfo") {
      for (const Node& table : Children(bytes, child)) tables.push_back(table);
    }
  }
  for (const std::u16string& language : languages) {
    for (const Node& table : tables) {
      if (!SameKeyIgnoringCase(table.key, language)) continue;
      for (const Node& entry : Children(bytes, table))
        if (entry.key == u"ProductName") {
          identity.productName = Text(image, entry.value, entry.valueBytes);
          return identity;
        }
    }
  }
  return identity;
}

}  // namespace brimo
