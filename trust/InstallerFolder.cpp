#include "trust/InstallerFolder.h"

#include <algorithm>

namespace brimo {

namespace {
constexpr wchar_t kSystemAndAdministrators[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, and with FILE_GENERIC_WRITE.
constexpr wchar_t kReadExecute[] = L"0x1200a9";
constexpr wchar_t kReadWriteExecute[] = L"0x1201bf";
// SYSTEM, Administrators and TrustedInstaller.
constexpr std::array<const wchar_t*, 3> kSystemOwners = {
    L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
}  // namespace

std::wstring InstallerFolderSddl(const std::wstring& userSid, bool administrators) {
  if (!administrators)
    return kSystemAndAdministrators +
           (L"(A;OICI;" + std::wstring(kReadWriteExecute) + L";;;" + userSid + L")");
  return L"O:BA" + std::wstring(kSystemAndAdministrators) + L"(A;OICI;" + kReadExecute + L";;;OW)(A;OICI;" +
         kReadExecute + L";;;" + userSid + L")";
}

std::optional<std::wstring> ParentFolderRefusal(const std::wstring& path, const ParentFolderFacts& facts,
                                                const std::wstring& testOwner) {
  if (facts.reparsePoint) return path + L" is a reparse point";
  if (!facts.directory) return path + L" is not a folder";
  const bool systemOwned =
      std::find(kSystemOwners.begin(), kSystemOwners.end(), facts.ownerSid) != kSystemOwners.end();
  if (!systemOwned && (testOwner.empty() || facts.ownerSid != testOwner))
    return path + L" is owned by " + (facts.ownerSid.empty() ? L"nobody known" : facts.ownerSid);
  return std::nullopt;
}

bool SameFileAcrossClose(const FileFacts& written, const FileFacts& held) {
  return written.volumeSerial == held.volumeSerial && written.fileId == held.fileId &&
         written.size == held.size;
}

}  // namespace brimo
