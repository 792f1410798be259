#include "http_request.h"

#include <QByteArrayList>

namespace kirasol::station {

QByteArray HttpRequest::header(QByteArrayView name) const {
  for (const auto &h : headers)
    if (h.first.compare(name, Qt::CaseInsensitive) == 0) return h.second;
  return {};
}

bool HttpRequest::hasHeader(QByteArrayView name) const {
  for (const auto &h : headers)
    if (h.first.compare(name, Qt::CaseInsensitive) == 0) return true;
  return false;
}

QByteArray HttpRequest::path() const {
  QByteArray p = target;
  const qsizetype cut = p.indexOf('?');
  if (cut >= 0) p.truncate(cut);
  const qsizetype hash = p.indexOf('#');
  if (hash >= 0) p.truncate(hash);
  return QByteArray::fromPercentEncoding(p);
}

HttpRequestParser::State HttpRequestParser::feed(QByteArrayView bytes) {
  if (state_ != State::Incomplete) return state_;
  buffer_.append(bytes);
  if (!headDone_) {
    // Clients end the head with CR LF CR LF; a bare LF LF is accepted too.
    qsizetype end = buffer_.indexOf("\r\n\r\n");
    qsizetype skip = 4;
    const qsizetype lf = buffer_.indexOf("\n\n");
    if (lf >= 0 && (end < 0 || lf < end)) {
      end = lf;
      skip = 2;
    }
    if (end < 0) {
      // A head of the full size may be followed by the first three bytes of
      // its CR LF CR LF; refusing those would make the verdict depend on how
      // the request was cut into reads.
      if (buffer_.size() > maxHead_ + 3) state_ = State::TooLarge;
      return state_;
    }
    if (end > maxHead_) return state_ = State::TooLarge;
    state_ = parseHead(QByteArrayView(buffer_).first(end));
    if (state_ != State::Incomplete) return state_;
    buffer_.remove(0, end + skip);
    headDone_ = true;
  }
  if (buffer_.size() >= bodyLength_) {
    request_.body = buffer_.left(bodyLength_);
    buffer_.clear();
    state_ = State::Complete;
  }
  return state_;
}

HttpRequestParser::State HttpRequestParser::parseHead(QByteArrayView head) {
  QByteArrayList lines = head.toByteArray().split('\n');
  for (QByteArray &line : lines)
    if (line.endsWith('\r')) line.chop(1);
  const QByteArrayList parts = lines.value(0).simplified().split(' ');
  if (parts.size() < 2 || parts.size() > 3 || parts[0].isEmpty() || parts[1].isEmpty()) return State::BadRequest;
  for (char c : parts[0])
    if (c < 'A' || c > 'Z') return State::BadRequest;
  request_.method = parts[0];
  request_.target = parts[1];
  request_.version = parts.value(2);
  if (!request_.version.isEmpty() && !request_.version.startsWith("HTTP/")) return State::BadRequest;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray &line = lines[i];
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) return State::BadRequest;
    request_.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
  }
  if (request_.hasHeader("Transfer-Encoding")) return State::BadRequest;  // only Content-Length bodies
  if (request_.hasHeader("Content-Length")) {
    bool ok = false;
    const qlonglong length = request_.header("Content-Length").toLongLong(&ok);
    if (!ok || length < 0) return State::BadRequest;
    if (length > maxBody_) return State::TooLarge;
    bodyLength_ = qsizetype(length);
  }
  return State::Incomplete;
}

}  // namespace kirasol::station
