#include <windows.h>

#include <boost/format.hpp>
#include <vector>

#include "platform/ErrorBox.h"
#include "platform/ProcessRunner.h"
#include "platform/Product.h"
#include "platform/UniqueAny_win.h"

namespace brimo {

bool RunProcess(const boost::filesystem::path& installerPath, const std::wstring& arguments,
                const std::function<void()>& afterStart, std::uint32_t* exitCodeOut) {
  const boost::filesystem::path installer = installerPath;
  const std::wstring commandLine = ComposeCommandLine(installer, arguments);
  const std::wstring workingDirectory = installer.parent_path().wstring();

  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      workingDirectory.c_str(), &startup, &info);
  const DWORD error = GetLastError();
  if (afterStart) afterStart();
  if (!created) {
    ReportError(
        (boost::wformat(L"RunProcess: CreateProcess call failed - last error code is %1% with command: %2%") %
         error % commandLine)
            .str(),
        (boost::wformat(L"Unable to launch installer (code: %1%), please contact ") % error).str() +
            kSupportUrl);
    return false;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);

  WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.get(), &exitCode);
  if (exitCodeOut) *exitCodeOut = exitCode;
  if (exitCode != 0) {
    ReportError(
        (boost::wformat(L"RunProcess: process finished with exit code %1%") % exitCode).str(),
        (boost::wformat(L"Installation failed with error (code: %1%), please contact ") % exitCode).str() +
            kSupportUrl);
  }
  process.reset();
  thread.reset();
  return exitCode == 0;
}

}  // namespace brimo
