// Text helpers shared by the Windows test tools: UTF-16 to UTF-8 conversion and the one-line escaping
// used in their output records.
#pragma once

#include <windows.h>

#include <string>

namespace brimo_tools {

inline std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                        nullptr);
  return out;
}

// Makes UTF-8 text fit on one output line: backslash, LF, CR and tab become \\, \n, \r and \t; every
// other byte below 0x20 becomes \xNN (two lowercase hex digits). All other bytes pass unchanged.
inline std::string EscapeLine(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

inline std::string EscapeLine(const std::wstring& text) { return EscapeLine(WideToUtf8(text)); }

}  // namespace brimo_tools
