// Runs the recorder window offscreen for a while: tuned to a station,
// recording one file per song and relaying to whoever connects. Used by
// recorder_cpu.py to measure the CPU that recording and relaying cost.
//
//   bench_recorder_session PORT RELAY_PORT OUT_FOLDER SECONDS
//   bench_recorder_session --display-only SECONDS
//
// --display-only is the floor under that: the same window, not tuned, with
// its size and time figures changed at the pace a recording changes them
// (a 128 kbit/s station, one hand-over per gathering pause). No socket, no
// file: what it costs is what showing the figures costs.

#include "player/recorder/frm_reccord.h"
#include "player/recorder/recording_files.h"
#include "player/recorder/station_connection.h"

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
  ReportingDialogs dialogs;
  if (args.size() == 3 && args[1] == QLatin1String("--display-only")) {
    using namespace kirasol::recorder;
    frmReccord window(dialogs, 0);
    window.show();
    auto *size = window.findChild<QLabel *>("lblSize");
    auto *time = window.findChild<QLabel *>("lblTime");
    size->setEnabled(true);
    time->setEnabled(true);
    constexpr std::int32_t kBytesPerSecond = 128 * 1000 / 8;
    constexpr auto kPause = StationConnection::kGatherTime;
    std::int64_t ticks = 0;
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, &app, [&] {
      ++ticks;
      const auto elapsed = ticks * kPause;
      size->setText(sizeText(std::int32_t(kBytesPerSecond * elapsed.count() / 1000)));
      time->setText(timeText(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()));
    });
    pace.start(kPause);
    QTimer::singleShot(int(args[2].toDouble() * 1000), &app, &QApplication::quit);
    return app.exec();
  }
  if (args.size() != 5) {
    std::fprintf(stderr, "usage: %s PORT RELAY_PORT OUT_FOLDER SECONDS | --display-only SECONDS\n", argv[0]);
    return 2;
  }
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
