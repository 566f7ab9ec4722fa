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
  const fs::path second = MakeTempInstallerPath(fs::path("elsewhere"));
  EXPECT_NE(first.parent_path(), second.parent_path());
  EXPECT_EQ(first.parent_path().parent_path(), fs::temp_directory_path());
  EXPECT_EQ(second.parent_path().parent_path(), fs::path("elsewhere"));
  const std::regex folder("[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}");
  const std::regex name("[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}\\.exe");
  EXPECT_TRUE(std::regex_match(first.parent_path().filename().string(), folder)) << first;
  EXPECT_TRUE(std::regex_match(first.filename().string(), name)) << first;
  EXPECT_FALSE(fs::exists(first.parent_path()));
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
