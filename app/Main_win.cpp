// The program's entry point: start-up checks, the splash window and its handlers, the install
// worker, the message loop and the ordered shut-down.
#include <windows.h>

#include <gdiplus.h>
#include <objbase.h>
#include <shellapi.h>
#include <wininet.h>
// winbase.h maps ReportEvent to the event-log call; here it names the outcome-report hook.
#undef ReportEvent

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "InstallerReleaseHost.h"
#include "app/InstallWorker.h"
#include "app/OutcomeReport.h"
#include "app/ProgressState.h"
#include "app/Startup.h"
#include "platform/DebugLog.h"
#include "platform/Product.h"
#include "platform/UniqueAny_win.h"
#include "platform/WindowsVersion.h"
#include "ui/AnimatedImage.h"
#include "ui/SplashTimer.h"
#include "ui/SplashView.h"
#include "ui/Window.h"

namespace brimo {
namespace {

constexpr unsigned kLogoResource = 107;
constexpr unsigned kDownloadBarResource = 103;
constexpr unsigned kInstallBarResource = 104;
constexpr wchar_t kPngType[] = L"PNG";
constexpr wchar_t kGifType[] = L"GIF";
constexpr DWORD kModulePathCapacity = 260;

ConnectivityAnswer AskConnectivity() {
  DWORD flags = 0;
  const bool connected = InternetGetConnectedState(&flags, 0) != FALSE;
  return ConnectivityAnswer{connected, flags};
}

std::vector<std::wstring> CommandLineArguments() {
  int count = 0;
  UniqueArgv argv(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::wstring> arguments;
  // The first entry is the program itself.
  for (int i = 1; argv && i < count; ++i) arguments.emplace_back(argv.get()[i]);
  return arguments;
}

// Whether this copy was started as a staging build; nothing depends on it yet.
bool IsStagingRun(const std::vector<std::wstring>& arguments) {
  wchar_t modulePath[kModulePathCapacity] = {};
  GetModuleFileNameW(nullptr, modulePath, kModulePathCapacity);
  const std::wstring path(modulePath);
  const std::wstring fileName = path.substr(path.find_last_of(L"\\/") + 1);
  return HasArgument(arguments, kStagingOption) || fileName.find(kStagingModuleMarker) != std::wstring::npos;
}

void AddRunHandlers(Window& window, ProgressState& state, AnimatedImage& downloadBar,
                    AnimatedImage& installBar) {
  window.AddHandler(WM_KEYUP, [](Window&, WinMessage message) {
    if (message.wParam != VK_ESCAPE) return false;
    LogInfo(L"exiting - user pressed escape");
    PostQuitMessage(static_cast<int>(InstallOutcome::Cancelled));
    return true;
  });
  window.AddHandler(WM_CLOSE, [](Window&, WinMessage) {
    LogInfo(L"exiting - user closed window");
    PostQuitMessage(static_cast<int>(InstallOutcome::Cancelled));
    return true;
  });
  window.AddHandler(WM_COMMAND, [](Window& self, WinMessage message) {
    if (message.wParam < 1 || message.wParam > 3) return false;
    PostThreadMessageW(self.ownerThreadId(), WM_QUIT, static_cast<WPARAM>(message.wParam), 0);
    return true;
  });
  window.AddHandler(WM_TIMER, MakeSplashTimerHandler(state, downloadBar, installBar));
}

// The report's sender for this run: nowhere when the build has no report URL or the command line
// turns it off.
OutcomeReporter MakeReporter(const std::vector<std::wstring>& arguments, const std::string& channel) {
  const bool on = config::kReportUrl[0] != '\0' && !HasArgument(arguments, kNoReportOption);
  std::random_device random;
  const std::uint64_t runId = (static_cast<std::uint64_t>(random()) << 32) ^ random();
  return OutcomeReporter(on ? config::kReportUrl : "",
                         ReportContext{RunIdText(runId), BRIMO_VERSION_TEXT, channel, WindowsVersionText()});
}

// Everything between the connectivity check and the shut-down of GDI+; returns the quit code.
UINT RunSplash(HINSTANCE instance) {
  const auto started = std::chrono::steady_clock::now();
  const std::vector<std::wstring> arguments = CommandLineArguments();
  ProgressState state;
  state.silent = !HasArgument(arguments, kNotSilentOption);

  (void)IsStagingRun(arguments);
  const std::string releaseHost = config::kInstallerReleaseHost;
  const std::string channel = kChannel;
  OutcomeReporter reporter = MakeReporter(arguments, channel);
  reporter.ReportEvent(std::string(kLaunchedEvent));

  ImagePtr logo = LoadResourceImage(kPngType, kLogoResource);
  AnimatedImage downloadBar{LoadResourceImage(kGifType, kDownloadBarResource)};
  TryLoadAnimation(downloadBar);
  AnimatedImage installBar{LoadResourceImage(kGifType, kInstallBarResource)};
  TryLoadAnimation(installBar);
  const SplashLayout layout = ComputeSplashLayout(logo.get(), downloadBar.image.get());

  RegisterWindowClass(instance, kWindowClassName, kIconResource);
  Window window(instance, kWindowWidth, kWindowHeight, kWindowClassName, kProductTitle);
  AddRunHandlers(window, state, downloadBar, installBar);
  window.SetPaintHandler(MakeSplashPaintHandler(logo.get(), layout, state, downloadBar, installBar));
  window.RoundCorners(kCornerEllipse, kCornerEllipse);
  ShowWindow(window.handle(), SW_SHOWNORMAL);
  SetTimer(window.handle(), kAnimationTimerId, kAnimationTimerMs, nullptr);

  LogInfo(L"starting download thread");
  RunRecord record;
  std::thread worker(InstallWorker, std::cref(releaseHost), std::cref(channel), std::cref(window),
                     std::ref(state), std::ref(record));

  MSG message{};
  UINT quitCode = 0;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      quitCode = static_cast<UINT>(message.wParam);
      break;
    }
    if (got == -1) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  state.cancelRequested.exchange(true);
  worker.join();
  const std::string event = OutcomeEventName(quitCode);
  const auto runMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  if (!event.empty()) reporter.ReportEvent(event, &record, runMs.count());
  LogInfo(L"finished");

  state.rateText.clear();
  window.TearDown();
  installBar.image.reset();
  downloadBar.image.reset();
  logo.reset();
  return quitCode;
}

// COM and GDI+ bracket the whole run.
class ComGdiplusSession {
 public:
  ComGdiplusSession() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token_, &input, nullptr);
  }
  ~ComGdiplusSession() {
    Gdiplus::GdiplusShutdown(token_);
    CoUninitialize();
  }
  ComGdiplusSession(const ComGdiplusSession&) = delete;
  ComGdiplusSession& operator=(const ComGdiplusSession&) = delete;

 private:
  ULONG_PTR token_ = 0;
};

UINT Run(HINSTANCE instance) {
  // An elevated program started from a downloads folder must not load libraries planted beside it.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ComGdiplusSession session;
  // Owned until the process ends: a second copy sees it and leaves at once.
  CreateMutexW(nullptr, TRUE, kMutexName);
  if (GetLastError() == ERROR_ALREADY_EXISTS) return 1;
  if (!StartupWait(AskConnectivity, [](unsigned ms) { Sleep(ms); })) return 0;
  return RunSplash(instance);
}

}  // namespace
}  // namespace brimo

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return static_cast<int>(brimo::Run(instance));
}
