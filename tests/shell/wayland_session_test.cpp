// The real player as a Wayland client of weston's headless backend: it plays
// the demo station (driven over its media-key interface, as nobody can click
// there) with its skin cut to shape, and asks nothing Wayland refuses. Needs
// weston, the Qt Wayland plugin, the sound server scripts/test starts and a
// session bus (dbus-run-session).

#include "player/mpris/mpris_service.h"

#include "support/test_support.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QImage>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }

namespace kirasol {
namespace {

using namespace std::chrono_literals;

QVariant playerProperty(const QString &name) {
  auto message = QDBusMessage::createMethodCall(QString::fromLatin1(mpris::kServiceName),
                                                QString::fromLatin1(mpris::kObjectPath),
                                                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  message.setArguments({QStringLiteral("org.mpris.MediaPlayer2.Player"), name});
  const QVariant v =
      QDBusConnection::sessionBus().call(message).arguments().value(0).value<QDBusVariant>().variant();
  return v.canConvert<QDBusArgument>() ? QVariant(qdbus_cast<QVariantMap>(v.value<QDBusArgument>())) : v;
}

TEST(WaylandSession, PlaysTheDemoStationUnderHeadlessWestonCutToShape) {
  if (QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty() ||
      !QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so"))
    GTEST_SKIP() << "needs weston and qt6-wayland";
  if (!std::getenv("PULSE_RUNTIME_PATH")) GTEST_SKIP() << "needs the sound server that scripts/test starts";
  test::DemoStation station;
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();

  // A weston of its own, its socket in a private runtime folder; --debug
  // offers its screenshooter, pixman draws without a GPU.
  QTemporaryDir runtime, folder;
  QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", runtime.path());
  env.insert("WAYLAND_DISPLAY", "kirasol-test");
  env.insert("QT_QPA_PLATFORM", "wayland");
  env.remove("DISPLAY");  // no X server to fall back to
  env.insert("XDG_CONFIG_HOME", folder.filePath("config"));
  QProcess weston, player;  // killed in reverse order when the test ends
  weston.setProcessEnvironment(env);
  weston.setProcessChannelMode(QProcess::MergedChannels);
  weston.start("weston", {"--backend=headless-backend.so", "--socket=kirasol-test", "--idle-time=0", "--width=800",
                          "--height=600", "--use-pixman", "--debug"});
  ASSERT_TRUE(test::waitUntil([&] { return QFileInfo::exists(runtime.filePath("kirasol-test")); }, 15s))
      << weston.readAll().toStdString();

  // The player from a folder of its own (its own instance lock).
  const QDir from(test::programDir());
  for (const QString &file : from.entryList({"*.png", "*.wav", "*.dat", "*.txt", "kirasol-radio"}, QDir::Files))
    QFile::copy(from.filePath(file), folder.filePath(file));
  player.setProcessEnvironment(env);
  player.setWorkingDirectory(folder.path());
  player.start(folder.filePath("kirasol-radio"),
               {"--update-url", QStringLiteral("http://127.0.0.1:%1/update/").arg(test::freePort()), "--station",
                station.streamUrl()});
  player.waitForStarted(10000);

  // The splash ends (without fading: Wayland has no window opacity) and the
  // main window registers its media keys.
  ASSERT_TRUE(test::waitUntil(
      [&] {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(mpris::kServiceName) ||
               player.state() != QProcess::Running;
      },
      30s));
  ASSERT_EQ(player.state(), QProcess::Running) << player.readAllStandardError().toStdString();
  auto play = QDBusMessage::createMethodCall(mpris::kServiceName, mpris::kObjectPath,
                                             "org.mpris.MediaPlayer2.Player", "Play");
  QDBusConnection::sessionBus().call(play);
  EXPECT_TRUE(test::waitUntil(
      [&] { return playerProperty("Metadata").toMap().value("xesam:album") == "Kirasol Demo Station"; }, 30s));
  EXPECT_EQ(playerProperty("PlaybackStatus"), "Playing");

  // The picture follows the shape: the skin's logo corner (no control covers
  // it) is on the screen, and the cut-out corner of the window shows the
  // desktop behind it, not the key colour.
  QProcess shooter;
  shooter.setProcessEnvironment(env);
  shooter.setWorkingDirectory(runtime.path());
  shooter.start("weston-screenshooter", QStringList{});
  ASSERT_TRUE(shooter.waitForFinished(10000));
  const QStringList shots = QDir(runtime.path()).entryList({"*.png"}, QDir::Files);
  ASSERT_FALSE(shots.isEmpty()) << weston.readAll().toStdString();
  const QImage screen = QImage(runtime.filePath(shots.first())).convertToFormat(QImage::Format_RGB32);
  const QImage skin = QImage(test::programPath("skin.png")).convertToFormat(QImage::Format_RGB32);
  const QRect patch(12, 14, 24, 16);
  QPoint at(-1, -1);
  for (int y = 1; at.x() < 0 && y + skin.height() <= screen.height(); ++y)
    for (int x = 1; at.x() < 0 && x + skin.width() <= screen.width(); ++x) {
      bool same = true;
      for (int py = patch.top(); same && py <= patch.bottom(); ++py)
        for (int px = patch.left(); same && px <= patch.right(); ++px)
          same = screen.pixel(x + px, y + py) == skin.pixel(px, py);
      if (same) at = QPoint(x, y);
    }
  ASSERT_GE(at.x(), 0) << "the skin is not on the screen";
  ASSERT_EQ(QColor(skin.pixel(0, 0)), QColor(0, 255, 255));
  EXPECT_EQ(QColor(screen.pixel(at)), QColor(screen.pixel(at - QPoint(1, 1)))) << "the corner is not see-through";

  // What Qt prints where a window asks Wayland for what it does not allow.
  const QString errors = QString::fromUtf8(player.readAllStandardError());
  for (const char *refusal : {"does not support", "opacity", "requestActivate"})
    EXPECT_FALSE(errors.contains(QLatin1String(refusal))) << errors.toStdString();
}

}  // namespace
}  // namespace kirasol
