// SHA-512 of a byte stream with the platform's own crypto (Windows CNG, OpenSSL elsewhere), and the
// base64 form in which release documents carry a digest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace brimo {

using Sha512Digest = std::array<std::uint8_t, 64>;

class Sha512 {
 public:
  Sha512();
  ~Sha512();
  Sha512(const Sha512&) = delete;
  Sha512& operator=(const Sha512&) = delete;

  void Update(const void* data, std::size_t size);
  // The digest of everything given so far; nothing when the platform's hash failed at any step. The
  // object takes no more data afterwards.
  std::optional<Sha512Digest> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Standard base64 with padding: 88 characters for a digest.
std::string EncodeBase64(const Sha512Digest& digest);

// The digest written as exactly 88 characters of standard base64; nothing for any other text.
std::optional<Sha512Digest> DecodeBase64Digest(const std::string& text);

}  // namespace brimo
