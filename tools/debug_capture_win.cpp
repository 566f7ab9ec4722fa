// brimo-dbgcapture: runs a program and records every debug output string it emits, read from the
// system's debug-output buffer as debug viewers read it: no debugger is attached, so the program runs as
// users run it.
//
// Build: x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -municode -static -static-libgcc
//        -static-libstdc++ -o brimo-dbgcapture.exe tools/debug_capture_win.cpp
//
// Output, one line per event, LF line ends, UTF-8:
//   ODS <escaped text>      one debug output string of the program itself (escaping: see text_escape.h);
//                           strings of the processes it starts are left out
//   EXIT <code>             the program's exit code, unsigned decimal; the tool exits with the same code
//   CAPTURE-ERROR <error>   the program (or FILE, or the buffer) could not be opened/started; the tool
//                           exits with 250
// Lines go to FILE when --out is given (readable while the program runs), else to standard output.
//
// The buffer (one string at a time, at most 4091 bytes of it, in the ANSI code page) has one reader for
// all processes that share the named objects. Every running copy of this tool offers to be it: the
// holder of a named mutex reads, and hands each string to the mailbox of the copy that runs the writing
// process (a named section keyed by its process id); strings of other processes are dropped. When the
// reading copy ends, another takes the mutex over; the buffer's events keep every string queued meanwhile.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "text_escape.h"

namespace {

constexpr int kCaptureErrorExit = 250;
constexpr char kUsage[] =
    "usage: brimo-dbgcapture [--out FILE] PROGRAM [ARGS...]\n"
    "Runs PROGRAM and writes its debug output strings as 'ODS <text>' lines, then 'EXIT <code>', to FILE\n"
    "or standard output; exits with the program's exit code (250 when it cannot be run).\n";

// The system's debug-output buffer: the writer's process id, then the string with its terminating null.
constexpr DWORD kBufferBytes = 4096;
constexpr wchar_t kBufferName[] = L"DBWIN_BUFFER";
constexpr wchar_t kBufferReadyName[] = L"DBWIN_BUFFER_READY";
constexpr wchar_t kDataReadyName[] = L"DBWIN_DATA_READY";
constexpr wchar_t kReaderMutexName[] = L"brimo-dbgcapture-reader";

// A reader that waits longer than this for room in a mailbox drops the string: the buffer's writers give
// up after 10 s, and one stuck copy of the tool must not silence every other.
constexpr DWORD kDeliverWaitMs = 2000;

struct Sink {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  bool owned = false;
  ~Sink() {
    if (owned) CloseHandle(handle);
  }
  // One WriteFile per line: the file has no user-space buffer, so each line is visible to readers at once.
  void Line(const std::string& text) {
    std::string line = text + "\n";
    DWORD written = 0;
    WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
};

struct Handle {
  HANDLE h = nullptr;
  Handle() = default;
  explicit Handle(HANDLE handle) : h(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h) CloseHandle(h);
  }
};

// The strings of one program on their way from the reader to the copy of the tool that runs it: records
// of a length and that many bytes, appended under the lock, taken out whole by the owner.
class Mailbox {
 public:
  static constexpr DWORD kCapacity = 1 << 20;

  // The owner creates the mailbox; a reader opens it (false when the process has no mailbox).
  bool Create(DWORD pid) { return Attach(pid, true); }
  bool Open(DWORD pid) { return Attach(pid, false); }
  ~Mailbox() {
    if (shared_) UnmapViewOfFile(shared_);
  }
  HANDLE filled() const { return filled_.h; }

  bool Append(const std::string& text) {
    const DWORD need = sizeof(DWORD) + static_cast<DWORD>(text.size());
    const ULONGLONG deadline = GetTickCount64() + kDeliverWaitMs;
    for (;;) {
      if (!Lock()) return false;
      if (shared_->used + need <= kCapacity) {
        std::memcpy(shared_->data + shared_->used, &need, sizeof(DWORD));
        std::memcpy(shared_->data + shared_->used + sizeof(DWORD), text.data(), text.size());
        shared_->used += need;
        ReleaseMutex(lock_.h);
        SetEvent(filled_.h);
        return true;
      }
      ReleaseMutex(lock_.h);
      ULONGLONG now = GetTickCount64();
      if (now >= deadline ||
          WaitForSingleObject(drained_.h, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
        return false;
    }
  }

  // Calls f(text) for every string in the mailbox, oldest first, and empties it.
  template <typename F>
  void Take(F f) {
    std::string records;
    if (!Lock()) return;
    records.assign(shared_->data, shared_->used);
    shared_->used = 0;
    ReleaseMutex(lock_.h);
    SetEvent(drained_.h);
    for (size_t at = 0; at + sizeof(DWORD) <= records.size();) {
      DWORD size = 0;
      std::memcpy(&size, records.data() + at, sizeof(DWORD));
      if (size < sizeof(DWORD) || size > records.size() - at) break;
      f(records.substr(at + sizeof(DWORD), size - sizeof(DWORD)));
      at += size;
    }
  }

 private:
  struct Shared {
    DWORD used;
    char data[kCapacity];
  };

  bool Attach(DWORD pid, bool create) {
    std::wstring name = L"brimo-dbgcapture-" + std::to_wstring(pid);
    if (create) {
      section_.h =
          CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), name.c_str());
      lock_.h = CreateMutexW(nullptr, FALSE, (name + L"-lock").c_str());
      filled_.h = CreateEventW(nullptr, FALSE, FALSE, (name + L"-filled").c_str());
      drained_.h = CreateEventW(nullptr, FALSE, FALSE, (name + L"-drained").c_str());
    } else {
      section_.h = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name.c_str());
      lock_.h = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, (name + L"-lock").c_str());
      filled_.h = OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L"-filled").c_str());
      drained_.h = OpenEventW(SYNCHRONIZE, FALSE, (name + L"-drained").c_str());
    }
    if (!section_.h || !lock_.h || !filled_.h || !drained_.h) return false;
    shared_ = static_cast<Shared*>(MapViewOfFile(section_.h, FILE_MAP_WRITE, 0, 0, sizeof(Shared)));
    return shared_ != nullptr;
  }
  // An abandoned lock (its last holder was killed) is still ours to take.
  bool Lock() {
    DWORD r = WaitForSingleObject(lock_.h, kDeliverWaitMs);
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
  }

  Handle section_, lock_, filled_, drained_;
  Shared* shared_ = nullptr;
};

// This copy's share of reading the buffer: waits to hold the reader mutex, then reads until stopped.
struct Reader {
  Handle section, bufferReady, dataReady, mutex, stop;
  const char* view = nullptr;

  // The buffer and its events exist before the program starts, so that none of its strings is lost.
  DWORD Open() {
    section.h =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferBytes, kBufferName);
    if (!section.h) return GetLastError();
    view = static_cast<const char*>(MapViewOfFile(section.h, FILE_MAP_READ, 0, 0, kBufferBytes));
    // A new buffer starts empty: its first writer may go ahead.
    bufferReady.h = CreateEventW(nullptr, FALSE, TRUE, kBufferReadyName);
    dataReady.h = CreateEventW(nullptr, FALSE, FALSE, kDataReadyName);
    mutex.h = CreateMutexW(nullptr, FALSE, kReaderMutexName);
    stop.h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!view || !bufferReady.h || !dataReady.h || !mutex.h || !stop.h) return GetLastError();
    return 0;
  }

  void Run() {
    // Stop comes first: a copy that ends while waiting must not take the mutex on its way out.
    HANDLE claim[] = {stop.h, mutex.h};
    DWORD r = WaitForMultipleObjects(2, claim, FALSE, INFINITE);
    if (r != WAIT_OBJECT_0 + 1 && r != WAIT_ABANDONED_0 + 1) return;
    // Data comes first: a string already written is delivered before the reader stops.
    HANDLE wait[] = {dataReady.h, stop.h};
    while (WaitForMultipleObjects(2, wait, FALSE, INFINITE) == WAIT_OBJECT_0) {
      DWORD pid = 0;
      std::memcpy(&pid, view, sizeof(pid));
      const char* text = view + sizeof(pid);
      const void* end = std::memchr(text, '\0', kBufferBytes - sizeof(pid));
      std::string copy(text, end ? static_cast<const char*>(end) - text : kBufferBytes - sizeof(pid));
      Mailbox mailbox;
      if (mailbox.Open(pid)) mailbox.Append(copy);
      SetEvent(bufferReady.h);
    }
    ReleaseMutex(mutex.h);
  }
  static DWORD WINAPI Thread(void* self) {
    static_cast<Reader*>(self)->Run();
    return 0;
  }
};

std::string AnsiToUtf8(const std::string& raw) {
  if (raw.empty()) return raw;
  int size = MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()), nullptr, 0);
  std::wstring wide(size > 0 ? size : 0, L'\0');
  if (size > 0) MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()), &wide[0], size);
  return brimo_tools::WideToUtf8(wide);
}

// Appends one argument quoted so that the Microsoft C runtime parses it back unchanged.
void AppendQuoted(std::wstring& cmd, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    cmd += arg;
    return;
  }
  cmd += L'"';
  for (auto it = arg.begin();; ++it) {
    size_t backslashes = 0;
    while (it != arg.end() && *it == L'\\') {
      ++it;
      ++backslashes;
    }
    if (it == arg.end()) {
      cmd.append(backslashes * 2, L'\\');
      break;
    }
    if (*it == L'"') {
      cmd.append(backslashes * 2 + 1, L'\\');
    } else {
      cmd.append(backslashes, L'\\');
    }
    cmd += *it;
  }
  cmd += L'"';
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  int first = 1;
  Sink sink;
  if (argc >= 3 && std::wstring(argv[1]) == L"--out") {
    sink.handle = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (sink.handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      sink.handle = GetStdHandle(STD_OUTPUT_HANDLE);
      sink.Line("CAPTURE-ERROR " + std::to_string(error));
      return kCaptureErrorExit;
    }
    sink.owned = true;
    first = 3;
  }
  if (first >= argc) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  std::wstring cmd;
  for (int i = first; i < argc; ++i) {
    if (i > first) cmd += L' ';
    AppendQuoted(cmd, argv[i]);
  }
  Reader reader;
  if (DWORD error = reader.Open()) {
    sink.Line("CAPTURE-ERROR " + std::to_string(error));
    return kCaptureErrorExit;
  }
  // Started suspended: its mailbox, named by its process id, must exist before its first string.
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                      &pi)) {
    sink.Line("CAPTURE-ERROR " + std::to_string(GetLastError()));
    return kCaptureErrorExit;
  }
  Handle process(pi.hProcess), thread(pi.hThread);
  Mailbox mailbox;
  Handle readerThread;
  if (mailbox.Create(pi.dwProcessId))
    readerThread.h = CreateThread(nullptr, 0, Reader::Thread, &reader, 0, nullptr);
  if (!readerThread.h) {
    sink.Line("CAPTURE-ERROR " + std::to_string(GetLastError()));
    TerminateProcess(process.h, kCaptureErrorExit);
    return kCaptureErrorExit;
  }
  ResumeThread(thread.h);

  auto write = [&](const std::string& raw) { sink.Line("ODS " + brimo_tools::EscapeLine(AnsiToUtf8(raw))); };
  HANDLE wait[] = {mailbox.filled(), process.h};
  while (WaitForMultipleObjects(2, wait, FALSE, INFINITE) == WAIT_OBJECT_0) mailbox.Take(write);
  // The program's last string may still sit in the buffer. A string of our own queues behind it and
  // returns once the reader has delivered everything before it (the handle held on the process keeps its
  // id from passing to another process meanwhile).
  OutputDebugStringA("");
  mailbox.Take(write);
  SetEvent(reader.stop.h);
  WaitForSingleObject(readerThread.h, INFINITE);

  DWORD exitCode = 0;
  GetExitCodeProcess(process.h, &exitCode);
  sink.Line("EXIT " + std::to_string(exitCode));
  return static_cast<int>(exitCode);
}
