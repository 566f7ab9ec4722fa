#include "trust/InstallerFolder.h"

namespace brimo {

namespace {
constexpr wchar_t kSystemAndAdministrators[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, and with FILE_GENERIC_WRITE.
constexpr wchar_t kReadExecute[] = L"0x1200a9";
constexpr wchar_t kReadWriteExecute[] = L"0x1201bf";
}  // namespace

std::wstring InstallerFolderSddl(const std::wstring& userSid, bool administrators) {
  if (!administrators)
    return kSystemAndAdministrators +
           (L"(A;OICI;" + std::wstring(kReadWriteExecute) + L";;;" + userSid + L")");
  return L"O:BA" + std::wstring(kSystemAndAdministrators) + L"(A;OICI;" + kReadExecute + L";;;OW)(A;OICI;" +
         kReadExecute + L";;;" + userSid + L")";
}

}  // namespace brimo
