#include <windows.h>

#include <boost/filesystem/operations.hpp>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

#include "LogCapture.h"
#include "platform/ProcessRunner.h"
#include "platform/Product.h"
#include "platform/TempInstallerFile.h"

namespace brimo {
namespace {

namespace fs = boost::filesystem;

// A copy of the test installer whose trailer tells it how to end; removed with the fixture.
class InstallerCopy {
 public:
  explicit InstallerCopy(const std::string& config) : path_(MakeTempInstallerPath()) {
    const char* source = std::getenv("BRIMO_TEST_INSTALLER");
    EXPECT_NE(source, nullptr) << "BRIMO_TEST_INSTALLER names the test installer";
    fs::create_directory(path_.parent_path());
    if (source) fs::copy_file(source, path_);
    std::ofstream(path_.string(), std::ios::app | std::ios::binary) << "BRIMO-TEST-CONFIG{" << config << "}";
  }
  ~InstallerCopy() {
    boost::system::error_code ignored;
    fs::remove_all(path_.parent_path(), ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

TEST(RunProcess, ExitCodeZeroIsSuccessWithoutAWord) {
  test::LogCapture capture;
  InstallerCopy installer("install=0;exit=0");
  EXPECT_TRUE(RunProcess(installer.path(), L"/S"));
  EXPECT_TRUE(capture.strings().empty());
  EXPECT_TRUE(capture.boxes().empty());
}

TEST(RunProcess, NonZeroExitCodeIsReportedUnsigned) {
  test::LogCapture capture;
  InstallerCopy installer("install=0;exit=4294967295");
  EXPECT_FALSE(RunProcess(installer.path(), L"/S"));
  EXPECT_EQ(
      capture.strings(),
      std::vector<std::wstring>{test::ErrorLine(L"RunProcess: process finished with exit code 4294967295")});
  EXPECT_EQ(
      capture.boxes(),
      std::vector<std::wstring>{
          std::wstring(L"Installation failed with error (code: 4294967295), please contact ") + kSupportUrl});
}

TEST(RunProcess, AMissingInstallerIsACreationFailureWithTheWholeCommandLine) {
  test::LogCapture capture;
  const fs::path missing = MakeTempInstallerPath();
  fs::create_directory(missing.parent_path());
  EXPECT_FALSE(RunProcess(missing, L""));
  fs::remove(missing.parent_path());
  const std::wstring command = L"\"" + missing.wstring() + L"\" ";
  EXPECT_EQ(capture.strings(),
            std::vector<std::wstring>{test::ErrorLine(
                L"RunProcess: CreateProcess call failed - last error code is 2 with command: " + command)});
  EXPECT_EQ(capture.boxes(),
            std::vector<std::wstring>{std::wstring(L"Unable to launch installer (code: 2), please contact ") +
                                      kSupportUrl});
}

}  // namespace
}  // namespace brimo
