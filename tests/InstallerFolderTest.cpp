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

}  // namespace
}  // namespace brimo
