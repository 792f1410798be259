// The player as a desktop program: what it remembers, its command line
// without a display too, local playlists, and Thai dialog buttons.

#include "common/thai_button_texts.h"
#include "player/settings/player_settings.h"
#include "player/shell/command_line.h"

#include "support/test_support.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace kirasol {
namespace {

TEST(PlayerSettings, FirstRunHasNothingAndWhatTheListenerChangedIsThereNextRun) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("kirasol-radio/kirasol-radio.conf"));
  const QStringList fields{QStringLiteral("txtServer"), QStringLiteral("chkFilebysong")};
  auto run = [&](auto &&use) {  // one start of the player: its recorder window and settings
    PlayerSettings settings(file);
    QWidget recorder;
    recorder.setObjectName(QStringLiteral("frmReccord"));
    auto *server = new QLineEdit(QStringLiteral("127.0.0.1"), &recorder);
    auto *bySong = new QCheckBox(&recorder);
    server->setObjectName(fields[0]);
    bySong->setObjectName(fields[1]);
    rememberFields(recorder, settings, fields);
    use(settings, *server, *bySong);
  };
  run([](PlayerSettings &s, QLineEdit &server, QCheckBox &bySong) {
    EXPECT_FALSE(s.volume() || s.windowPosition() || s.onTop() || bySong.isChecked());
    EXPECT_EQ(server.text(), QStringLiteral("127.0.0.1"));
    s.setVolume(30);
    s.setWindowPosition({40, 60});
    s.setOnTop(true);
    server.selectAll();
    QTest::keyClicks(&server, QStringLiteral("radio.example.org/"));
    QKeyEvent thai(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("สถานี"));  // as an input method types
    QCoreApplication::sendEvent(&server, &thai);
    bySong.click();
  });
  run([](PlayerSettings &s, QLineEdit &server, QCheckBox &bySong) {
    EXPECT_EQ(s.volume(), 30);
    EXPECT_EQ(s.windowPosition(), QPoint(40, 60));
    EXPECT_TRUE(s.onTop());
    EXPECT_EQ(server.text(), QStringLiteral("radio.example.org/สถานี"));
    EXPECT_TRUE(bySong.isChecked());
  });
  // Hand-edited nonsense reads as never set.
  ASSERT_TRUE(test::writeFile(file, "[player]\nvolume=250\n"));
  EXPECT_FALSE(PlayerSettings(file).volume());
}

TEST(CommandLine, HelpAndVersionWorkWithoutADisplay) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
  for (const QString option : {"--version", "--help"}) {
    QProcess player;
    player.setProcessEnvironment(env);
    player.start(test::programPath(QStringLiteral("kirasol-radio")), {option});
    ASSERT_TRUE(player.waitForFinished(20000));
    EXPECT_EQ(player.exitStatus() == QProcess::NormalExit ? player.exitCode() : -1, 0) << option.toStdString();
    const QString out = QString::fromUtf8(player.readAllStandardOutput());
    EXPECT_TRUE(out == "Kirasol Radio 1.1\n" || (option == "--help" && out.contains("--station URL"))) << out.toStdString();
  }
}

// What a browser or file manager hands the player: a stream address, or a
// local playlist to be read for its first stream.
TEST(CommandLine, StationArgumentsAndLocalPlaylists) {
  QTemporaryDir dir;
  ASSERT_TRUE(test::writeFile(dir.filePath(QStringLiteral("station.pls")),
                              "[playlist]\nNumberOfEntries=2\nFile1=relative/stream\r\nFile2=http://radio.example.org:8620/\r\n"));
  ASSERT_TRUE(test::writeFile(dir.filePath(QStringLiteral("station.m3u")),
                              "#EXTM3U\n#EXTINF:-1,Kirasol\nhttps://radio.example.org/live\n"));
  ASSERT_TRUE(test::writeFile(dir.filePath(QStringLiteral("none.m3u")), "#EXTM3U\nsong.mp3\n"));
  ASSERT_TRUE(test::writeFile(dir.filePath(QStringLiteral("bom.pls")),
                              "\xEF\xBB\xBF[playlist]\r\nFile1=http://bom.example.org/\r\n"));
  ASSERT_TRUE(test::writeFile(dir.filePath(QStringLiteral("mount.xspf")),
                              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist xmlns=\"http://xspf.org/ns/0/\" "
                              "version=\"1\"><trackList><track><location>http://ice.example.org:8000/live?a=1&amp;b=2"
                              "</location></track></trackList></playlist>\n"));
  const QString fileUrl = QUrl::fromLocalFile(dir.filePath(QStringLiteral("station.m3u"))).toString();

  const struct {
    QString argument;
    QString station;  // empty: refused with a message
  } cases[] = {
      {QStringLiteral("http://127.0.0.1:8620/"), QStringLiteral("http://127.0.0.1:8620/")},
      {QStringLiteral("https://radio.example.org/listen.pls"), QStringLiteral("https://radio.example.org/listen.pls")},
      {QStringLiteral("station.pls"), QStringLiteral("http://radio.example.org:8620/")},
      {fileUrl, QStringLiteral("https://radio.example.org/live")},
      {QStringLiteral("none.m3u"), {}},
      {QStringLiteral("bom.pls"), QStringLiteral("http://bom.example.org/")},
      {QStringLiteral("mount.xspf"), QStringLiteral("http://ice.example.org:8000/live?a=1&b=2")},
      {QStringLiteral("missing.pls"), {}},
      {QStringLiteral("ftp://radio.example.org/x.pls"), {}},
  };
  for (const auto &c : cases) {
    QString error;
    const std::optional<QString> station = stationFromArgument(c.argument, dir.path(), error);
    if (c.station.isEmpty()) {
      EXPECT_FALSE(station) << c.argument.toStdString();
      EXPECT_FALSE(error.isEmpty()) << c.argument.toStdString();
    } else {
      EXPECT_EQ(station.value_or(QStringLiteral("(refused: %1)").arg(error)), c.station) << c.argument.toStdString();
    }
  }
}

TEST(ThaiButtonTexts, StandardButtonsOfABoxAreThai) {
  installThaiButtonTexts();
  QMessageBox box(QMessageBox::Question, {}, {}, QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text() + box.button(QMessageBox::No)->text() +
                box.button(QMessageBox::Ok)->text(),
            QStringLiteral("ใช่ไม่ใช่ตกลง"));
}

}  // namespace
}  // namespace kirasol
