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
//
// Every transfer is bounded, because the server may be hostile: a body
// larger than its kind's cap is stopped as soon as it passes the cap (or at
// once when its Content-Length says so), and a deadline or a minimum rate
// ends a server that trickles. fetch() keeps the body in memory and is meant
// for pages and small text files (1 MiB by default); fetchToFile() streams a
// file's body to disk, so memory stays flat whatever its size.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <chrono>
#include <memory>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;

namespace kirasol {

// A page or a version file: far below this.
inline constexpr qint64 kMaxPageBytes = qint64(1) << 20;

struct FetchLimits {
  qint64 maxBytes = kMaxPageBytes;          // a longer body is refused
  std::chrono::milliseconds deadline{0};    // the whole transfer, connecting included; 0: none
  qint64 minBytesPerSecond = 0;             // averaged over `rateWindow`; 0: no minimum
  std::chrono::milliseconds rateWindow{std::chrono::seconds(30)};
  // Refuse a 200 answer that gives neither a Content-Length nor chunked
  // framing: its end is only the connection's end, so a body cut short
  // would look complete.
  bool requireKnownLength = false;

  // What fetch() uses unless told otherwise: 1 MiB within one minute.
  static FetchLimits page() {
    FetchLimits limits;
    limits.deadline = std::chrono::seconds(60);
    return limits;
  }
};

struct FetchResult {
  bool ok = false;
  int httpStatus = 0;    // the final response's status; 0 when none arrived
  QString errorText;     // empty when ok
  QByteArray body;       // fetch(): the whole body when ok; whatever arrived otherwise
  qint64 size = 0;       // bytes of the body received
  bool canceled = false; // ended by cancel()
};

// The seam through which update code fetches; tests may substitute it.
class UrlFetcher {
 public:
  virtual ~UrlFetcher() = default;
  virtual bool busy() const = 0;
  virtual FetchResult fetch(const QUrl &url) = 0;
  // Fetches into the file `path` (created or truncated). On failure the file
  // is removed. This fallback fetches into memory and writes the result.
  virtual FetchResult fetchToFile(const QUrl &url, const QString &path, const FetchLimits &limits);
  // Ends a running fetch as soon as possible; it then fails with `canceled`.
  virtual void cancel() {}
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
  FetchResult fetchToFile(const QUrl &url, const QString &path, const FetchLimits &limits) override;
  void cancel() override;

  // The limits of fetch(); FetchLimits::page() unless changed.
  void setPageLimits(const FetchLimits &limits) { pageLimits_ = limits; }
  const FetchLimits &pageLimits() const { return pageLimits_; }

  // The outcome of the last completed fetch.
  int lastStatus() const { return lastStatus_; }
  QString lastError() const { return lastError_; }

 private:
  FetchResult run(const QUrl &url, QIODevice *sink, const FetchLimits &limits);

  std::unique_ptr<QNetworkAccessManager> manager_;
  std::chrono::milliseconds timeout_;
  FetchLimits pageLimits_ = FetchLimits::page();
  bool busy_ = false;
  QNetworkReply *running_ = nullptr;
  bool cancelRequested_ = false;
  int lastStatus_ = 0;
  QString lastError_;
};

}  // namespace kirasol
