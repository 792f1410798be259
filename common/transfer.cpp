#include "common/transfer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <deque>
#include <utility>

namespace kirasol {

namespace {

// How much Qt may hold for us before the connection is throttled; we read
// everything as it arrives, so this bounds the memory of a transfer.
constexpr qint64 kReadBuffer = 64 * 1024;

QString bytesText(qint64 bytes) {
  if (bytes >= (qint64(1) << 20) && bytes % (qint64(1) << 20) == 0) return QStringLiteral("%1 MiB").arg(bytes >> 20);
  return QStringLiteral("%1 bytes").arg(bytes);
}

QString tooLargeText(qint64 limit) { return QStringLiteral("the answer is larger than %1; stopped").arg(bytesText(limit)); }

}  // namespace

FetchResult UrlFetcher::fetchToFile(const QUrl &url, const QString &path, const FetchLimits &limits) {
  FetchResult result = fetch(url);
  result.size = result.body.size();
  if (result.ok && result.body.size() > limits.maxBytes) {
    result.ok = false;
    result.errorText = tooLargeText(limits.maxBytes);
  }
  if (result.ok) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(result.body) != result.body.size() ||
        !file.flush()) {
      result.ok = false;
      result.errorText = file.errorString();
    }
  }
  if (!result.ok) QFile::remove(path);
  result.body.clear();
  return result;
}

Transfer::Transfer(std::chrono::milliseconds timeout)
    : manager_(std::make_unique<QNetworkAccessManager>()), timeout_(timeout) {}

Transfer::~Transfer() = default;

FetchResult Transfer::fetch(const QUrl &url) { return run(url, nullptr, pageLimits_); }

FetchResult Transfer::fetchToFile(const QUrl &url, const QString &path, const FetchLimits &limits) {
  if (busy_) return run(url, nullptr, limits);  // refused without touching the file
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    FetchResult result;
    result.errorText = QStringLiteral("%1 cannot be written (%2)").arg(path, file.errorString());
    return result;
  }
  FetchResult result = run(url, &file, limits);
  if (result.ok && !file.flush()) {
    result.ok = false;
    result.errorText = QStringLiteral("%1 cannot be written (%2)").arg(path, file.errorString());
  }
  file.close();
  if (!result.ok) file.remove();
  return result;
}

void Transfer::cancel() {
  if (!running_) return;
  cancelRequested_ = true;
  running_->abort();
}

FetchResult Transfer::run(const QUrl &url, QIODevice *sink, const FetchLimits &limits) {
  FetchResult result;
  if (busy_) {
    // Refused without touching lastStatus/lastError: they belong to the
    // transfer that is still running.
    result.errorText = QStringLiteral("another transfer is still running");
    return result;
  }
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty()) {
    result.errorText = QStringLiteral("not an http or https address: ") + url.toString();
    lastStatus_ = 0;
    lastError_ = result.errorText;
    return result;
  }

  busy_ = true;
  cancelRequested_ = false;
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setMaximumRedirectsAllowed(10);
  request.setTransferTimeout(int(timeout_.count()));
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  // The body is wanted byte for byte, and an uncompressed body can be checked
  // against its Content-Length.
  request.setRawHeader("Accept-Encoding", "identity");

  std::unique_ptr<QNetworkReply> reply(manager_->get(request));
  reply->setReadBufferSize(kReadBuffer);
  running_ = reply.get();
  QString stopReason;  // set when we end the transfer ourselves
  const auto stop = [&](const QString &why) {
    if (!stopReason.isEmpty()) return;
    stopReason = why;
    reply->abort();
  };
  const auto status = [&] { return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); };

  // Only a 200 answer's body is the file. fetch() keeps another status's
  // body (within the cap) for the caller to look at; a file is never
  // written from one.
  const auto take = [&] {
    while (stopReason.isEmpty() && reply->bytesAvailable() > 0) {
      const QByteArray chunk = reply->read(kReadBuffer);
      if (chunk.isEmpty()) break;
      if (result.size + chunk.size() > limits.maxBytes) {
        stop(tooLargeText(limits.maxBytes));
        break;
      }
      result.size += chunk.size();
      if (!sink) {
        result.body += chunk;
      } else if (status() != 200) {
        // Not the file; nothing more of it is wanted.
        stop(QStringLiteral("the server answered with status %1").arg(status()));
      } else if (sink->write(chunk) != chunk.size()) {
        stop(QStringLiteral("the file cannot be written (%1)").arg(sink->errorString()));
      }
    }
  };

  QEventLoop loop;
  bool finished = false;
  QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
    bool known = false;
    const qlonglong length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && status() == 200 && length > limits.maxBytes) stop(tooLargeText(limits.maxBytes));
  });
  QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, take);
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, [&] {
    take();
    finished = true;
    loop.quit();
  });

  // Deadline and minimum rate, checked twice a second. The rate is the
  // bytes received within the last window, so a server that sends a burst
  // and then a trickle is still noticed.
  QElapsedTimer clock;
  clock.start();
  std::deque<std::pair<qint64, qint64>> samples;  // (ms since start, bytes received then)
  samples.emplace_back(0, 0);
  QTimer watchdog;
  watchdog.setInterval(500);
  QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
    const qint64 now = clock.elapsed();
    if (limits.deadline.count() > 0 && now >= limits.deadline.count()) {
      stop(QStringLiteral("not complete within %1 s (%2 received); stopped")
               .arg(double(limits.deadline.count()) / 1000.0)
               .arg(bytesText(result.size)));
      return;
    }
    if (limits.minBytesPerSecond <= 0) return;
    samples.emplace_back(now, result.size);
    const qint64 window = limits.rateWindow.count();
    while (samples.size() > 1 && samples[1].first <= now - window) samples.pop_front();
    if (samples.front().first > now - window) return;  // not a whole window yet
    const qint64 received = result.size - samples.front().second;
    if (received * 1000 < limits.minBytesPerSecond * window) {
      stop(QStringLiteral("the server sent only %1 in the last %2 s, less than %3 a second; stopped")
               .arg(bytesText(received))
               .arg(double(window) / 1000.0)
               .arg(bytesText(limits.minBytesPerSecond)));
    }
  });
  if (limits.deadline.count() > 0 || limits.minBytesPerSecond > 0) watchdog.start();

  if (!reply->isFinished()) loop.exec();
  watchdog.stop();
  running_ = nullptr;
  // The loop also ends when the application is asked to quit; the transfer
  // is then abandoned.
  const bool abandoned = !finished && !reply->isFinished();
  if (abandoned) reply->abort();

  result.httpStatus = status();
  if (abandoned) {
    result.errorText = QStringLiteral("the transfer was abandoned");
  } else if (!stopReason.isEmpty()) {
    result.errorText = stopReason;
  } else if (cancelRequested_) {
    result.errorText = QStringLiteral("canceled");
    result.canceled = true;
  } else if (reply->error() == QNetworkReply::OperationCanceledError) {
    // Only the transfer timeout cancels a reply we did not abandon ourselves.
    result.errorText = QStringLiteral("no answer within %1 s").arg(double(timeout_.count()) / 1000.0);
  } else if (result.httpStatus != 0 && result.httpStatus != 200) {
    // Said plainly: Qt's text for an error status repeats the whole address.
    result.errorText = QStringLiteral("the server answered with status %1").arg(result.httpStatus);
  } else if (reply->error() != QNetworkReply::NoError) {
    result.errorText = reply->errorString();
  } else {
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    bool known = false;
    const qlonglong expected = length.toLongLong(&known);
    known = known && length.isValid();
    const bool chunked = reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
    if (known && expected != result.size) {
      result.errorText = QStringLiteral("the body was cut short (%1 of %2 bytes)").arg(result.size).arg(expected);
    } else if (!known && !chunked && limits.requireKnownLength) {
      result.errorText = QStringLiteral("the server did not say how long the file is, so a cut-short file could not "
                                        "be told from a whole one");
    } else {
      result.ok = true;
    }
  }
  lastStatus_ = result.httpStatus;
  lastError_ = result.errorText;
  busy_ = false;
  return result;
}

}  // namespace kirasol
