// The decisions about the installer's own folder that do not need Windows to be made: its security
// descriptor, the folder it may be made in, and what proves that the held file is the one written.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace brimo {

// Protected (nothing inherited from the temporary folder), full control for SYSTEM and Administrators,
// read and execute for the user whose SID is given, inherited by the file. With administrators (an
// elevated token), the folder is owned by Administrators, and an OWNER RIGHTS entry grants whoever
// owns it no more than reading, so that the user's unelevated processes can neither add a file beside
// the installer nor rewrite the DACL even where the owner could not be set. Without (a compatibility
// layer), the folder could not be given to Administrators nor written by the program: the user keeps
// write access.
std::wstring InstallerFolderSddl(const std::wstring& userSid, bool administrators);

// The system's temporary folders below the Windows folder, in the order they are tried: the one
// Windows keeps for privileged processes, then the one where users may add entries but cannot open
// ours. Never the user's TEMP, which any of the user's processes can point elsewhere.
inline constexpr std::array<const wchar_t*, 2> kInstallerParentFolders = {L"SystemTemp", L"Temp"};

// What the program learns of a candidate parent through a handle that did not follow reparse points.
struct ParentFolderFacts {
  bool directory = false;
  bool reparsePoint = false;
  std::wstring ownerSid;
};

// Nothing when the folder at path may hold the installer's folder: a real folder (no junction or
// link, which could lead anywhere) owned by SYSTEM, Administrators or TrustedInstaller, whom no
// unelevated process of the user acts as. testOwner, when not empty, is one more owner accepted: test
// builds under Wine, which reports its one user as the owner of every folder, set it; releases never.
std::optional<std::wstring> ParentFolderRefusal(const std::wstring& path, const ParentFolderFacts& facts,
                                                const std::wstring& testOwner);

// What is read of the file through the writer before it closes and through the holder after.
struct FileFacts {
  std::uint64_t volumeSerial = 0;
  std::array<std::uint8_t, 16> fileId{};
  std::uint64_t size = 0;
  std::int64_t lastWriteTime = 0, changeTime = 0;
};

// Whether held is the file that was written, unchanged in size: the volume, the 128-bit file id and
// the size, which Windows keeps across a close. Never the times: NTFS sets them anew when the last
// handle that wrote the file closes. Bytes rewritten in place are the digest's to find.
bool SameFileAcrossClose(const FileFacts& written, const FileFacts& held);

}  // namespace brimo
