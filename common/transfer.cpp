#include "common/transfer.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace kirasol {

Transfer::Transfer(std::chrono::milliseconds timeout)
    : manager_(std::make_unique<QNetworkAccessManager>()), timeout_(timeout) {}

Transfer::~Transfer() = default;

FetchResult Transfer::fetch(const QUrl &url) {
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
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setMaximumRedirectsAllowed(10);
  request.setTransferTimeout(int(timeout_.count()));
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  // The body is wanted byte for byte, and an uncompressed body can be checked
  // against its Content-Length.
  request.setRawHeader("Accept-Encoding", "identity");

  std::unique_ptr<QNetworkReply> reply(manager_->get(request));
  bool finished = false;
  QEventLoop loop;
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, [&] {
    finished = true;
    loop.quit();
  });
  if (!reply->isFinished()) loop.exec();
  // The loop also ends when the application is asked to quit; the transfer
  // is then abandoned.
  const bool abandoned = !finished && !reply->isFinished();
  if (abandoned) reply->abort();

  result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  result.body = reply->readAll();
  if (abandoned) {
    result.errorText = QStringLiteral("the transfer was abandoned");
  } else if (reply->error() == QNetworkReply::OperationCanceledError) {
    // Only the transfer timeout cancels a reply we did not abandon ourselves.
    result.errorText = QStringLiteral("no answer within %1 s").arg(double(timeout_.count()) / 1000.0);
  } else if (reply->error() != QNetworkReply::NoError) {
    result.errorText = reply->errorString();
  } else if (result.httpStatus != 200) {
    result.errorText = QStringLiteral("the server answered with status %1").arg(result.httpStatus);
  } else {
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    bool known = false;
    const qlonglong expected = length.toLongLong(&known);
    if (length.isValid() && known && expected != result.body.size()) {
      result.errorText = QStringLiteral("the body was cut short (%1 of %2 bytes)")
                             .arg(result.body.size())
                             .arg(expected);
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
