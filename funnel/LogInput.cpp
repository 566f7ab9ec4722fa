#include "funnel/LogInput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <queue>

namespace brimo::funnel {
namespace {

constexpr std::size_t kChunk = 256 * 1024;
constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b};

}  // namespace

LogFile::LogFile(std::string path) : path_(std::move(path)), raw_(kChunk) {
  fd_ = path_ == "-" ? STDIN_FILENO : open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error_ = path_ + ": " + std::strerror(errno);
    ended_ = true;
    return;
  }
  if (!Read()) {
    ended_ = true;
    return;
  }
  gzip_ = rawUsed_ >= 2 && std::memcmp(raw_.data(), kGzipMagic, 2) == 0;
  // 16 + MAX_WBITS: gzip members only.
  if (gzip_ && inflateInit2(&zip_, 16 + MAX_WBITS) != Z_OK) {
    error_ = path_ + ": cannot start gzip decoding";
    ended_ = true;
  }
  zip_.next_in = raw_.data();
  zip_.avail_in = static_cast<uInt>(rawUsed_);
}

LogFile::~LogFile() {
  if (gzip_) inflateEnd(&zip_);
  if (fd_ > STDIN_FILENO) close(fd_);
}

bool LogFile::Read() {
  ssize_t got;
  do got = read(fd_, raw_.data(), raw_.size());
  while (got < 0 && errno == EINTR);
  if (got < 0) error_ = path_ + ": " + std::strerror(errno);
  rawUsed_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  return got > 0;
}

bool LogFile::Fill() {
  if (ended_) return false;
  if (!gzip_) {
    if (rawUsed_ == 0 && !Read()) return ended_ = true, false;
    text_.append(reinterpret_cast<const char*>(raw_.data()), rawUsed_);
    rawUsed_ = 0;
    return true;
  }
  const std::size_t before = text_.size();
  while (text_.size() == before) {
    if (zip_.avail_in == 0) {
      if (!Read()) {
        // The end of the file is the end of the data only where a member has just ended.
        if (error_.empty() && zip_.total_in > 0)
          error_ = path_ + ": gzip member " + std::to_string(member_) + " is cut short";
        return ended_ = true, false;
      }
      zip_.next_in = raw_.data();
      zip_.avail_in = static_cast<uInt>(rawUsed_);
    }
    text_.resize(before + kChunk);
    zip_.next_out = reinterpret_cast<Bytef*>(&text_[before]);
    zip_.avail_out = static_cast<uInt>(kChunk);
    const int result = inflate(&zip_, Z_NO_FLUSH);
    text_.resize(before + kChunk - zip_.avail_out);
    if (result == Z_STREAM_END) {
      // Concatenated members (logrotate appends, "cat a.gz b.gz") read as one stream.
      inflateReset(&zip_);
      ++member_;
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      error_ = path_ + ": bad gzip member " + std::to_string(member_) + ": " +
               (zip_.msg ? zip_.msg : "data error");
      ended_ = true;
      return text_.size() > before;
    }
  }
  return true;
}

bool LogFile::Next(std::string_view& line) {
  for (;;) {
    const char* start = text_.data() + pos_;
    const void* feed = std::memchr(start, '\n', text_.size() - pos_);
    if (feed) {
      const std::size_t length = static_cast<const char*>(feed) - start;
      pos_ += length + 1;
      if (skipping_) {
        skipping_ = false;
        continue;
      }
      line = std::string_view(start, length);
      return true;
    }
    if (text_.size() - pos_ > kMaxLineLength && !skipping_) {
      // Hand out the start of an over-long line once (it reads as over-long), drop the rest.
      line = std::string_view(start, text_.size() - pos_);
      skipping_ = true;
      pos_ = text_.size();
      return true;
    }
    if (skipping_) pos_ = text_.size();
    text_.erase(0, pos_);
    pos_ = 0;
    if (!Fill()) {
      if (text_.empty() || skipping_) return false;
      line = text_;  // the last line, without its line feed
      pos_ = text_.size();
      return true;
    }
  }
}

void ReadLogs(const std::vector<std::string>& paths, Funnel& funnel) {
  struct Source {
    std::unique_ptr<LogFile> file;
    LogLine line;
  };
  std::vector<Source> sources;
  for (const std::string& path : paths) sources.push_back({std::make_unique<LogFile>(path), {}});
  // (time, source) of each source's current line, earliest first.
  using Entry = std::pair<std::int64_t, std::size_t>;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> next;
  // Moves source i to its next line with a time; the lines without one count at once.
  const auto advance = [&](std::size_t i) {
    std::string_view text;
    while (sources[i].file->Next(text)) {
      sources[i].line = ParseLogLine(text);
      if (sources[i].line.kind == LineKind::Request) {
        next.emplace(sources[i].line.time, i);
        return;
      }
      funnel.Add(sources[i].line);
    }
    if (!sources[i].file->error().empty()) funnel.summary().inputErrors.push_back(sources[i].file->error());
  };
  for (std::size_t i = 0; i < sources.size(); ++i) advance(i);
  while (!next.empty()) {
    const std::size_t i = next.top().second;
    next.pop();
    funnel.Add(sources[i].line);
    advance(i);
  }
  funnel.Finish();
}

}  // namespace brimo::funnel
