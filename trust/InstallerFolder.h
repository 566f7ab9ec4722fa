// The security descriptor of the installer's own folder, as SDDL: the one decision about the folder
// that does not need Windows to be made.
#pragma once

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

}  // namespace brimo
