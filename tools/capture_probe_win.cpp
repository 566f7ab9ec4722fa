// brimo-capture-probe: what the debug-output capture must leave alone and must record.
//   registers          holds known values in the callee-saved registers (rbx, rbp, rsi, rdi, r12-r15,
//                      xmm6-xmm15) across a C++ throw caught in the same frame and one through a second
//                      frame; exit 0 when every value survived, else 1, each changed register logged
//   strings NAME N     N debug strings "NAME 1".."NAME N"; first starts a copy of itself that writes
//                      "child ..." strings meanwhile; exits 7 right after the last one
#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

volatile int g_zero = 0;

__attribute__((noinline)) void Thrower() {
  if (g_zero == 0) throw std::runtime_error("probe");
}

// Gives every callee-saved register another value before the throw, so the unwinder must restore them.
__attribute__((noinline)) void Middle() {
  register uint64_t b asm("rbx") = 1, s asm("rsi") = 2, d asm("rdi") = 3, r12 asm("r12") = 4,
                      r13 asm("r13") = 5, r14 asm("r14") = 6, r15 asm("r15") = 7, bp asm("rbp") = 8;
  register double x6 asm("xmm6") = -6, x7 asm("xmm7") = -7, x8 asm("xmm8") = -8, x9 asm("xmm9") = -9,
                     x10 asm("xmm10") = -10, x11 asm("xmm11") = -11, x12 asm("xmm12") = -12,
                     x13 asm("xmm13") = -13, x14 asm("xmm14") = -14, x15 asm("xmm15") = -15;
  asm volatile("" : "+r"(b), "+r"(s), "+r"(d), "+r"(r12), "+r"(r13), "+r"(r14), "+r"(r15), "+r"(bp));
  asm volatile(""
               : "+x"(x6), "+x"(x7), "+x"(x8), "+x"(x9), "+x"(x10), "+x"(x11), "+x"(x12), "+x"(x13),
                 "+x"(x14), "+x"(x15));
  Thrower();
  asm volatile("" ::"r"(b), "r"(s), "r"(d), "r"(r12), "r"(r13), "r"(r14), "r"(r15), "r"(bp));
  asm volatile("" ::"x"(x6), "x"(x7), "x"(x8), "x"(x9), "x"(x10), "x"(x11), "x"(x12), "x"(x13), "x"(x14),
               "x"(x15));
}

constexpr uint64_t kGp = 0x1111111111111111;
const char* const kGpNames[] = {"rbx", "rsi", "rdi", "r12", "r13", "r14", "r15", "rbp"};

// The registers hold kGp * (i + 1) and i + 6.5 before the call; read back in the catch block.
__attribute__((noinline)) int Probe(bool twoFrames, const char* where) {
  register uint64_t b asm("rbx") = kGp, s asm("rsi") = kGp * 2, d asm("rdi") = kGp * 3,
                      r12 asm("r12") = kGp * 4, r13 asm("r13") = kGp * 5, r14 asm("r14") = kGp * 6,
                      r15 asm("r15") = kGp * 7, bp asm("rbp") = kGp * 8;
  register double x6 asm("xmm6") = 6.5, x7 asm("xmm7") = 7.5, x8 asm("xmm8") = 8.5, x9 asm("xmm9") = 9.5,
                     x10 asm("xmm10") = 10.5, x11 asm("xmm11") = 11.5, x12 asm("xmm12") = 12.5,
                     x13 asm("xmm13") = 13.5, x14 asm("xmm14") = 14.5, x15 asm("xmm15") = 15.5;
  asm volatile("" : "+r"(b), "+r"(s), "+r"(d), "+r"(r12), "+r"(r13), "+r"(r14), "+r"(r15), "+r"(bp));
  asm volatile(""
               : "+x"(x6), "+x"(x7), "+x"(x8), "+x"(x9), "+x"(x10), "+x"(x11), "+x"(x12), "+x"(x13),
                 "+x"(x14), "+x"(x15));
  bool caught = false;
  try {
    twoFrames ? Middle() : Thrower();
  } catch (const std::exception&) {
    caught = true;
  }
  uint64_t gp[8];
  double xmm[10];
  asm volatile(
      "mov %%rbx, %0\n\tmov %%rsi, %1\n\tmov %%rdi, %2\n\tmov %%r12, %3\n\t"
      "mov %%r13, %4\n\tmov %%r14, %5\n\tmov %%r15, %6\n\tmov %%rbp, %7"
      : "=m"(gp[0]), "=m"(gp[1]), "=m"(gp[2]), "=m"(gp[3]), "=m"(gp[4]), "=m"(gp[5]), "=m"(gp[6]), "=m"(gp[7])
      : "r"(b), "r"(s), "r"(d), "r"(r12), "r"(r13), "r"(r14), "r"(r15), "r"(bp));
  asm volatile(
      "movsd %%xmm6, %0\n\tmovsd %%xmm7, %1\n\tmovsd %%xmm8, %2\n\tmovsd %%xmm9, %3\n\tmovsd %%xmm10, %4\n\t"
      "movsd %%xmm11, %5\n\tmovsd %%xmm12, %6\n\tmovsd %%xmm13, %7\n\tmovsd %%xmm14, %8\n\tmovsd %%xmm15, %9"
      : "=m"(xmm[0]), "=m"(xmm[1]), "=m"(xmm[2]), "=m"(xmm[3]), "=m"(xmm[4]), "=m"(xmm[5]), "=m"(xmm[6]),
        "=m"(xmm[7]), "=m"(xmm[8]), "=m"(xmm[9])
      : "x"(x6), "x"(x7), "x"(x8), "x"(x9), "x"(x10), "x"(x11), "x"(x12), "x"(x13), "x"(x14), "x"(x15));
  int changed = caught ? 0 : 1;
  std::string report = std::string(where) + (caught ? ":" : ": not caught;");
  for (int i = 0; i < 8; ++i)
    if (gp[i] != kGp * (i + 1)) ++changed, report += std::string(" ") + kGpNames[i];
  for (int i = 0; i < 10; ++i)
    if (xmm[i] != i + 6.5) ++changed, report += " xmm" + std::to_string(i + 6);
  if (changed) OutputDebugStringA((report + " changed").c_str());
  return changed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"registers") return Probe(false, "same frame") + Probe(true, "second frame") == 0 ? 0 : 1;
  if (mode != L"strings" || argc < 4) return 2;
  const std::string name(argv[2], argv[2] + wcslen(argv[2]));
  const int count = _wtoi(argv[3]);
  PROCESS_INFORMATION child{};
  if (name != "child") {
    std::wstring cmd = L"\"" + std::wstring(argv[0]) + L"\" strings child " + argv[3];
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &child))
      return 3;
  }
  for (int i = 1; i <= count; ++i) OutputDebugStringA((name + " " + std::to_string(i)).c_str());
  if (child.hProcess) {
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
  }
  return 7;
}
