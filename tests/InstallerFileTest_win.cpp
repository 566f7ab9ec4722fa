#include <windows.h>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "LogCapture.h"
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

TEST_F(InstallerFileTest, NobodyElseMayWriteDeleteOrMoveItsFolderUntilRemoved) {
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

  // The installer may do with its file as it likes; its folder stays held until removed.
  file.Release();
  EXPECT_EQ(OpenError(path, GENERIC_WRITE), 0u);
  EXPECT_EQ(OpenError(path.parent_path(), DELETE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  file.Remove();
  EXPECT_FALSE(fs::exists(path.parent_path()));
}

// Another process rewrites the file in the one moment nothing holds it, or puts another file in its
// place. The identity proves only that the held file is the one written; its bytes are proven by the
// digest, which is taken of what will run, not of the stream.
TEST_F(InstallerFileTest, AChangeWhileUnheldShowsInTheDigestAnotherFileIsRefused) {
  // The replacement is made beside the file and moved over it, so that it is another file while
  // both exist (a file made after a deletion may take the deleted one's number under Wine).
  const auto rewrite = [this](bool replace) {
    const fs::path target = replace ? fs::path(path.wstring() + L".new") : path;
    HANDLE other = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(other, "xyz", 3, &written, nullptr);
    CloseHandle(other);
    if (replace) {
      EXPECT_TRUE(MoveFileExW(target.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    }
  };
  {
    InstallerFile file(path);
    file.Stream().write("abc", 3);
    ASSERT_TRUE(file.FinishWriting([&] { rewrite(false); }));
    ASSERT_TRUE(file.Digest());
    EXPECT_EQ(EncodeBase64(*file.Digest()), DigestOf("xyz"));
    file.Remove();
  }
  InstallerFile file(path);
  file.Stream().write("abc", 3);
  EXPECT_FALSE(file.FinishWriting([&] { rewrite(true); }));
}

// The run's own place: a system temporary folder, held; the file and its folder made in it and
// removed through handles once the installer has run, however it left its file.
TEST(InstallerParent, TheSystemsTemporaryFolderHoldsTheFolderUntilRemoved) {
  test::LogCapture capture;
  const InstallerParent parent(BRIMO_TEST_FOLDER_OWNER_TEXT);
  ASSERT_TRUE(parent.Path()) << parent.Failure();
  wchar_t windows[MAX_PATH];
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  EXPECT_EQ(parent.Path()->parent_path(), fs::path(windows));
  EXPECT_EQ(OpenError(*parent.Path(), DELETE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  for (const char* left : {"in place", "removed by the installer", "locked"}) {
    const fs::path path = MakeTempInstallerPath(*parent.Path());
    InstallerFile file(path, true, &parent);
    ASSERT_FALSE(file.MakeError()) << *file.MakeError();
    file.Stream().write("MZ", 2);
    ASSERT_TRUE(file.FinishWriting());
    file.Release();
    HANDLE lock = INVALID_HANDLE_VALUE;
    if (std::string(left) == "removed by the installer") {
      EXPECT_TRUE(DeleteFileW(path.c_str()));
    } else if (std::string(left) == "locked") {
      lock = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    file.Remove();
    if (lock != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(fs::exists(path));
      EXPECT_EQ(
          capture.strings(),
          std::vector<std::wstring>{test::InfoLine(L"post-install couldn't remove file (code: system:32)")});
      CloseHandle(lock);
      file.Remove();
    } else {
      EXPECT_TRUE(capture.strings().empty()) << left;
    }
    EXPECT_FALSE(fs::exists(path.parent_path())) << left;
  }
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
