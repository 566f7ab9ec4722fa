// GDI+ running for the tests of one executable, and a window class registered for them.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include <gtest/gtest.h>

namespace brimo::test {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace brimo::test
