#include "player/side_windows/request_panel_process.h"

#include "player/side_windows/request_page.h"

#include <kirasol/build_settings.h>

namespace kirasol::side {

QUrl requestPageUrl(const QString &host) {
  return QUrl(QStringLiteral("http://") + host + QStringLiteral("/postradio/radio.php"));
}

QUrl requestPageUrl() { return requestPageUrl(QString::fromUtf8(settings::kWebHost)); }

RequestPanelProcess::RequestPanelProcess(QString program, QUrl page, std::function<void(const QString &)> failed)
    : program_(std::move(program)), page_(std::move(page)), failed_(std::move(failed)) {}

RequestPanelProcess::~RequestPanelProcess() {
  if (!isOpen()) return;
  // End of input closes the panel; give the web engine a moment to shut down
  // cleanly before it is ended the hard way.
  process_->closeWriteChannel();
  if (!process_->waitForFinished(3000)) {
    process_->kill();
    process_->waitForFinished(1000);
  }
}

void RequestPanelProcess::show() {
  if (isOpen()) {
    send("raise\n");
    return;
  }
  delete process_;
  process_ = new QProcess(this);
  // The panel's messages go where the player's go.
  process_->setProcessChannelMode(QProcess::ForwardedChannels);
  process_->start(program_, {page_.toString()});
  if (!process_->waitForStarted(5000)) {
    const QString reason = process_->errorString();
    delete process_;
    process_ = nullptr;
    if (failed_) failed_(QStringLiteral("Can't open the request panel (%1): %2").arg(program_, reason));
  }
}

void RequestPanelProcess::close() {
  if (isOpen()) send("close\n");
}

bool RequestPanelProcess::waitForClosed(int ms) {
  if (!isOpen()) return true;
  return process_->waitForFinished(ms);
}

void RequestPanelProcess::send(const char *line) {
  process_->write(line);
  process_->waitForBytesWritten(1000);
}

}  // namespace kirasol::side
