// The player as a desktop program: what it remembers, its command line
// (without a display too), local playlists, and Thai dialog buttons.

#include "common/thai_button_texts.h"
#include "player/settings/player_settings.h"
#include "player/shell/command_line.h"

#include "support/test_support.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <string_view>

namespace kirasol {
namespace {

// A window with the recorder's remembered controls.
struct FieldsWindow {
  QWidget window;
  QLineEdit *server = new QLineEdit(QStringLiteral("127.0.0.1"), &window);
  QCheckBox *bySong = new QCheckBox(&window);
  FieldsWindow() {
    window.setObjectName(QStringLiteral("frmReccord"));
    server->setObjectName(QStringLiteral("txtServer"));
    bySong->setObjectName(QStringLiteral("chkFilebysong"));
  }
};

TEST(PlayerSettings, FirstRunHasNothingAndEveryChangeIsThereNextRun) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("kirasol-radio/kirasol-radio.conf"));
  {
    PlayerSettings first(file);
    EXPECT_FALSE(first.volume());
    EXPECT_FALSE(first.windowPosition());
    EXPECT_FALSE(first.onTop());
    FieldsWindow recorder;
    rememberFields(recorder.window, first, {QStringLiteral("txtServer"), QStringLiteral("chkFilebysong")});
    EXPECT_EQ(recorder.server->text(), QStringLiteral("127.0.0.1")) << "the default stays on a first run";
    EXPECT_FALSE(recorder.bySong->isChecked());

    first.setVolume(30);
    first.setWindowPosition({40, 60});
    first.setOnTop(true);
    recorder.server->selectAll();
    QTest::keyClicks(recorder.server, QStringLiteral("radio.example.org/"));
    QKeyEvent thai(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("สถานี"));  // as an input method types
    QCoreApplication::sendEvent(recorder.server, &thai);
    recorder.bySong->click();
  }
  PlayerSettings next(file);
  EXPECT_EQ(next.volume(), 30);
  EXPECT_EQ(next.windowPosition(), QPoint(40, 60));
  EXPECT_TRUE(next.onTop());
  FieldsWindow recorder;
  rememberFields(recorder.window, next, {QStringLiteral("txtServer"), QStringLiteral("chkFilebysong")});
  EXPECT_EQ(recorder.server->text(), QStringLiteral("radio.example.org/สถานี"));
  EXPECT_TRUE(recorder.bySong->isChecked());

  // A hand-edited file with nonsense reads as never set.
  ASSERT_TRUE(test::writeFile(file, "[player]\nvolume=loud\nposition=nowhere\n"));
  PlayerSettings edited(file);
  EXPECT_FALSE(edited.volume());
  ASSERT_TRUE(test::writeFile(file, "[player]\nvolume=250\n"));
  EXPECT_FALSE(PlayerSettings(file).volume());
}

TEST(CommandLine, StationArgumentsAndLocalPlaylists) {
  QTemporaryDir dir;
  ASSERT_TRUE(test::writeFile(dir.filePath(QStringLiteral("station.pls")),
                              "[playlist]\nNumberOfEntries=2\nFile1=relative/stream\r\nFile2=http://radio.example.org:8620/\r\n"));
  ASSERT_TRUE(test::writeFile(dir.filePath(QStringLiteral("station.m3u")),
                              "#EXTM3U\n#EXTINF:-1,Kirasol\nhttps://radio.example.org/live\n"));
  ASSERT_TRUE(test::writeFile(dir.filePath(QStringLiteral("none.m3u")), "#EXTM3U\nsong.mp3\n"));
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

TEST(CommandLine, HelpAndVersionWorkWithoutADisplay) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
  for (const char *option : {"--version", "--help"}) {
    QProcess player;
    player.setProcessEnvironment(env);
    player.start(test::programPath(QStringLiteral("kirasol-radio")), {QString::fromLatin1(option)});
    ASSERT_TRUE(player.waitForFinished(20000));
    const QString out = QString::fromUtf8(player.readAllStandardOutput());
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit) << option;
    EXPECT_EQ(player.exitCode(), 0) << option << player.readAllStandardError().toStdString();
    if (option == std::string_view("--version"))
      EXPECT_EQ(out, QStringLiteral("Kirasol Radio 1.1\n"));
    else
      EXPECT_TRUE(out.contains(QStringLiteral("--station URL"))) << out.toStdString();
  }
}

TEST(ThaiButtonTexts, StandardButtonsOfABoxAreThai) {
  installThaiButtonTexts();
  QMessageBox box(QMessageBox::Question, QStringLiteral("Kirasol Radio"), QStringLiteral("ต้องการอัพเดทหรือไม่"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QStringLiteral("ใช่"));
  EXPECT_EQ(box.button(QMessageBox::No)->text(), QStringLiteral("ไม่ใช่"));
  EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("ตกลง"));
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("ยกเลิก"));
}

}  // namespace
}  // namespace kirasol
