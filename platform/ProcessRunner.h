// Starts the downloaded installer, waits for it and tells whether it succeeded.
#pragma once

#include <boost/filesystem/path.hpp>
#include <cstdint>
#include <functional>
#include <string>

namespace brimo {

// The installer path between double quotes, one blank, then the arguments unchanged.
std::wstring ComposeCommandLine(const boost::filesystem::path& installerPath, const std::wstring& arguments);

// Runs the installer from its own folder with the program's own rights and waits for it without a
// time-out. True only when it was started and exited with 0; any failure has been logged and shown.
// afterStart, when given, runs as soon as the attempt to create the process is over; exitCode, when
// given, receives the installer's exit code once it has ended.
bool RunProcess(const boost::filesystem::path& installerPath, const std::wstring& arguments,
                const std::function<void()>& afterStart = nullptr, std::uint32_t* exitCode = nullptr);

}  // namespace brimo
