#include "platform/TempInstallerFile.h"

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "platform/DebugLog.h"

namespace brimo {

namespace {
constexpr char kNameModel[] = "%%%%-%%%%-%%%%-%%%%";
constexpr char kExtension[] = ".exe";
}  // namespace

boost::filesystem::path MakeTempInstallerPath() {
  const boost::filesystem::path directory = boost::filesystem::temp_directory_path();
  const std::wstring folder(kNameModel, kNameModel + sizeof(kNameModel) - 1);
  const std::wstring file = folder + std::wstring(kExtension, kExtension + sizeof(kExtension) - 1);
  return directory / boost::filesystem::unique_path(folder) / boost::filesystem::unique_path(file);
}

std::wstring FileErrorCode(const boost::system::error_code& code) {
  const std::string text = std::string(code.category().name()) + ":" + std::to_string(code.value());
  return std::wstring(text.begin(), text.end());
}

void RemoveInstallerFile(const boost::filesystem::path& installerPath) {
  try {
    boost::filesystem::remove(installerPath);
  } catch (const boost::filesystem::filesystem_error& e) {
    LogInfo(
        (boost::wformat(L"post-install couldn't remove file (code: %1%)") % FileErrorCode(e.code())).str());
    return;
  }
  // The folder goes with the file; one that still holds something the installer left stays.
  try {
    boost::filesystem::remove(installerPath.parent_path());
  } catch (const boost::filesystem::filesystem_error& e) {
    LogInfo(
        (boost::wformat(L"post-install couldn't remove folder (code: %1%)") % FileErrorCode(e.code())).str());
  }
}

}  // namespace brimo
