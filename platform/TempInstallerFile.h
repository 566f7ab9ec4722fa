// The name of the temporary file the installer is downloaded into and run from.
#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>
#include <string>

namespace brimo {

// A fresh path one folder below directory: xxxx-xxxx-xxxx-xxxx\xxxx-xxxx-xxxx-xxxx.exe, each name 64
// random bits in lowercase hexadecimal; the folder is the installer's own. Creates neither. Throws
// boost::filesystem::filesystem_error when there is no random source.
boost::filesystem::path MakeTempInstallerPath(const boost::filesystem::path& directory);
// The same below the temporary directory; also throws when there is none.
boost::filesystem::path MakeTempInstallerPath();

// A file-system error as its category's name, a colon and its value: "system:32".
std::wstring FileErrorCode(const boost::system::error_code& code);

}  // namespace brimo
