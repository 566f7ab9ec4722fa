// The pkcs11 engine is reached through OpenSSL's engine interface, which OpenSSL 3 keeps as deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "publish/DocumentKey.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include "publish/Publish.h"

namespace brimo {

namespace {
constexpr char kCurve[] = "prime256v1";
constexpr char kPkcs11Scheme[] = "pkcs11:";
constexpr char kEngineId[] = "pkcs11";
constexpr int kCoordinateBytes = 32;

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;
using Pkey = Owned<EVP_PKEY, EVP_PKEY_free>;
using DigestContext = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using Signature = Owned<ECDSA_SIG, ECDSA_SIG_free>;

void EngineFree(ENGINE* engine) {
  ENGINE_finish(engine);
  ENGINE_free(engine);
}

[[noreturn]] void Fail(const std::string& message) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  throw PublishError(message + (code ? std::string(": ") + ERR_error_string(code, nullptr) : std::string()));
}

std::optional<std::string> ReadPin(const DocumentKeyOptions& options) {
  if (options.pinFile) {
    std::ifstream in(*options.pinFile, std::ios_base::binary);
    if (!in) Fail("cannot read the PIN file \"" + *options.pinFile + "\"");
    std::string pin((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!pin.empty() && (pin.back() == '\n' || pin.back() == '\r')) pin.pop_back();
    return pin;
  }
  if (options.pinEnv) {
    const char* value = std::getenv(options.pinEnv->c_str());
    if (!value) Fail("the environment variable " + *options.pinEnv + " is not set");
    return std::string(value);
  }
  return std::nullopt;
}

int PasswordFromPin(char* buffer, int size, int, void* user) {
  const auto* pin = static_cast<const std::optional<std::string>*>(user);
  if (!*pin || (*pin)->size() > static_cast<std::size_t>(size)) return -1;
  std::memcpy(buffer, (*pin)->data(), (*pin)->size());
  return static_cast<int>((*pin)->size());
}

// The point of an EC P-256 key, uncompressed.
ReleaseKey PublicPoint(EVP_PKEY* key) {
  char group[32] = {};
  unsigned char* point = nullptr;
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC ||
      EVP_PKEY_get_group_name(key, group, sizeof(group), nullptr) != 1 || std::strcmp(group, kCurve) != 0)
    Fail("the document key is not an EC P-256 (prime256v1) key");
  const std::size_t length = EVP_PKEY_get1_encoded_public_key(key, &point);
  ReleaseKey publicKey{};
  const bool fits = length == publicKey.size() && point[0] == 0x04;
  if (fits) std::memcpy(publicKey.data(), point, publicKey.size());
  OPENSSL_free(point);
  if (!fits) Fail("cannot read the document key's public point");
  return publicKey;
}
}  // namespace

struct DocumentSigner::Handles {
  Owned<ENGINE, EngineFree> engine;
  Pkey key;
};

DocumentSigner::DocumentSigner(const DocumentKeyOptions& options) : handles_(std::make_unique<Handles>()) {
  std::optional<std::string> pin = ReadPin(options);
  if (options.key.rfind(kPkcs11Scheme, 0) == 0) {
    if (!options.pkcs11Module) Fail("a PKCS#11 document key needs its module (--pkcs11-module)");
    ENGINE* engine = ENGINE_by_id(kEngineId);
    if (!engine) Fail("cannot load OpenSSL's pkcs11 engine (Debian package libengine-pkcs11-openssl)");
    if (ENGINE_ctrl_cmd_string(engine, "MODULE_PATH", options.pkcs11Module->c_str(), 0) != 1 ||
        ENGINE_init(engine) != 1) {
      ENGINE_free(engine);
      Fail("cannot start the pkcs11 engine with " + *options.pkcs11Module);
    }
    handles_->engine.reset(engine);
    if (pin && ENGINE_ctrl_cmd_string(engine, "PIN", pin->c_str(), 0) != 1) Fail("the token takes no PIN");
    handles_->key.reset(ENGINE_load_private_key(engine, options.key.c_str(), nullptr, nullptr));
  } else {
    FILE* file = std::fopen(options.key.c_str(), "rb");
    if (!file) Fail("cannot read the document key \"" + options.key + "\"");
    handles_->key.reset(PEM_read_PrivateKey(file, nullptr, PasswordFromPin, &pin));
    std::fclose(file);
  }
  if (!handles_->key) Fail("cannot load the document key \"" + options.key + "\"");
  publicKey_ = PublicPoint(handles_->key.get());
}

DocumentSigner::~DocumentSigner() = default;

RawSignature DocumentSigner::Sign(std::string_view message) const {
  const DigestContext context(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, handles_->key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size()) != 1)
    Fail("cannot sign the release document");
  std::string der(length, '\0');
  auto* out = reinterpret_cast<unsigned char*>(der.data());
  if (EVP_DigestSign(context.get(), out, &length, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size()) != 1)
    Fail("cannot sign the release document");
  // OpenSSL writes the signature DER-encoded; the document carries r and s as they are.
  const unsigned char* in = out;
  const Signature signature(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(length)));
  RawSignature raw{};
  if (!signature || BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), raw.data(), kCoordinateBytes) < 0 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), raw.data() + kCoordinateBytes, kCoordinateBytes) < 0)
    Fail("cannot read the signature OpenSSL made");
  return raw;
}

bool VerifyDocumentSignature(const ReleaseKey& key, std::string_view message, const RawSignature& raw) {
  OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
  OSSL_PARAM* params = nullptr;
  if (build && OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, kCurve, 0) == 1 &&
      OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, key.data(), key.size()) == 1)
    params = OSSL_PARAM_BLD_to_param(build);
  OSSL_PARAM_BLD_free(build);
  EVP_PKEY* imported = nullptr;
  EVP_PKEY_CTX* import = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
  if (params && import && EVP_PKEY_fromdata_init(import) == 1)
    EVP_PKEY_fromdata(import, &imported, EVP_PKEY_PUBLIC_KEY, params);
  EVP_PKEY_CTX_free(import);
  OSSL_PARAM_free(params);
  const Pkey publicKey(imported);

  Signature signature(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(raw.data(), kCoordinateBytes, nullptr);
  BIGNUM* s = BN_bin2bn(raw.data() + kCoordinateBytes, kCoordinateBytes, nullptr);
  if (!signature || !r || !s || ECDSA_SIG_set0(signature.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    ERR_clear_error();
    return false;
  }
  unsigned char* der = nullptr;
  const int derLength = i2d_ECDSA_SIG(signature.get(), &der);
  const DigestContext context(EVP_MD_CTX_new());
  const bool holds =
      publicKey && derLength > 0 && context &&
      EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, publicKey.get()) == 1 &&
      EVP_DigestVerify(context.get(), der, static_cast<std::size_t>(derLength),
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
  OPENSSL_free(der);
  ERR_clear_error();
  return holds;
}

}  // namespace brimo
