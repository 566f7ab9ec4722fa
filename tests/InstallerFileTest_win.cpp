#include <windows.h>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "platform/InstallerFile.h"
#include "platform/TempInstallerFile.h"

namespace brimo {
namespace {

namespace fs = boost::filesystem;

// What another program gets when it opens the file: 0 when it could, else the error.
DWORD OpenError(const fs::path& path, DWORD access) {
  HANDLE file =
      CreateFileW(path.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return 0;
}

class InstallerFileTest : public ::testing::Test {
 protected:
  ~InstallerFileTest() override {
    boost::system::error_code ignored;
    fs::remove(path, ignored);
  }
  fs::path path = MakeTempInstallerPath();
};

TEST_F(InstallerFileTest, NobodyElseMayWriteOrDeleteUntilReleased) {
  InstallerFile file(path);
  file.Stream().write("MZ-installer", 12);
  EXPECT_EQ(OpenError(path, GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(path, DELETE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  ASSERT_TRUE(file.FinishWriting());
  EXPECT_EQ(OpenError(path, GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(path, DELETE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(path, GENERIC_READ), 0u);

  file.Release();
  EXPECT_EQ(OpenError(path, GENERIC_WRITE), 0u);
  EXPECT_EQ(fs::file_size(path), 12u);
}

TEST_F(InstallerFileTest, DigestCoversEveryByteWritten) {
  InstallerFile file(path);
  file.Stream().write("a", 1);
  file.Stream().write("bc", 2);
  ASSERT_TRUE(file.FinishWriting());
  EXPECT_EQ(EncodeBase64(file.Digest()),
            "3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw==");
}

TEST_F(InstallerFileTest, AFileThatCannotBeCreatedFailsItsStream) {
  InstallerFile file(path / "no-such-folder" / "x.exe");
  EXPECT_FALSE(file.Stream().good());
  file.Stream().write("x", 1);
  EXPECT_FALSE(file.FinishWriting());
}

}  // namespace
}  // namespace brimo
