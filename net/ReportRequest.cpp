#include "net/ReportRequest.h"

#include <curl/curl.h>

#include "net/WebRequest.h"

namespace brimo {

namespace {
std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) { return size * count; }
}  // namespace

ReportRequest::ReportRequest(const std::string& url, long timeoutMs) : handle_(curl_easy_init()) {
  CURL* h = static_cast<CURL*>(handle_);
  if (!h) return;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs);
  // Another thread of the program may be in a transfer of its own: no signals for time-outs.
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // At its time-out the library would wait for its resolver thread, as long as the system's resolver
  // takes with a name server that never answers; this leaves that thread to end on its own.
  curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &DiscardBody);
}

ReportRequest::~ReportRequest() { curl_easy_cleanup(static_cast<CURL*>(handle_)); }

int ReportRequest::Send() {
  CURL* h = static_cast<CURL*>(handle_);
  long status = 0;
  if (h && curl_easy_perform(h) == CURLE_OK) curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  return static_cast<int>(status);
}

}  // namespace brimo
