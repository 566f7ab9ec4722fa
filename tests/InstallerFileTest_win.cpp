#include <windows.h>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "platform/TempInstallerFile.h"
#include "trust/InstallerFile.h"

namespace brimo {
namespace {

namespace fs = boost::filesystem;

// What another program gets when it opens the file (or folder): 0 when it could, else the error.
DWORD OpenError(const fs::path& path, DWORD access) {
  HANDLE file =
      CreateFileW(path.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return 0;
}

std::string DigestOf(const std::string& bytes) {
  Sha512 hash;
  hash.Update(bytes.data(), bytes.size());
  return EncodeBase64(hash.Finish().value());
}

class InstallerFileTest : public ::testing::Test {
 protected:
  ~InstallerFileTest() override {
    boost::system::error_code ignored;
    fs::remove_all(path.parent_path(), ignored);
  }
  fs::path path = MakeTempInstallerPath();
};

TEST_F(InstallerFileTest, NobodyElseMayWriteDeleteOrMoveItsFolderUntilReleased) {
  InstallerFile file(path);
  file.Stream().write("MZ-installer", 12);
  EXPECT_EQ(OpenError(path, GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(path, DELETE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(path.parent_path(), DELETE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  ASSERT_TRUE(file.FinishWriting());
  EXPECT_EQ(OpenError(path, GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(path, DELETE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(path.parent_path(), DELETE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(path, GENERIC_READ), 0u);
  char bytes[9] = {};
  EXPECT_EQ(file.Size(), 12u);
  ASSERT_TRUE(file.ReadAt(3, 9, bytes));
  EXPECT_EQ(std::string(bytes, 9), "installer");
  EXPECT_FALSE(file.ReadAt(4, 9, bytes));  // past the end

  file.Release();
  EXPECT_EQ(OpenError(path, GENERIC_WRITE), 0u);
  EXPECT_EQ(OpenError(path.parent_path(), DELETE), 0u);
}

// Another process rewrites the file in the one moment nothing holds it and sets its times back.
// Where the system lets it restore the change time too (Windows), the identity cannot tell, and the
// digest must then be of the bytes that will run, not of the stream; where it cannot (Wine keeps the
// change time of its own), the changed identity refuses the file.
TEST_F(InstallerFileTest, AChangeWhileUnheldShowsInTheDigestOrRefusesTheFile) {
  InstallerFile file(path);
  file.Stream().write("abc", 3);
  bool timesRestored = false;
  const bool held = file.FinishWriting([this, &timesRestored] {
    HANDLE other =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    FILE_BASIC_INFO times{};
    GetFileInformationByHandleEx(other, FileBasicInfo, &times, sizeof(times));
    DWORD written = 0;
    WriteFile(other, "xyz", 3, &written, nullptr);
    SetFileInformationByHandle(other, FileBasicInfo, &times, sizeof(times));
    FILE_BASIC_INFO after{};
    GetFileInformationByHandleEx(other, FileBasicInfo, &after, sizeof(after));
    timesRestored = after.ChangeTime.QuadPart == times.ChangeTime.QuadPart &&
                    after.LastWriteTime.QuadPart == times.LastWriteTime.QuadPart;
    CloseHandle(other);
  });
  if (!timesRestored) {
    EXPECT_FALSE(held);
    return;
  }
  ASSERT_TRUE(held);
  ASSERT_TRUE(file.Digest());
  EXPECT_EQ(EncodeBase64(*file.Digest()), DigestOf("xyz"));
}

TEST_F(InstallerFileTest, AFileThatCannotBeCreatedFailsItsStream) {
  InstallerFile file(path / "no-such-folder" / "x.exe");
  EXPECT_FALSE(file.Stream().good());
  file.Stream().write("x", 1);
  EXPECT_FALSE(file.FinishWriting());
  EXPECT_FALSE(file.Digest());
}

}  // namespace
}  // namespace brimo
