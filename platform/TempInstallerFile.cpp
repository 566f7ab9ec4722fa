#include "platform/TempInstallerFile.h"

#include <boost/filesystem/operations.hpp>

namespace brimo {

namespace {
constexpr char kNameModel[] = "%%%%-%%%%-%%%%-%%%%";
constexpr char kExtension[] = ".exe";
}  // namespace

boost::filesystem::path MakeTempInstallerPath() {
  return MakeTempInstallerPath(boost::filesystem::temp_directory_path());
}

boost::filesystem::path MakeTempInstallerPath(const boost::filesystem::path& directory) {
  const std::wstring folder(kNameModel, kNameModel + sizeof(kNameModel) - 1);
  const std::wstring file = folder + std::wstring(kExtension, kExtension + sizeof(kExtension) - 1);
  return directory / boost::filesystem::unique_path(folder) / boost::filesystem::unique_path(file);
}

std::wstring FileErrorCode(const boost::system::error_code& code) {
  const std::string text = std::string(code.category().name()) + ":" + std::to_string(code.value());
  return std::wstring(text.begin(), text.end());
}

}  // namespace brimo
