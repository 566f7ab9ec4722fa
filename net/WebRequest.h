// One HTTP transfer object over a libcurl easy handle: fixed options, a body sink bound to an output
// stream per request, and an optional progress hook that can abort a running transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace brimo {

// Takes body bytes; returns how many it consumed (anything short of size fails the transfer).
using WriteHandler = std::function<std::size_t(const char* data, std::size_t size)>;
// Takes the expected total and the bytes so far; a non-zero result aborts the transfer.
using ProgressHandler = std::function<int(std::int64_t total, std::int64_t now)>;

inline constexpr char kUserAgent[] = "Quarn Brimo Installer 1.0";

// The library's receive buffer (its default is 16 KiB): each receive call and each call of the body
// sink then moves up to this much, which is what a download at full speed needs. 512 KiB is the
// largest size the library accepts.
inline constexpr long kReceiveBufferBytes = 512 * 1024;

// A body kept in memory up to limit bytes: a body that passes it fails the transfer there, so an
// endless answer costs no more than limit.
class BoundedBody {
 public:
  explicit BoundedBody(std::size_t limit) : limit_(limit) {}
  BoundedBody(const BoundedBody&) = delete;
  BoundedBody& operator=(const BoundedBody&) = delete;

  // The sink for Perform; it refers to this object.
  WriteHandler Sink() {
    return [this](const char* data, std::size_t size) -> std::size_t {
      if (size > limit_ - text_.size()) {
        overflowed_ = true;
        return 0;
      }
      text_.append(data, size);
      return size;
    };
  }
  const std::string& text() const { return text_; }
  bool overflowed() const { return overflowed_; }

 private:
  std::size_t limit_;
  std::string text_;
  bool overflowed_ = false;
};

class WebRequest {
 public:
  WebRequest();
  ~WebRequest();
  // The handle holds this object's address for its callbacks, so it never moves.
  WebRequest(const WebRequest&) = delete;
  WebRequest& operator=(const WebRequest&) = delete;

  void SetProgressHandler(ProgressHandler handler);

  // Fetches url (complete and escaped) into out and returns the status code of the last answer
  // received, after redirects; 0 when no answer arrived. An HTTPS or FTPS server whose certificate is
  // refused receives no request and ends the transfer as a TLS failure: the status is that of the
  // redirect that led there, or 0.
  int Perform(std::string url, std::ostream& out);
  // The same, with the body handed to sink as it arrives.
  int Perform(std::string url, WriteHandler sink);

  // Whether the last transfer ran to its end: false when the body was cut short, the sink failed,
  // the progress hook aborted it or no answer arrived. A status code alone cannot tell.
  bool LastTransferComplete() const;
  // The library's text for how the last transfer ended ("No error" when it completed).
  std::string LastTransferError() const;

  // The underlying easy handle, for tests that must trust a test certificate.
  void* NativeHandle() const { return handle_; }

  // libcurl callbacks; user is the WebRequest.
  static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* user);
  static int OnProgress(void* user, std::int64_t dlTotal, std::int64_t dlNow, std::int64_t ulTotal,
                        std::int64_t ulNow);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user);
  // Runs once the connection of each request (each redirect's too) is up, before the request is sent.
  static int OnPrerequest(void* user, char* primaryIp, char* localIp, int primaryPort, int localPort);

 private:
  // Whether the server of the current connection may be taken: over TLS, it must pass the program's
  // own certificate check. A refusal is logged and ends the transfer.
  bool ServerAccepted();
  // Whether the header line may be taken; the first line of every answer checks the server again.
  bool TakeHeaderLine(const char* data, std::size_t length);

  void* handle_;
  WriteHandler writeHandler_;
  ProgressHandler progressHandler_;
  int lastResult_;
  // The status of the last answer taken in this transfer, and whether a server was refused after it.
  int acceptedStatus_ = 0;
  bool serverRefused_ = false;
  // Whether the next header line starts an answer.
  bool answerStarts_ = true;
};

}  // namespace brimo
