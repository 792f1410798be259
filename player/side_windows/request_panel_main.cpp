// kirasol-request-panel: frmRequest in its own process, started by the player
// on the first request (request_panel_process.h).
//
//   kirasol-request-panel URL
//
// Shows the panel loading URL. Reads lines on standard input: "raise" brings
// the panel forward, "close" closes it; end of input (the player closed the
// pipe, or died) closes it too. The program ends when the panel closes.

#include "common/product_icon.h"
#include "player/side_windows/request_panel.h"
#include "player/side_windows/web_engine_setup.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
// The web engine's own Chromium code frees some objects through a base type
// of another size and keeps process-lifetime allocations it never frees;
// neither is ours to mend.
extern "C" const char *__asan_default_options() { return "new_delete_type_mismatch=0:detect_leaks=0"; }
#endif

namespace {

// Splits standard input into commands for the panel.
class PlayerPipe final : public QObject {
 public:
  explicit PlayerPipe(kirasol::side::RequestPanel *panel)
      : panel_(panel), notifier_(STDIN_FILENO, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { readInput(); });
  }

 private:
  void readInput() {
    char chunk[256];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
      // The player is gone or let go of the panel.
      notifier_.setEnabled(false);
      closePanel();
      return;
    }
    pending_.append(chunk, int(n));
    for (qsizetype end; (end = pending_.indexOf('\n')) >= 0; pending_.remove(0, end + 1)) {
      const QByteArray line = pending_.left(end).trimmed();
      if (line == "raise" && panel_) {
        panel_->showNormal();
        panel_->raise();
        panel_->activateWindow();
      } else if (line == "close") {
        closePanel();
      }
    }
  }
  void closePanel() {
    if (panel_) {
      panel_->close();
    } else {
      QCoreApplication::quit();
    }
  }

  QPointer<kirasol::side::RequestPanel> panel_;
  QSocketNotifier notifier_;
  QByteArray pending_;
};

}  // namespace

int main(int argc, char **argv) {
  kirasol::side::prepareWebEngine();
  QApplication app(argc, argv);
  // The same name as the player: the web engine keeps its data under it.
  QApplication::setApplicationName(QStringLiteral("Kirasol Radio"));
  QApplication::setWindowIcon(kirasol::productIcon());
  const QStringList args = QApplication::arguments();
  const QUrl page = args.size() == 2 ? QUrl(args[1]) : QUrl();
  if (!page.isValid() || page.isRelative()) {
    std::fprintf(stderr, "usage: kirasol-request-panel URL (an absolute address)\n");
    return 2;
  }

  auto *panel = new kirasol::side::RequestPanel(page);  // deletes itself on close
  PlayerPipe pipe(panel);
  panel->show();
  panel->raise();
  panel->activateWindow();
  return QApplication::exec();
}
