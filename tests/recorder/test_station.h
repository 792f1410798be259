#pragma once
// A small scripted ICY server on 127.0.0.1 for recorder tests: it keeps the
// request bytes it receives, answers a complete request with a fixed
// response, and sends whatever the test hands it afterwards.

#include <QByteArray>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

namespace kirasol::test {

class TestStation {
 public:
  explicit TestStation(QByteArray response) : response_(std::move(response)) {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket *socket = server_.nextPendingConnection()) {
        ++connections_;
        client_ = socket;
        request_.clear();
        answered_ = false;
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          if (socket != client_) return;
          request_ += socket->readAll();
          if (!answered_ && request_.contains("\r\n\r\n")) {
            answered_ = true;
            socket->write(response_);
          }
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
          if (socket == client_) ++disconnects_;
        });
      }
    });
  }

  ~TestStation() {
    // The client sockets die with the server; none of their signals may
    // reach this half-destroyed station.
    for (QTcpSocket *socket : server_.findChildren<QTcpSocket *>()) socket->disconnect();
  }
  TestStation(const TestStation &) = delete;
  TestStation &operator=(const TestStation &) = delete;

  quint16 port() const { return server_.serverPort(); }
  const QByteArray &request() const { return request_; }
  bool answered() const { return answered_; }
  int connections() const { return connections_; }
  int disconnects() const { return disconnects_; }
  bool clientConnected() const { return client_ && client_->state() == QAbstractSocket::ConnectedState; }

  // The answer for the next clients.
  void setResponse(QByteArray response) { response_ = std::move(response); }
  // Sends bytes to the latest client (after the response).
  void send(const QByteArray &bytes) {
    if (client_) client_->write(bytes);
  }
  void closeClient() {
    if (client_) client_->disconnectFromHost();
  }

 private:
  QTcpServer server_;
  QByteArray response_;
  QPointer<QTcpSocket> client_;
  QByteArray request_;
  bool answered_ = false;
  int connections_ = 0;
  int disconnects_ = 0;
};

}  // namespace kirasol::test
