#include "net/WebRequest.h"

#include <cstdlib>
#include <curl/curl.h>
#include <memory>
#include <type_traits>

#include "platform/DebugLog.h"
#include "trust/ServerCertificate.h"

namespace brimo {

static_assert(std::is_same_v<curl_off_t, std::int64_t>, "progress callback signature must match libcurl's");

namespace {
CURL* Easy(void* handle) { return static_cast<CURL*>(handle); }

// The host part of url, without the brackets of an IPv6 address; empty when it has none.
std::string HostOf(const char* url) {
  const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
  char* host = nullptr;
  if (!parsed || !url || curl_url_set(parsed.get(), CURLUPART_URL, url, 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK)
    return {};
  std::string text(host);
  curl_free(host);
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  return text;
}
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
  curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &WebRequest::OnHeader);
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
  acceptedStatus_ = 0;
  serverRefused_ = false;
  lastResult_ = h ? curl_easy_perform(h) : CURLE_FAILED_INIT;
  if (serverRefused_) return acceptedStatus_;
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

std::size_t WebRequest::OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* self = static_cast<WebRequest*>(user);
  const std::size_t length = size * count;
  if (!self) return length;
  try {
    // Every answer, the redirects' too, starts with its status line.
    if (length >= 5 && std::string(data, 5) == "HTTP/" && !self->AcceptAnswer(std::string(data, length)))
      return 0;
  } catch (...) {
    return 0;  // never let an exception cross the library; a short count fails the transfer
  }
  return length;
}

bool WebRequest::AcceptAnswer(const std::string& statusLine) {
  CURL* h = Easy(handle_);
  curl_tlssessioninfo* tls = nullptr;
  if (curl_easy_getinfo(h, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls && tls->internals &&
      tls->backend == CURLSSLBACKEND_SCHANNEL) {
    char* url = nullptr;
    curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &url);
    if (const std::optional<std::wstring> refusal = ServerCertificateRefusal(tls->internals, HostOf(url))) {
      LogInfo(L"server certificate refused - " + *refusal);
      serverRefused_ = true;
      return false;
    }
  }
  // "HTTP/1.1 301 Moved Permanently": the code follows the first space.
  const std::size_t space = statusLine.find(' ');
  acceptedStatus_ = space == std::string::npos ? 0 : std::atoi(statusLine.c_str() + space + 1);
  return true;
}

}  // namespace brimo
