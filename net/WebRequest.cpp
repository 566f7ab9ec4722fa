#include "net/WebRequest.h"

#include <cstdlib>
#include <curl/curl.h>
#include <memory>
#include <optional>
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

// Why the server that the handle's current connection reached is not taken; nothing when it is, or
// when the connection is plain. A TLS scheme's connection must carry a session to be checked.
std::optional<std::wstring> ServerRefusal(CURL* h) {
  curl_tlssessioninfo* tls = nullptr;
  const void* session = curl_easy_getinfo(h, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls &&
                                tls->backend == CURLSSLBACKEND_SCHANNEL
                            ? tls->internals
                            : nullptr;
  char* scheme = nullptr;
  curl_easy_getinfo(h, CURLINFO_SCHEME, &scheme);
  const bool tlsScheme = scheme && (curl_strequal(scheme, "https") || curl_strequal(scheme, "ftps"));
  if (!session && !tlsScheme) return std::nullopt;
  char* url = nullptr;
  curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &url);
  return ServerCertificateRefusal(session, HostOf(url));
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
  // A proxy's answer to CONNECT comes before the server's TLS session exists: the header callback
  // sees only the answers of the servers themselves.
  curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(h, CURLOPT_PREREQDATA, this);
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &WebRequest::OnPrerequest);
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
  answerStarts_ = true;
  lastResult_ = h ? curl_easy_perform(h) : CURLE_FAILED_INIT;
  if (serverRefused_) {
    lastResult_ = CURLE_PEER_FAILED_VERIFICATION;
    return acceptedStatus_;
  }
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
    return self->TakeHeaderLine(data, length) ? length : 0;
  } catch (...) {
    return 0;  // never let an exception cross the library; a short count fails the transfer
  }
}

int WebRequest::OnPrerequest(void* user, char*, char*, int, int) {
  auto* self = static_cast<WebRequest*>(user);
  try {
    return self && self->ServerAccepted() ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
  } catch (...) {
    return CURL_PREREQFUNC_ABORT;  // never let an exception cross the library
  }
}

bool WebRequest::TakeHeaderLine(const char* data, std::size_t length) {
  // An answer's header block ends with an empty line; whatever comes next starts another answer: a
  // redirect target's, or an FTP server's greeting, which comes before the login and so before the
  // check ahead of the request. An HTTP server has passed that check already; this one holds should
  // it ever be stepped around.
  const bool starts = answerStarts_;
  answerStarts_ = length >= 1 && length <= 2 && (data[0] == '\n' || data[0] == '\r');
  if (!starts) return true;
  if (!ServerAccepted()) return false;
  // "HTTP/1.1 301 Moved Permanently", in any case: the code follows the first space.
  if (length >= 5 && curl_strnequal(data, "http/", 5)) {
    const std::string statusLine(data, length);
    const std::size_t space = statusLine.find(' ');
    acceptedStatus_ = space == std::string::npos ? 0 : std::atoi(statusLine.c_str() + space + 1);
  }
  return true;
}

bool WebRequest::ServerAccepted() {
  if (const std::optional<std::wstring> refusal = ServerRefusal(Easy(handle_))) {
    LogInfo(L"server certificate refused - " + *refusal);
    serverRefused_ = true;
    return false;
  }
  return true;
}

}  // namespace brimo
