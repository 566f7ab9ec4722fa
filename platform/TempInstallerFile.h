// The temporary file the installer is downloaded into, run from and removed afterwards.
#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>
#include <string>

namespace brimo {

// A fresh path one folder below the temporary directory: xxxx-xxxx-xxxx-xxxx\xxxx-xxxx-xxxx-xxxx.exe,
// each name 64 random bits in lowercase hexadecimal; the folder is the installer's own. Creates
// neither. Throws boost::filesystem::filesystem_error when there is no temporary directory or no
// random source.
boost::filesystem::path MakeTempInstallerPath();

// A file-system error as its category's name, a colon and its value: "system:32".
std::wstring FileErrorCode(const boost::system::error_code& code);

// Removes the installer file after it has run, then its folder. A missing file is not an error; any
// other failure is logged at information level and otherwise ignored.
void RemoveInstallerFile(const boost::filesystem::path& installerPath);

}  // namespace brimo
