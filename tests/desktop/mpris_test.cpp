// Media keys end to end: the player (real engine and main window) on the
// private session bus of dbus-run-session, driven as playerctl drives it, with
// the sound taken from the sound server's monitor of this process's stream.

#include "controls/slider/slider.h"
#include "player/mpris/mpris_service.h"
#include "player/shell/player_shell.h"

#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

// The sound server's ALSA plugin keeps allocations the leak checker cannot
// attribute (as in the other suites that play through it).
extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }

namespace kirasol {
namespace {

using namespace std::chrono_literals;

struct NoLauncher final : ProgramLauncher {
  bool startProgram(const QString &, const QStringList &) override { return false; }
  bool openUrl(const QString &) override { return false; }
};

const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Another program's connection. Calls are asynchronous: the player answers
// from this same event loop.
class Remote : public QObject {
  Q_OBJECT
 public:
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("remote"));
  std::vector<QVariantMap> changes;  // PropertiesChanged, in order

  Remote() {
    bus.connect(mpris::kServiceName, mpris::kObjectPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                SLOT(changed(QString, QVariantMap, QStringList)));
  }
  QDBusMessage call(const QString &interface, const QString &method, const QVariantList &args = {}) {
    auto message = QDBusMessage::createMethodCall(mpris::kServiceName, mpris::kObjectPath, interface, method);
    message.setArguments(args);
    QDBusPendingCall pending = bus.asyncCall(message);
    test::waitUntil([&] { return pending.isFinished(); }, 10s);
    return pending.reply();
  }
  QVariant get(const QString &name, const QString &interface = kPlayer) {
    const QVariant v = call(kProperties, QStringLiteral("Get"), {interface, name}).arguments().value(0)
                           .value<QDBusVariant>().variant();
    return v.canConvert<QDBusArgument>() ? QVariant(qdbus_cast<QVariantMap>(v.value<QDBusArgument>())) : v;
  }
  bool announced(const QString &name, const QVariant &value) {
    return std::any_of(changes.begin(), changes.end(), [&](const QVariantMap &c) { return c.value(name) == value; });
  }

 public slots:
  void changed(const QString &, const QVariantMap &properties, const QStringList &) { changes.push_back(properties); }
};

// A second of this process's output stream, as the sound server mixes it
// (false when the process has no stream there):
// true when one of the demo tracks' tones (440, 1000, 2500 Hz) stands far
// above a frequency none of them has.
bool hearsADemoTone() {
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
  pactl.waitForFinished(5000);
  QString sinkInput;
  for (const QString &block : QString::fromUtf8(pactl.readAllStandardOutput()).split(QStringLiteral("Sink Input #")))
    if (block.contains(QStringLiteral("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid())))
      sinkInput = block.section(u'\n', 0, 0);
  if (sinkInput.isEmpty()) return false;  // a stopped player may close its stream
  QProcess parec;
  parec.start(QStringLiteral("parec"), {QStringLiteral("--monitor-stream=") + sinkInput, QStringLiteral("--raw"),
                                        QStringLiteral("--format=s16le"), QStringLiteral("--channels=1")});
  QByteArray bytes;
  test::waitUntil([&] { return (bytes += parec.readAllStandardOutput()), false; }, 2500ms);  // monitor start-up
  parec.kill();
  parec.waitForFinished();
  bytes = bytes.right(88200);
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
  if (samples.size() < 22050) return false;
  const double tone = std::max({test::tonePower(samples, 440, 44100), test::tonePower(samples, 1000, 44100),
                                test::tonePower(samples, 2500, 44100)});
  return tone > 1e12 && tone > 100 * test::tonePower(samples, 700, 44100);
}

TEST(Mpris, MediaKeysDriveThePlayerOnTheSessionBus) {
  if (!std::getenv("PULSE_RUNTIME_PATH")) GTEST_SKIP() << "needs the sound server that scripts/test starts";
  test::DemoStation station;
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();
  BassAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  NoLauncher launcher;
  QTemporaryDir lockDir;
  InstanceGuard guard(QStringLiteral("/test/kirasol-radio"), lockDir.path());
  PlayerShell::Options options;
  options.stationUrl = station.streamUrl();
  options.endProgram = options.endPlayer = [](int code) { FAIL() << "ended with " << code; };
  options.mediaKeys = true;
  PlayerShell shell(audio, dialogs, launcher, guard, std::move(options));
  shell.showMainWindow();
  auto *slider = shell.mainWindow().findChild<Slider *>(QStringLiteral("sldVol"));

  Remote remote;
  ASSERT_TRUE(remote.bus.interface()->isServiceRegistered(mpris::kServiceName)) << "not on the bus";
  EXPECT_EQ(remote.get(QStringLiteral("Identity"), QStringLiteral("org.mpris.MediaPlayer2")), "Kirasol Radio");
  EXPECT_EQ(remote.get(QStringLiteral("PlaybackStatus")), "Stopped");
  EXPECT_EQ(remote.get(QStringLiteral("CanGoNext")), false);

  remote.call(kPlayer, QStringLiteral("PlayPause"));
  ASSERT_TRUE(test::waitUntil(
      [&] { return remote.get(QStringLiteral("Metadata")).toMap().value("xesam:title") == "เพลงรุ่งอรุณ (Dawn Song)"; },
      30s))
      << shell.mainWindow().findChild<QLabel *>(QStringLiteral("lblName"))->text().toStdString();
  const QVariantMap metadata = remote.get(QStringLiteral("Metadata")).toMap();
  EXPECT_EQ(metadata.value("xesam:artist").toStringList(), QStringList{"Kirasol Ensemble"});
  EXPECT_EQ(metadata.value("xesam:album"), "Kirasol Demo Station");
  EXPECT_TRUE(metadata.value("mpris:trackid").canConvert<QDBusObjectPath>());
  EXPECT_TRUE(remote.announced(QStringLiteral("PlaybackStatus"), "Playing"));
  EXPECT_TRUE(hearsADemoTone()) << "no demo tone from the player's stream";

  // Volume from the bus moves the slider; a click on the slider is announced.
  remote.call(kProperties, QStringLiteral("Set"), {kPlayer, "Volume", QVariant::fromValue(QDBusVariant(0.3))});
  EXPECT_EQ(slider->value(), 30);
  EXPECT_EQ(shell.mainWindow().findChild<QLabel *>(QStringLiteral("lblVolume"))->text(), "(30%)");
  QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() - 3, slider->height() / 2));
  ASSERT_NE(slider->value(), 30);
  EXPECT_TRUE(test::waitUntil([&] { return remote.announced("Volume", slider->value() / 100.0); }, 5s));

  remote.call(kPlayer, QStringLiteral("Stop"));
  EXPECT_TRUE(test::waitUntil([&] { return remote.announced(QStringLiteral("PlaybackStatus"), "Stopped"); }, 5s));
  EXPECT_FALSE(hearsADemoTone()) << "still sounding after Stop";
  EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
}  // namespace kirasol

#include "mpris_test.moc"
