#include "publish/Authenticode.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <sys/wait.h>
#include <system_error>
#include <vector>

#include "publish/Publish.h"

extern char** environ;

namespace brimo {

namespace {
namespace fs = boost::filesystem;

constexpr char kTool[] = "osslsigncode";
constexpr char kScratchRandom[] = "-XXXXXX";
constexpr char kSignatureName[] = "signature.der";

struct ToolRun {
  int exitCode = -1;   // -1 when the tool was ended by a signal
  std::string output;  // standard output and standard error as they came
};

std::system_error SystemError(const std::string& what) {
  return std::system_error(errno, std::generic_category(), what);
}

// Runs the tool found on PATH without a shell, its input empty, and collects what it writes.
ToolRun RunTool(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw SystemError("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    errno = spawned;
    throw SystemError(std::string("cannot run ") + argv[0]);
  }

  ToolRun run;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(pipeFds[0], buffer, sizeof(buffer));
    if (n > 0)
      run.output.append(buffer, static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR)
      break;
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw SystemError(std::string("cannot wait for ") + argv[0]);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// What CertGetNameStringW gives as CERT_NAME_SIMPLE_DISPLAY_TYPE for the names signers carry.
std::optional<std::string> SimpleDisplayName(const X509_NAME* name) {
  for (const int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName}) {
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) continue;
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0) return std::nullopt;
    std::string text(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return text;
  }
  return std::nullopt;
}

// A folder of its own in the temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string model = (fs::temp_directory_path() / (std::string(kCommandName) + kScratchRandom)).string();
    if (!mkdtemp(model.data())) throw SystemError("cannot create a temporary folder");
    path_ = model;
  }
  ~ScratchDir() {
    boost::system::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The primary signer's name, read from the signature osslsigncode extracts rather than from its
// report, which prints names ambiguously ('\' unescaped, other bytes as \xHH).
std::string SignerName(const fs::path& file) {
  const ScratchDir scratch;
  const fs::path signature = scratch.path() / kSignatureName;
  const ToolRun extracted =
      RunTool({kTool, "extract-signature", "-in", file.string(), "-out", signature.string()});
  if (extracted.exitCode != 0)
    throw PublishError("osslsigncode cannot extract the signature:\n" + Trimmed(extracted.output));

  std::ifstream in(signature.string(), std::ios_base::binary);
  const std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  const std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(
      d2i_PKCS7(nullptr, &bytes, static_cast<long>(der.size())), PKCS7_free);
  if (!p7 || !PKCS7_type_is_signed(p7.get())) throw PublishError("the signature is no PKCS #7 signed data");
  // The certificates stay owned by the signature; only the list is freed.
  const std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> signers(
      PKCS7_get0_signers(p7.get(), nullptr, 0), [](STACK_OF(X509) * list) { sk_X509_free(list); });
  if (!signers || sk_X509_num(signers.get()) != 1)
    throw PublishError("the signature does not have exactly one signer");
  const std::optional<std::string> name =
      SimpleDisplayName(X509_get_subject_name(sk_X509_value(signers.get(), 0)));
  if (!name) throw PublishError("the signer has no common name, unit or organisation");
  return *name;
}
}  // namespace

void RequireSigner(const fs::path& file, const std::string& publisher,
                   const std::optional<fs::path>& caFile) {
  try {
    std::vector<std::string> verify = {kTool, "verify"};
    // The same trust anchor for time stamps: a signature whose certificate has expired since is
    // accepted when a sound time stamp shows it was made while the certificate was valid, as the
    // program accepts it.
    if (caFile) verify.insert(verify.end(), {"-CAfile", caFile->string(), "-TSA-CAfile", caFile->string()});
    verify.insert(verify.end(), {"-in", file.string()});
    const ToolRun verified = RunTool(verify);
    if (verified.exitCode != 0)
      throw PublishError("osslsigncode does not verify the signature:\n" + Trimmed(verified.output));
    const std::string signer = SignerName(file);
    if (signer != publisher)
      throw PublishError("it is signed by \"" + signer + "\", not by \"" + publisher + "\"");
  } catch (const PublishError&) {
    throw;
  } catch (const std::exception& e) {
    throw PublishError(e.what());
  }
}

}  // namespace brimo
