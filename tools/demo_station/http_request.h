#pragma once
// A bounded parser for the HTTP/1.x requests the station receives. Bytes are
// fed as they arrive; the parser says when a whole request (head and, for a
// Content-Length body, the body) is there, or why it refuses it.

#include <QByteArray>
#include <QList>
#include <QPair>

namespace kirasol::station {

struct HttpRequest {
  QByteArray method;   // as sent, e.g. "GET"
  QByteArray target;   // as sent, e.g. "/update/version.dat?x=1"
  QByteArray version;  // e.g. "HTTP/1.0"; empty for a bare "GET /"
  QList<QPair<QByteArray, QByteArray>> headers;  // names as sent, values trimmed
  QByteArray body;

  // The first header of that name (case-insensitive), or empty.
  QByteArray header(QByteArrayView name) const;
  bool hasHeader(QByteArrayView name) const;
  // The target without query string or fragment, percent-decoded.
  QByteArray path() const;
};

class HttpRequestParser {
 public:
  enum class State { Incomplete, Complete, BadRequest, TooLarge };

  explicit HttpRequestParser(qsizetype maxHead = 16 * 1024, qsizetype maxBody = 64 * 1024)
      : maxHead_(maxHead), maxBody_(maxBody) {}

  // Adds bytes; once the state is not Incomplete further bytes are ignored.
  State feed(QByteArrayView bytes);
  State state() const { return state_; }
  const HttpRequest &request() const { return request_; }

 private:
  State parseHead(QByteArrayView head);

  qsizetype maxHead_;
  qsizetype maxBody_;
  QByteArray buffer_;
  bool headDone_ = false;
  qsizetype bodyLength_ = 0;
  State state_ = State::Incomplete;
  HttpRequest request_;
};

}  // namespace kirasol::station
