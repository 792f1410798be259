#pragma once
// Fetching a URL as bytes, synchronously, on the UI thread.
//
// fetch() runs a local event loop until the reply is complete, so window
// events (repaints, clicks) keep being processed while it waits. A fetch
// started while another is still running is refused at once (busy() is true
// in between); callers that may be re-entered check busy() first.
//
// A fetch counts as successful only when the server answered 200 and the
// whole body arrived: a refused or dropped connection, another status, a
// body shorter than its Content-Length and a timeout are all failures, with
// the HTTP status (0 when there was no answer) and an error text kept for
// the caller. Redirects are followed (never from https to http); https uses
// the system's certificate store through QSslConfiguration's defaults.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <chrono>
#include <memory>

class QNetworkAccessManager;

namespace kirasol {

struct FetchResult {
  bool ok = false;
  int httpStatus = 0;   // the final response's status; 0 when none arrived
  QString errorText;    // empty when ok
  QByteArray body;      // the whole body when ok; whatever arrived otherwise
};

// The seam through which update code fetches; tests may substitute it.
class UrlFetcher {
 public:
  virtual ~UrlFetcher() = default;
  virtual bool busy() const = 0;
  virtual FetchResult fetch(const QUrl &url) = 0;
};

class Transfer final : public UrlFetcher {
 public:
  // `timeout` limits how long the transfer may stall without receiving
  // anything (connecting included), not the length of a whole download.
  explicit Transfer(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  ~Transfer() override;
  Transfer(const Transfer &) = delete;
  Transfer &operator=(const Transfer &) = delete;

  bool busy() const override { return busy_; }
  FetchResult fetch(const QUrl &url) override;

  // The outcome of the last completed fetch.
  int lastStatus() const { return lastStatus_; }
  QString lastError() const { return lastError_; }

 private:
  std::unique_ptr<QNetworkAccessManager> manager_;
  std::chrono::milliseconds timeout_;
  bool busy_ = false;
  int lastStatus_ = 0;
  QString lastError_;
};

}  // namespace kirasol
