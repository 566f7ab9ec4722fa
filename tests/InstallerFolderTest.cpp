#include <gtest/gtest.h>

#include "trust/InstallerFolder.h"

namespace brimo {
namespace {

TEST(InstallerFolderSddl, OnlyAdministratorsMayWriteAndTheOwnerGetsNoMore) {
  EXPECT_EQ(InstallerFolderSddl(L"S-1-5-21-1-2-3-1001", true),
            L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;OW)(A;OICI;0x1200a9;;;S-1-5-21-1-2-3-"
            L"1001)");
  // Without the Administrators group the user keeps write access, and the folder its default owner.
  EXPECT_EQ(InstallerFolderSddl(L"S-1-5-21-1-2-3-1001", false),
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1201bf;;;S-1-5-21-1-2-3-1001)");
}

TEST(ParentFolderRefusal, OnlyARealFolderOfTheSystemsOrTheTestOwner) {
  const std::wstring path = L"C:\\Windows\\Temp", user = L"S-1-5-21-1-2-3-1001";
  for (const wchar_t* system :
       {L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"})
    EXPECT_EQ(ParentFolderRefusal(path, {true, false, system}, L""), std::nullopt) << system;
  EXPECT_EQ(ParentFolderRefusal(path, {true, false, user}, L""), path + L" is owned by " + user);
  EXPECT_EQ(ParentFolderRefusal(path, {true, false, L""}, L""), path + L" is owned by nobody known");
  EXPECT_EQ(ParentFolderRefusal(path, {true, false, user}, user), std::nullopt);
  EXPECT_EQ(ParentFolderRefusal(path, {true, false, L"S-1-5-21-1-2-3-100"}, user),
            path + L" is owned by S-1-5-21-1-2-3-100");
  // A junction leads anywhere, whoever owns it.
  EXPECT_EQ(ParentFolderRefusal(path, {true, true, L"S-1-5-18"}, L""), path + L" is a reparse point");
  EXPECT_EQ(ParentFolderRefusal(path, {false, false, L"S-1-5-18"}, L""), path + L" is not a folder");
}

TEST(SameFileAcrossClose, VolumeIdAndSizeDecideNeverTheTimes) {
  FileFacts written{0x1234, {}, 12, 100, 200};
  written.fileId[15] = 7;
  FileFacts held = written;
  // NTFS sets both times anew when the writer closes.
  held.lastWriteTime = 101;
  held.changeTime = 201;
  EXPECT_TRUE(SameFileAcrossClose(written, held));
  FileFacts other = held;
  other.fileId[0] = 1;  // another file put in its place
  EXPECT_FALSE(SameFileAcrossClose(written, other));
  other = held;
  other.volumeSerial = 0x1235;
  EXPECT_FALSE(SameFileAcrossClose(written, other));
  other = held;
  other.size = 13;
  EXPECT_FALSE(SameFileAcrossClose(written, other));
}

}  // namespace
}  // namespace brimo
