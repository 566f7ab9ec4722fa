// The program's one diagnostic channel: wide text lines, each handed to the debugger output
// channel as one string. Safe to use from any thread.
#pragma once

#include <functional>
#include <ostream>
#include <sstream>
#include <string>

namespace brimo {

// Hands one finished piece of text to the platform's debug channel.
void WriteDebugString(const std::wstring& text);

// A string buffer whose flush sends everything written since the last flush as one debug string.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_debugbuf : public std::basic_stringbuf<CharT, Traits> {
 public:
  basic_debugbuf() : std::basic_stringbuf<CharT, Traits>(std::ios_base::in | std::ios_base::out) {}
  ~basic_debugbuf() override { sync(); }

 protected:
  int sync() override {
    WriteDebugString(this->str());
    this->str(std::basic_string<CharT, Traits>());
    return 0;
  }
};

// A wide output stream that owns a basic_debugbuf.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_dostream : public std::basic_ostream<CharT, Traits> {
 public:
  basic_dostream() : std::basic_ostream<CharT, Traits>(new basic_debugbuf<CharT, Traits>()) {}
  ~basic_dostream() override { delete this->rdbuf(); }
};

extern basic_dostream<wchar_t> DebugLog;

// Writes title, level tag, message and a line feed as one line, then flushes it.
void LogInfo(const std::wstring& message);
void LogError(const std::wstring& message);

// The text that stands in for a library message that is not well-formed UTF-8.
inline constexpr wchar_t kInvalidTextFallback[] = L"(invalid string)";

// Decodes UTF-8; returns the fallback whole when the bytes are not well-formed UTF-8.
std::wstring Utf8ToWide(const std::string& text, const std::wstring& fallback);

// While set, every debug string goes to the observer instead of the platform channel. Tests use it
// to read the log in-process.
using DebugStringObserver = std::function<void(const std::wstring&)>;
void SetDebugStringObserver(DebugStringObserver observer);

}  // namespace brimo
