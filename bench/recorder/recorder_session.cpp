// Runs the recorder window offscreen for a while: tuned to a station,
// recording one file per song and relaying to whoever connects. Used by
// recorder_cpu.py to measure the CPU that recording and relaying cost.
//
//   bench_recorder_session PORT RELAY_PORT OUT_FOLDER SECONDS

#include "player/recorder/frm_reccord.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

// Boxes cannot be answered here; they are reported instead.
class ReportingDialogs final : public kirasol::Dialogs {
 public:
  kirasol::MessageAnswer message(QWidget *, const kirasol::MessageRequest &r) override {
    std::fprintf(stderr, "message: %s\n", qPrintable(r.text));
    return kirasol::MessageAnswer::Ok;
  }
  std::optional<QString> input(QWidget *, const QString &, const QString &, const QString &) override {
    return std::nullopt;
  }
};

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() != 5) {
    std::fprintf(stderr, "usage: %s PORT RELAY_PORT OUT_FOLDER SECONDS\n", argv[0]);
    return 2;
  }
  ReportingDialogs dialogs;
  kirasol::recorder::frmReccord window(dialogs, quint16(args[2].toUInt()));
  window.show();
  window.findChild<QLineEdit *>("txtServer")->setText(QStringLiteral("127.0.0.1"));
  window.findChild<QLineEdit *>("txtPort")->setText(args[1]);
  window.findChild<QLineEdit *>("txtOutPath")->setText(args[3]);
  window.findChild<QCheckBox *>("chkFilebysong")->setChecked(true);
  window.findChild<QPushButton *>("CmdRecord")->click();
  window.findChild<QPushButton *>("cmdTune")->click();
  QTimer::singleShot(int(args[4].toDouble() * 1000), &app, [&] {
    std::printf("radio=%s written=%d relay=%s\n", qPrintable(window.findChild<QLabel *>("lblRadio")->text()),
                window.state().lBytesWritten, qPrintable(window.findChild<QLabel *>("lblWinampStatus")->text()));
    app.quit();
  });
  return app.exec();
}
