// The temporary file the installer is downloaded into, run from and removed afterwards.
#pragma once

#include <boost/filesystem/path.hpp>

namespace brimo {

// A fresh path in the temporary directory: xxxx-xxxx-xxxx-xxxx.exe, 64 random bits in lowercase
// hexadecimal. Creates no file. Throws boost::filesystem::filesystem_error when there is no
// temporary directory or no random source.
boost::filesystem::path MakeTempInstallerPath();

// Removes the installer file after it has run. A missing file is not an error; any other failure is
// logged at information level and otherwise ignored.
void RemoveInstallerFile(const boost::filesystem::path& installerPath);

}  // namespace brimo
