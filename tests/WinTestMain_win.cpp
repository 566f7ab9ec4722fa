#include "GdiplusTestEnvironment_win.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new brimo::test::GdiplusEnvironment);
  return RUN_ALL_TESTS();
}
