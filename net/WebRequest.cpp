#include "net/WebRequest.h"

#include <curl/curl.h>
#include <type_traits>

namespace brimo {

static_assert(std::is_same_v<curl_off_t, std::int64_t>, "progress callback signature must match libcurl's");

namespace {
CURL* Easy(void* handle) { return static_cast<CURL*>(handle); }
}  // namespace

WebRequest::WebRequest() : handle_(curl_easy_init()), lastResult_(CURLE_OK) {
  CURL* h = Easy(handle_);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(h, CURLOPT_AUTOREFERER, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WebRequest::OnWrite);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &WebRequest::OnProgress);
  // Changes nothing of what a transfer asks for or accepts, only how much one receive call takes.
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
}

WebRequest::~WebRequest() { curl_easy_cleanup(Easy(handle_)); }

void WebRequest::SetProgressHandler(ProgressHandler handler) { progressHandler_ = std::move(handler); }

int WebRequest::Perform(std::string url, std::ostream& out) {
  return Perform(std::move(url), [&out](const char* data, std::size_t size) -> std::size_t {
    out.write(data, static_cast<std::streamsize>(size));
    // A stream that failed (not opened, disk full) consumed nothing, so the library stops at once.
    return out ? size : 0;
  });
}

int WebRequest::Perform(std::string url, WriteHandler sink) {
  CURL* h = Easy(handle_);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  writeHandler_ = std::move(sink);
  lastResult_ = h ? curl_easy_perform(h) : CURLE_FAILED_INIT;
  long status = 0;
  if (h) curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  return static_cast<int>(status);
}

bool WebRequest::LastTransferComplete() const { return lastResult_ == CURLE_OK; }

std::string WebRequest::LastTransferError() const {
  return curl_easy_strerror(static_cast<CURLcode>(lastResult_));
}

std::size_t WebRequest::OnWrite(char* data, std::size_t size, std::size_t count, void* user) {
  auto* self = static_cast<WebRequest*>(user);
  if (!self || !self->writeHandler_) return 0;
  try {
    return self->writeHandler_(data, size * count);
  } catch (...) {
    return 0;  // never let an exception cross the library; a short count fails the transfer
  }
}

int WebRequest::OnProgress(void* user, std::int64_t dlTotal, std::int64_t dlNow, std::int64_t ulTotal,
                           std::int64_t ulNow) {
  auto* self = static_cast<WebRequest*>(user);
  if (!self || !self->progressHandler_) return 0;
  const std::int64_t total = ulTotal != 0 ? ulTotal : dlTotal;
  const std::int64_t now = ulNow != 0 ? ulNow : dlNow;
  try {
    return self->progressHandler_(total, now);
  } catch (...) {
    return 1;
  }
}

}  // namespace brimo
