#include <windows.h>

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>

#include "platform/TempInstallerFile.h"
#include "trust/InstallerFile.h"
#include "trust/InstallerSignature.h"

namespace brimo {
namespace {

namespace fs = boost::filesystem;

std::wstring Wide(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
  return out;
}

std::wstring Setting(const char* name) {
  const char* value = std::getenv(name);
  return value ? Wide(value) : std::wstring();
}

// The publisher, from a UTF-8 file: an environment variable would reach the program in Wine's
// code page, which may not hold the name.
std::wstring Publisher() {
  fs::ifstream in(fs::path(Setting("BRIMO_TEST_PUBLISHER_FILE")), std::ios::binary);
  const std::string utf8((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Wide(utf8.c_str());
}

// The program's bytes held as the program holds a downloaded installer, then put through the same
// check: what a machine that trusts the maker's root makes of the file the maker ships.
class ProgramSignatureTest : public ::testing::Test {
 protected:
  ~ProgramSignatureTest() override {
    boost::system::error_code ignored;
    fs::remove_all(path_.parent_path(), ignored);
  }

  std::optional<std::wstring> Refusal(const std::wstring& program) {
    fs::ifstream in(fs::path(program), std::ios::binary);
    EXPECT_TRUE(in) << "cannot read the program";
    InstallerFile file(path_, false);
    file.Stream() << in.rdbuf();
    EXPECT_TRUE(file.FinishWriting());
    return InstallerSignatureRefusal(file, publisher_);
  }

  const std::wstring publisher_ = Publisher();
  fs::path path_ = MakeTempInstallerPath();
};

TEST_F(ProgramSignatureTest, TheSignedProgramIsTheMakers) {
  ASSERT_FALSE(publisher_.empty()) << "BRIMO_TEST_PUBLISHER_FILE names the signer";
  const std::optional<std::wstring> refusal = Refusal(Setting("BRIMO_SIGNED_PROGRAM"));
  EXPECT_FALSE(refusal) << std::string(refusal->begin(), refusal->end());
}

// The same check refuses the program as built, so the case above proves the signature.
TEST_F(ProgramSignatureTest, TheUnsignedBuildIsRefused) {
  EXPECT_TRUE(Refusal(Setting("BRIMO_UNSIGNED_PROGRAM")));
}

}  // namespace
}  // namespace brimo
