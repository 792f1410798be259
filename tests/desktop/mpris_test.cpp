// Media keys end to end: the player (real engine, real main window) on a
// private session bus (the test runs under dbus-run-session), driven the way
// playerctl or a desktop's media widget drives it, with the sound taken from
// the sound server's monitor of this process's own output stream.

#include "player/mpris/mpris_service.h"
#include "player/playback/audio_library.h"
#include "player/shell/player_shell.h"

#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "controls/slider/slider.h"

// As in the other suites that play through the sound server: its ALSA
// plugin keeps allocations the leak checker cannot attribute.
extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }

namespace kirasol {
namespace {

using namespace std::chrono_literals;

class NoLauncher final : public ProgramLauncher {
 public:
  bool startProgram(const QString &, const QStringList &) override { return false; }
  bool openUrl(const QString &) override { return false; }
};

const QString kPath = QString::fromLatin1(mpris::kObjectPath);
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// A remote control on its own connection, as another program would be. Calls
// are asynchronous: the player answers from this same event loop.
class Remote : public QObject {
  Q_OBJECT
 public:
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("remote"));
  std::vector<QVariantMap> changes;

  Remote() {
    bus.connect(QString::fromLatin1(mpris::kServiceName), kPath, kProperties, QStringLiteral("PropertiesChanged"),
                this, SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
  }
  ~Remote() override { QDBusConnection::disconnectFromBus(QStringLiteral("remote")); }

  QDBusMessage call(const QString &interface, const QString &method, const QVariantList &args = {}) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QString::fromLatin1(mpris::kServiceName), kPath, interface, method);
    message.setArguments(args);
    QDBusPendingCall pending = bus.asyncCall(message);
    test::waitUntil([&] { return pending.isFinished(); }, 10s);
    return pending.reply();
  }
  QVariant property(const QString &interface, const QString &name) {
    const QDBusMessage reply = call(kProperties, QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage) return {};
    const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
    if (value.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value;
  }
  QVariantMap metadata() { return property(kPlayer, QStringLiteral("Metadata")).toMap(); }

 public slots:
  void propertiesChanged(const QString &, const QVariantMap &changed, const QStringList &) {
    changes.push_back(changed);
  }
};

// The sink input (output stream) this process plays into.
QString ownSinkInput() {
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
  pactl.waitForFinished(5000);
  const QString listing = QString::fromUtf8(pactl.readAllStandardOutput());
  const QString pid = QStringLiteral("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid());
  for (const QString &block : listing.split(QStringLiteral("Sink Input #"))) {
    if (block.contains(pid)) return block.section(u'\n', 0, 0).trimmed();
  }
  return {};
}

// A second of what that stream sends to the sound server, mono 16-bit.
std::vector<int16_t> listen(const QString &sinkInput) {
  QProcess parec;
  parec.start(QStringLiteral("parec"), {QStringLiteral("--monitor-stream=") + sinkInput, QStringLiteral("--raw"),
                                        QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                                        QStringLiteral("--rate=44100"), QStringLiteral("--latency-msec=50")});
  QByteArray bytes;
  // The monitor takes a moment to start delivering; keep the newest second.
  test::waitUntil(
      [&] {
        bytes += parec.readAllStandardOutput();
        return false;
      },
      2500ms);
  parec.kill();
  parec.waitForFinished(2000);
  bytes = bytes.right(88200);
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
  return samples;
}

// The demo tracks are tones of 440, 1000 and 2500 Hz: one of them stands far
// above a frequency none of them has.
bool hearsADemoTone(const std::vector<int16_t> &samples) {
  if (samples.size() < 22050) return false;
  const double tone = std::max({test::tonePower(samples, 440, 44100), test::tonePower(samples, 1000, 44100),
                                test::tonePower(samples, 2500, 44100)});
  return tone > 1e12 && tone > 100 * test::tonePower(samples, 700, 44100);
}

TEST(Mpris, MediaKeysDriveThePlayerOnTheSessionBus) {
  if (!std::getenv("PULSE_RUNTIME_PATH")) GTEST_SKIP() << "needs the sound server that scripts/test starts";
  ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
  test::DemoStation station;
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();

  BassAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  NoLauncher launcher;
  QTemporaryDir lockDir;
  InstanceGuard guard(QStringLiteral("/test/kirasol-radio"), lockDir.path());
  std::vector<int> ends;
  PlayerShell::Options options;
  options.stationUrl = station.streamUrl();
  options.endProgram = [&](int code) { ends.push_back(code); };
  options.endPlayer = [&](int code) { ends.push_back(code); };
  options.mediaKeys = true;
  PlayerShell shell(audio, dialogs, launcher, guard, std::move(options));
  shell.showMainWindow();
  ASSERT_TRUE(shell.hasMainWindow() && ends.empty());
  FrmMain &window = shell.mainWindow();
  auto label = [&](const char *name) { return window.findChild<QLabel *>(QString::fromLatin1(name))->text(); };

  Remote remote;
  ASSERT_TRUE(remote.bus.interface()->isServiceRegistered(QString::fromLatin1(mpris::kServiceName)));
  const QString root = QStringLiteral("org.mpris.MediaPlayer2");
  EXPECT_EQ(remote.property(root, QStringLiteral("Identity")).toString(), QStringLiteral("Kirasol Radio"));
  EXPECT_EQ(remote.property(root, QStringLiteral("DesktopEntry")).toString(), QStringLiteral("kirasol-radio"));
  EXPECT_EQ(remote.property(kPlayer, QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Stopped"));
  for (const char *name : {"CanGoNext", "CanGoPrevious", "CanSeek"})
    EXPECT_FALSE(remote.property(kPlayer, QString::fromLatin1(name)).toBool()) << name;
  const QString sinkInput = ownSinkInput();
  ASSERT_FALSE(sinkInput.isEmpty()) << "no output stream of this process on the sound server";

  // PlayPause from Stopped plays; the station's title and name arrive.
  remote.call(kPlayer, QStringLiteral("PlayPause"));
  ASSERT_TRUE(test::waitUntil(
      [&] {
        return remote.metadata().value(QStringLiteral("xesam:title")) == QStringLiteral("เพลงรุ่งอรุณ (Dawn Song)");
      },
      30s))
      << label("lblName").toStdString() << " / " << label("lblSong").toStdString();
  const QVariantMap playing = remote.metadata();
  EXPECT_EQ(playing.value(QStringLiteral("xesam:artist")).toStringList(), QStringList{QStringLiteral("Kirasol Ensemble")});
  EXPECT_EQ(playing.value(QStringLiteral("xesam:album")).toString(), QStringLiteral("Kirasol Demo Station"));
  EXPECT_TRUE(playing.value(QStringLiteral("mpris:trackid")).canConvert<QDBusObjectPath>());
  EXPECT_EQ(remote.property(kPlayer, QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
  EXPECT_TRUE(hearsADemoTone(listen(sinkInput))) << "no demo tone from the player's stream";

  // Volume from the bus moves the slider; the slider's move is announced.
  remote.call(kProperties, QStringLiteral("Set"),
              {kPlayer, QStringLiteral("Volume"), QVariant::fromValue(QDBusVariant(0.3))});
  auto *slider = window.findChild<Slider *>(QStringLiteral("sldVol"));
  EXPECT_EQ(slider->value(), 30);
  EXPECT_EQ(label("lblVolume"), QStringLiteral("(30%)"));
  QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() - 3, slider->height() / 2));
  ASSERT_NE(slider->value(), 30);
  ASSERT_TRUE(test::waitUntil(
      [&] {
        return !remote.changes.empty() && remote.changes.back().contains(QStringLiteral("Volume")) &&
               qFuzzyCompare(remote.changes.back().value(QStringLiteral("Volume")).toDouble(), slider->value() / 100.0);
      },
      5s))
      << "slider at " << slider->value();

  // Stop stops the sound, and says so.
  remote.changes.clear();
  remote.call(kPlayer, QStringLiteral("Stop"));
  ASSERT_TRUE(test::waitUntil(
      [&] {
        return std::any_of(remote.changes.begin(), remote.changes.end(), [](const QVariantMap &c) {
          return c.value(QStringLiteral("PlaybackStatus")) == QStringLiteral("Stopped");
        });
      },
      5s));
  EXPECT_FALSE(hearsADemoTone(listen(sinkInput))) << "still sounding after Stop";
  EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
}  // namespace kirasol

#include "mpris_test.moc"
