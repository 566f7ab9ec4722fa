#include "platform/ProcessRunner.h"

#include <boost/format.hpp>

namespace brimo {

std::wstring ComposeCommandLine(const boost::filesystem::path& installerPath, const std::wstring& arguments) {
  // The path goes between quotes as it is: a Windows path cannot hold a double quote, and any other
  // character (an ampersand in a user name, say) must reach the process start unchanged.
  const std::wstring quoted = L"\"" + installerPath.wstring() + L"\"";
  return (boost::wformat(L"%1% %2%") % quoted % arguments).str();
}

}  // namespace brimo
