// Access logs read from files (plain or gzip, by their first bytes) or standard input, line by line.
#pragma once

#include <zlib.h>

#include <string>
#include <string_view>
#include <vector>

#include "funnel/Funnel.h"

namespace brimo::funnel {

class LogFile {
 public:
  // "-" is standard input.
  explicit LogFile(std::string path);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The next line without its line feed, valid until the next call; false at the end or after an error.
  // A line longer than kMaxLineLength comes back as one longer line's start, the rest dropped.
  bool Next(std::string_view& line);
  // Empty, or what went wrong, naming the file.
  const std::string& error() const { return error_; }

 private:
  bool Fill();  // appends more text to text_; false at the end or on an error
  bool Read();  // more raw bytes into raw_; false at the end or on an error

  std::string path_;
  int fd_ = -1;
  bool gzip_ = false, ended_ = false, skipping_ = false;
  z_stream zip_{};
  int member_ = 1;
  std::vector<unsigned char> raw_;
  std::size_t rawUsed_ = 0;
  std::string text_;
  std::size_t pos_ = 0;
  std::string error_;
};

// Reads every file, merged line by line in time order, into funnel, then finishes it. Files that
// could not be read or held bad gzip data are named in the summary's input errors.
void ReadLogs(const std::vector<std::string>& paths, Funnel& funnel);

}  // namespace brimo::funnel
