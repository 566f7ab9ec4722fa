// The outcome report's one request: a plain-HTTP GET on a handle of its own, bounded in time, that
// follows no redirect and ignores the answer's body.
#pragma once

#include <string>

namespace brimo {

class ReportRequest {
 public:
  // Makes and sets up the handle on the calling thread: the library's global start-up runs inside
  // the first handle's creation and must not meet another thread's (the worker's web request).
  ReportRequest(const std::string& url, long timeoutMs);
  ~ReportRequest();
  ReportRequest(const ReportRequest&) = delete;
  ReportRequest& operator=(const ReportRequest&) = delete;

  // Sends the GET (on any one thread) and returns the answer's status; 0 when none arrived within the
  // time-out, connection included.
  int Send();

 private:
  void* handle_;
};

}  // namespace brimo
