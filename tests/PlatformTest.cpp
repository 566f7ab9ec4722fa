#include <boost/filesystem/operations.hpp>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>

#include "LogCapture.h"
#include "platform/ProcessRunner.h"
#include "platform/TempInstallerFile.h"

namespace brimo {
namespace {

namespace fs = boost::filesystem;

TEST(TempInstallerPath, UniqueRandomHexNamesInAFolderOfTheirOwn) {
  const fs::path first = MakeTempInstallerPath();
  const fs::path second = MakeTempInstallerPath();
  EXPECT_NE(first.parent_path(), second.parent_path());
  EXPECT_EQ(first.parent_path().parent_path(), fs::temp_directory_path());
  const std::regex folder("[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}");
  const std::regex name("[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}\\.exe");
  EXPECT_TRUE(std::regex_match(first.parent_path().filename().string(), folder)) << first;
  EXPECT_TRUE(std::regex_match(first.filename().string(), name)) << first;
  EXPECT_FALSE(fs::exists(first.parent_path()));
}

TEST(RemoveInstallerFile, RemovesTheFileThenItsFolderAndIgnoresAMissingOneSilently) {
  test::LogCapture capture;
  const fs::path path = MakeTempInstallerPath();
  fs::create_directory(path.parent_path());
  std::ofstream(path.string()) << "x";
  RemoveInstallerFile(path);
  EXPECT_FALSE(fs::exists(path.parent_path()));
  RemoveInstallerFile(path);
  EXPECT_TRUE(capture.strings().empty());
}

TEST(RemoveInstallerFile, AFailureIsLoggedWithCategoryAndCodeAndNotRaised) {
  test::LogCapture capture;
  // A directory that is not empty cannot be removed.
  const fs::path path = MakeTempInstallerPath();
  fs::create_directories(path / "inside");
  EXPECT_NO_THROW(RemoveInstallerFile(path));
  boost::system::error_code ignored;
  fs::remove_all(path.parent_path(), ignored);
  const std::vector<std::wstring> lines = capture.strings();
  ASSERT_EQ(lines.size(), 1u);
  const std::wregex expected(
      L"Quarn Brimo Installer \\[INFO\\] post-install couldn't remove file \\(code: system:[0-9]+\\)\n");
  EXPECT_TRUE(std::regex_match(lines[0], expected));
}

TEST(ComposeCommandLine, QuotedPathOneBlankThenTheArguments) {
  const fs::path installer = fs::path("tmp") / "ab12-cd34-ef56-7890.exe";
  const std::wstring quoted = L"\"" + installer.wstring() + L"\"";
  EXPECT_EQ(ComposeCommandLine(installer, L"/S"), quoted + L" /S");
  EXPECT_EQ(ComposeCommandLine(installer, L""), quoted + L" ");
  // Characters a user name may bring into the temporary directory reach the process start unchanged.
  const fs::path odd = fs::path("Tom & Jerry") / "x.exe";
  EXPECT_EQ(ComposeCommandLine(odd, L"/S"), L"\"" + odd.wstring() + L"\" /S");
}

}  // namespace
}  // namespace brimo
