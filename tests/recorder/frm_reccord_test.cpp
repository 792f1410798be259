#include "player/recorder/frm_reccord.h"
#include "recorder/icy_stream_builder.h"
#include "recorder/print_qt.h"
#include "recorder/recorder_window.h"
#include "recorder/test_station.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <kirasol/build_settings.h>

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace kirasol::recorder {
namespace {

using test::readFile;
using test::TestStation;
using test::waitUntil;

QByteArray icyHeaders(int metaInt, const QByteArray &extra = "icy-name:Test FM\r\nicy-br:128\r\n") {
  return "ICY 200 OK\r\n" + extra + "icy-metaint:" + QByteArray::number(metaInt) + "\r\n\r\n";
}

QByteArray titleBlock(const QByteArray &title) { return test::metadataBlock(test::titleField(title)); }

using Window = RecorderWindow;

TEST(frmReccord, LoadsWithTheDesignedControls) {
  Window t;
  EXPECT_EQ(t.w.objectName(), QStringLiteral("frmReccord"));
  EXPECT_EQ(t.w.windowTitle(), QStringLiteral("KIRASOL RADIO RECCORD [โปรแกรมบันทึกรายการเพลง]"));
  const struct {
    const char *name, *text;
  } labels[] = {{"lblServer", "Server IP:"}, {"lblPort", "Port:"},          {"lblRadio", "Radio"},
                {"lblBitrate", "Bitrate:"},  {"lblTitle", "Title:"},        {"Label1", "บันทึกใน :"},
                {"lblFile", "File:"},        {"lblSize", "Size:"},          {"lblTime", "Time:"},
                {"lblStatus", "REC"},        {"lblWinampStatus", "สถานะโปรแกรม Winamp"}};
  for (const auto &l : labels) EXPECT_EQ(t.text(l.name), QString::fromUtf8(l.text)) << l.name;
  EXPECT_EQ(t.button("cmdTune")->text(), QStringLiteral("สถานี"));
  EXPECT_EQ(t.button("CmdRecord")->text(), QStringLiteral("บันทึก"));
  EXPECT_TRUE(t.button("CmdRecord")->isCheckable());
  EXPECT_EQ(t.control<QGroupBox>("fmeOptions")->title(), QStringLiteral("จัดการบันทึก :"));
  EXPECT_EQ(t.control<QCheckBox>("chkFilebysong")->text(), QStringLiteral("สร้างไฟล์เพลงใหม่เอง (ศิลปิน - ชื่อเพลง.mp3)"));

  Window fresh;  // before the test changed the output folder
  frmReccord untouched(fresh.dialogs, fresh.relayPort);
  EXPECT_EQ(untouched.findChild<QLineEdit *>("txtServer")->text(), QString::fromUtf8(settings::kStationServer));
  EXPECT_EQ(untouched.findChild<QLineEdit *>("txtPort")->text(), QStringLiteral("8620"));
  EXPECT_TRUE(QDir(untouched.findChild<QLineEdit *>("txtOutPath")->text()).exists());
  EXPECT_TRUE(untouched.findChild<QCheckBox *>("chkTags")->isChecked()) << "files are tagged unless switched off";

  EXPECT_FALSE(t.control("lblStatus")->isVisible());
  for (const char *name : {"lblFile", "lblSize", "lblTime"}) EXPECT_FALSE(t.control(name)->isEnabled()) << name;
  EXPECT_FALSE(t.w.relay().isListening()) << "loading connects and listens to nothing";
}

TEST(frmReccord, SendsTheExactRequestAndShowsTheStation) {
  const struct {
    const char *server;
    const char *path;
  } cases[] = {{"127.0.0.1", "/"}, {"127.0.0.1/", "/"}, {"http://127.0.0.1/live%20x$/y", "/live%20x$/y"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.server);
    TestStation station(icyHeaders(8192));
    Window t;
    t.tune(QString::fromUtf8(c.server), QString::number(station.port()));
    ASSERT_TRUE(waitUntil([&] { return station.request().contains("\r\n\r\n"); }, 5s));
    EXPECT_EQ(station.request(), QByteArray("GET ") + c.path +
                                     " HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: WinampMPEG/2.7\r\nAccept: */*\r\n"
                                     "Icy-MetaData:1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(waitUntil([&] { return t.w.state().bIcyOK; }, 5s));
    EXPECT_EQ(t.text("lblRadio"), QStringLiteral("Test FM"));
    EXPECT_EQ(t.text("lblBitrate"), QStringLiteral("Bitrate: 128 Kbps"));
    EXPECT_EQ(t.w.state().lMetaInt, 8192);
    EXPECT_EQ(t.w.state().sRequestPath, QString::fromUtf8(c.path));
  }
}

TEST(frmReccord, ResponsesThatAreNotAccepted) {
  // A plain HTTP answer (Icecast, a web server) is refused, says so and is closed.
  const struct {
    QByteArray response;
    const char *shown;
  } http[] = {{"HTTP/1.0 200 OK\r\nicy-name:Web\r\nicy-metaint:16\r\n\r\n" + QByteArray(4000, 'x'),
               "Not an ICY station: \"HTTP/1.0 200 OK\""},
              {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", "Not an ICY station: \"HTTP/1.1 404 Not Found\""}};
  for (const auto &c : http) {
    TestStation station(c.response);
    Window t;
    t.tune(QStringLiteral("127.0.0.1"), QString::number(station.port()));
    EXPECT_TRUE(waitUntil([&] { return t.text("lblRadio") == QString::fromUtf8(c.shown); }, 5s))
        << t.text("lblRadio").toStdString();
    EXPECT_FALSE(t.w.state().bIcyOK);
    EXPECT_EQ(t.text("lblBitrate"), QStringLiteral("Bitrate:"));
    EXPECT_TRUE(waitUntil([&] { return station.disconnects() == 1; }, 5s)) << "the connection is closed";
    EXPECT_EQ(station.connections(), 1) << "and not retried";
  }
  {  // a header block that never ends is given up
    TestStation station("ICY 200 OK\r\n");
    Window t;
    t.tune(QStringLiteral("127.0.0.1"), QString::number(station.port()));
    ASSERT_TRUE(waitUntil([&] { return station.answered(); }, 5s));
    for (int i = 0; i < 40; ++i) station.send("X-Filler: " + QByteArray(2000, 'f') + "\r\n");
    ASSERT_TRUE(waitUntil([&] { return t.text("lblRadio") == QStringLiteral("Error ocurred"); }, 5s));
    EXPECT_TRUE(waitUntil([&] { return station.disconnects() == 1; }, 5s)) << "the connection is closed";
    EXPECT_TRUE(t.w.state().sHeaderBuffer.isEmpty());
  }
  {
    TestStation station(icyHeaders(16, ""));
    Window t;
    ASSERT_TRUE(t.tuneTo(station));
    EXPECT_EQ(t.text("lblRadio"), QStringLiteral("unknown station"));
    EXPECT_EQ(t.text("lblBitrate"), QStringLiteral("Bitrate: unknown bitrate"));
  }
}

// A station that refuses (an Icecast 403) or is down: a player on the relay
// gets a 503 and is closed, and Record says why it cannot record and leaves
// no file, pressed after the refusal or before the tune.
TEST(frmReccord, RefusedStationIsRefusedToPlayersAndRecording) {
  TestStation forbidden("HTTP/1.0 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
  const QString shown403 = QStringLiteral("Not an ICY station: \"HTTP/1.0 403 Forbidden\"");
  const struct {
    quint16 port;
    QString shown;
    bool armedBeforeTune;
  } cases[] = {{forbidden.port(), shown403, false}, {forbidden.port(), shown403, true},
               {test::freePort(), QStringLiteral("Error ocurred"), false},
               {test::freePort(), QStringLiteral("Error ocurred"), true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.shown.toStdString() + (c.armedBeforeTune ? ", armed before the tune" : ""));
    Window t;
    t.dialogs.inputs.push_back(QStringLiteral("early.mp3"));
    if (c.armedBeforeTune) t.click("CmdRecord");
    t.tune(c.port);
    QTcpSocket player;  // waiting when the refusal comes, or arriving after it
    player.connectToHost(QHostAddress::LocalHost, t.relayPort);
    ASSERT_TRUE(player.waitForConnected(3000));
    player.write("GET / HTTP/1.0\r\nIcy-MetaData:1\r\n\r\n");
    QByteArray got;
    EXPECT_TRUE(waitUntil([&] {
      got += player.readAll();
      return player.state() == QAbstractSocket::UnconnectedState;
    }, 5s)) << "the relay closes a refused player";
    EXPECT_TRUE(got.startsWith("HTTP/1.0 503 ") && got.contains(c.shown.toUtf8())) << got.toStdString();
    EXPECT_EQ(t.text("lblRadio"), c.shown);
    EXPECT_TRUE(waitUntil([&] { return t.w.relay().isListening(); }, 3s)) << "and listens again";

    if (!c.armedBeforeTune) t.click("CmdRecord");
    EXPECT_FALSE(t.recording());
    EXPECT_TRUE(t.files().isEmpty()) << t.files().join(u',').toStdString();
    ASSERT_TRUE(waitUntil([&] { return !t.dialogs.messages.empty(); }, 3s));
    EXPECT_TRUE(t.dialogs.messages.at(0).text.startsWith(QStringLiteral("ไม่สามารถบันทึกได้")));
    EXPECT_TRUE(t.dialogs.messages.at(0).text.contains(c.shown));
  }
}

TEST(frmReccord, BadServerOrPortConnectsNothing) {
  TestStation station(icyHeaders(16));
  const struct {
    const char *server, *port;
  } cases[] = {{"", "P"}, {"http://", "P"}, {"127.0.0.1", "abc"}, {"127.0.0.1", "0"}, {"127.0.0.1", "70000"},
               {"127.0.0.1", ""}};
  for (const auto &c : cases) {
    Window t;
    const QString port = QString::fromUtf8(c.port) == QStringLiteral("P") ? QString::number(station.port())
                                                                           : QString::fromUtf8(c.port);
    t.tune(QString::fromUtf8(c.server), port);
    waitUntil([] { return false; }, 100ms);
    EXPECT_NE(t.text("lblRadio"), QStringLiteral("Radio")) << c.server << " " << c.port;
    EXPECT_NE(t.text("lblRadio"), QStringLiteral("Error ocurred"));
    EXPECT_FALSE(t.w.relay().isListening());
  }
  EXPECT_EQ(station.connections(), 0);
}

TEST(frmReccord, ConnectionStatusTexts) {
  Window t;
  const quint16 closedPort = test::freePort();
  t.tune(QStringLiteral("127.0.0.1"), QString::number(closedPort));
  EXPECT_TRUE(waitUntil([&] { return t.text("lblRadio") == QStringLiteral("Error ocurred"); }, 5s));

  // Closed before any stream was accepted: said once, not retried.
  TestStation mute("");
  t.tune(QStringLiteral("127.0.0.1"), QString::number(mute.port()));
  ASSERT_TRUE(waitUntil([&] { return mute.clientConnected(); }, 5s));
  mute.closeClient();
  EXPECT_TRUE(waitUntil([&] { return t.text("lblRadio") == QStringLiteral("Disconnected"); }, 5s));
  waitUntil([] { return false; }, 1500ms);
  EXPECT_EQ(mute.connections(), 1);

  // Closed while streaming: reopened, and the recording goes on in its file.
  TestStation station(icyHeaders(4));
  ASSERT_TRUE(t.tuneTo(station));
  t.dialogs.inputs.push_back(QStringLiteral("keep.mp3"));
  t.click("CmdRecord");
  ASSERT_TRUE(t.recording());
  station.send("abcd");
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten == 4; }, 5s));
  station.closeClient();
  ASSERT_TRUE(waitUntil([&] { return t.text("lblRadio") == QStringLiteral("Disconnected - reconnecting in 1 s..."); }, 5s));
  EXPECT_TRUE(t.recording());
  EXPECT_TRUE(t.w.relay().isListening());
  ASSERT_TRUE(waitUntil([&] { return station.connections() == 2 && t.w.state().bIcyOK; }, 5s));
  EXPECT_EQ(t.text("lblRadio"), QStringLiteral("Test FM"));
  station.send("efgh");  // the new connection starts with a run of its own
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten == 8; }, 5s));
  EXPECT_EQ(readFile(t.file("keep.mp3")), QByteArray("abcdefgh"));
  EXPECT_EQ(t.files(), QStringList{QStringLiteral("keep.mp3")});
}

TEST(frmReccord, RecordsATypedNameAndShowsProgress) {
  TestStation station(icyHeaders(8));
  Window t;
  // Cancelling the prompt opens nothing and releases the button.
  t.click("CmdRecord");
  EXPECT_FALSE(t.recording());
  ASSERT_EQ(t.dialogs.inputPrompts.size(), 1u);
  EXPECT_EQ(t.dialogs.inputPrompts.at(0), QStringLiteral("กรุณาใส่ชื่อไฟล์: "));
  t.dialogs.inputs.push_back(QString());
  t.click("CmdRecord");
  EXPECT_FALSE(t.recording());
  EXPECT_TRUE(t.files().isEmpty());

  // Pressed before tuning: the file opens at once and stays empty.
  t.dialogs.inputs.push_back(QStringLiteral("show"));
  t.click("CmdRecord");
  ASSERT_TRUE(t.recording());
  EXPECT_EQ(t.button("CmdRecord")->text(), QStringLiteral("หยุด"));
  EXPECT_TRUE(t.control("lblStatus")->isVisible());
  for (const char *name : {"lblFile", "lblSize", "lblTime"}) EXPECT_TRUE(t.control(name)->isEnabled()) << name;
  EXPECT_EQ(t.text("lblFile"), QStringLiteral("File: show"));
  EXPECT_EQ(t.files(), QStringList{QStringLiteral("show")});
  EXPECT_EQ(t.text("lblSize"), QStringLiteral("Size:"));

  // It carries on into the first tune and stays empty until audio flows.
  t.tune(QStringLiteral("127.0.0.1"), QString::number(station.port()));
  EXPECT_TRUE(t.recording());
  EXPECT_EQ(t.text("lblSize"), QStringLiteral("Size:")) << "no change before the headers";
  ASSERT_TRUE(waitUntil([&] { return t.w.state().bIcyOK; }, 5s));
  station.send("12345678");
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten == 8; }, 5s));
  EXPECT_EQ(t.text("lblSize"), QStringLiteral("Size: 0 kb."));
  EXPECT_EQ(t.text("lblTime"), QStringLiteral("Time: 0:00"));
  EXPECT_EQ(readFile(t.file("show")), QByteArray("12345678"));

  // A re-tune ends the recording: the file is closed and the button released.
  ASSERT_TRUE(t.tuneTo(station));
  EXPECT_FALSE(t.recording());
  EXPECT_TRUE(t.w.recordingPath().isEmpty());
  EXPECT_EQ(t.button("CmdRecord")->text(), QStringLiteral("บันทึก"));
  EXPECT_FALSE(t.control("lblStatus")->isVisible());
  EXPECT_EQ(t.w.state().iFileNum, 0);

  t.dialogs.inputs.push_back(QStringLiteral("show"));
  t.click("CmdRecord");
  ASSERT_TRUE(t.recording());
  EXPECT_EQ(t.text("lblFile"), QStringLiteral("File: show (2)"));
  QByteArray audio;
  QByteArray wire;
  for (int i = 0; i < 300; ++i) {
    const QByteArray run = QByteArray::number(10000000 + i).right(8);
    audio += run;
    wire += run + (i % 7 == 0 ? titleBlock("Song " + QByteArray::number(i)) : QByteArray(1, '\0'));
  }
  station.send(wire.left(1000));
  station.send(wire.mid(1000));
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten == audio.size(); }, 5s));
  EXPECT_EQ(readFile(t.file("show (2)")), audio);
  EXPECT_EQ(t.text("lblSize"), QStringLiteral("Size: 2 kb."));
  EXPECT_EQ(t.text("lblTime"), QStringLiteral("Time: 0:00"));
  EXPECT_EQ(t.text("lblTitle"), QStringLiteral("Title: 'Song 294'"));

  t.click("CmdRecord");
  EXPECT_FALSE(t.recording());
  EXPECT_EQ(t.button("CmdRecord")->text(), QStringLiteral("บันทึก"));
  EXPECT_FALSE(t.control("lblFile")->isEnabled());
  EXPECT_EQ(t.text("lblFile"), QStringLiteral("File: show (2)")) << "the last texts stay";
  EXPECT_TRUE(t.dialogs.messages.empty());
}

// Bytes that are not MP3 frames have no frames to keep whole: the cut falls
// right after the block.
TEST(frmReccord, FilePerSongCutsRightAfterEachBlock) {
  TestStation station(icyHeaders(6));
  Window t;
  t.control<QCheckBox>("chkFilebysong")->setChecked(true);
  t.click("CmdRecord");  // before any title
  ASSERT_TRUE(t.recording());
  EXPECT_EQ(t.text("lblFile"), QStringLiteral("File: .mp3"));
  EXPECT_TRUE(t.dialogs.inputPrompts.empty());
  // The first tune carries the recording on; ".mp3" gets the first song's audio.
  ASSERT_TRUE(t.tuneTo(station));
  ASSERT_TRUE(t.recording());
  const QByteArray wire = "aaaaaa" + titleBlock("A/B: live") + "bbbbbb" + titleBlock("A/B: live") + "cccccc" +
                          QByteArray(1, '\0') + "dddddd" + test::metadataBlock("StreamUrl='x';") + "ee";
  for (const char c : wire) station.send(QByteArray(1, c));  // every byte its own write
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lAudioCount == 2; }, 5s));
  EXPECT_EQ(t.files(), (QStringList{QStringLiteral("'A_B.mp3"), QStringLiteral(".mp3"),
                                     QStringLiteral("Title not Available.mp3")}));
  EXPECT_EQ(readFile(t.file(".mp3")), QByteArray("aaaaaa"));
  EXPECT_EQ(readFile(t.file("'A_B.mp3")), QByteArray("bbbbbbccccccdddddd"))
      << "the same title again, and an empty block, start no file";
  EXPECT_EQ(readFile(t.file("Title not Available.mp3")), QByteArray("ee"));
  EXPECT_EQ(t.text("lblFile"), QStringLiteral("File: Title not Available.mp3"));
}

// No icy-metaint: every byte is audio, recorded and relayed as it comes. The
// header block arrives in two reads, the second with the first audio. The
// relay port is taken by another program, which the recording does not mind.
TEST(frmReccord, StreamWithoutMetadataIsPlainAudio) {
  Window t;
  QTcpServer squatter;
  ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, t.relayPort));
  TestStation station("ICY 200 OK\r\nicy-na");
  t.tune(QStringLiteral("127.0.0.1"), QString::number(station.port()));
  ASSERT_TRUE(waitUntil([&] { return t.w.state().sHeaderBuffer.size() == 18; }, 5s));
  EXPECT_TRUE(t.text("lblWinampStatus").startsWith(QStringLiteral("Relay off"))) << t.text("lblWinampStatus").toStdString();
  t.dialogs.inputs.push_back(QStringLiteral("plain.mp3"));
  t.click("CmdRecord");
  ASSERT_TRUE(t.recording());

  const QByteArray audio = QByteArray("\0\x01\xffStreamTitle='x';", 19) + QByteArray(5000, '\0');
  station.send("me:Plain\r\n\r\n" + audio.left(100));
  ASSERT_TRUE(waitUntil([&] { return t.w.state().bIcyOK; }, 5s));
  EXPECT_EQ(t.text("lblRadio"), QStringLiteral("Plain"));
  EXPECT_EQ(t.w.state().lMetaInt, 0);
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten == 100; }, 5s)) << "audio of the accepting read";
  station.send(audio.mid(100));
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten == audio.size(); }, 5s));
  EXPECT_EQ(readFile(t.file("plain.mp3")), audio);
  EXPECT_EQ(t.text("lblTitle"), QStringLiteral("Title:"));
  EXPECT_TRUE(t.recording());
}

TEST(frmReccord, UnusableFolderStopsTheRecordingWithAMessage) {
  Window t;
  t.edit("txtOutPath")->setText(t.dir.path() + "/missing");
  t.dialogs.inputs.push_back(QStringLiteral("x.mp3"));
  t.click("CmdRecord");
  EXPECT_FALSE(t.recording());
  EXPECT_FALSE(t.control("lblStatus")->isVisible());
  ASSERT_TRUE(waitUntil([&] { return !t.dialogs.messages.empty(); }, 3s));
  EXPECT_TRUE(t.dialogs.messages.at(0).text.contains(t.dir.path() + "/missing"));
  EXPECT_EQ(t.dialogs.messages.at(0).title, QStringLiteral("สร้าง MP3 ไฟล์"));
}

TEST(frmReccord, FullDiskStopsTheRecordingAndTheStreamGoesOn) {
  // A file-size limit makes writes fail as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit limit = old;
  limit.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

  TestStation station(icyHeaders(1000));
  Window t;
  ASSERT_TRUE(t.tuneTo(station));
  t.dialogs.inputs.push_back(QStringLiteral("full.mp3"));
  t.click("CmdRecord");
  ASSERT_TRUE(t.recording());
  QByteArray wire;
  QByteArray audio;
  for (int i = 0; i < 10; ++i) {
    audio += QByteArray(1000, char('0' + i));
    wire += QByteArray(1000, char('0' + i)) + titleBlock("T" + QByteArray::number(i));
  }
  station.send(wire);
  ASSERT_TRUE(waitUntil([&] { return t.text("lblTitle") == QStringLiteral("Title: 'T9'"); }, 5s));
  setrlimit(RLIMIT_FSIZE, &old);

  EXPECT_FALSE(t.recording());
  EXPECT_FALSE(t.control("lblStatus")->isVisible());
  ASSERT_TRUE(waitUntil([&] { return !t.dialogs.messages.empty(); }, 3s));
  EXPECT_EQ(t.dialogs.messages.size(), 1u);
  EXPECT_TRUE(t.dialogs.messages.at(0).text.contains(QStringLiteral("full.mp3")));
  const QByteArray kept = readFile(t.file("full.mp3"));
  EXPECT_EQ(kept, audio.left(kept.size())) << "what was written is intact";
  EXPECT_GE(kept.size(), 4000);
}

TEST(frmReccord, ClosingTheWindowEndsRecordingAndRelay) {
  TestStation station(icyHeaders(4));
  Window t;
  ASSERT_TRUE(t.tuneTo(station));
  t.dialogs.inputs.push_back(QStringLiteral("c.mp3"));
  t.click("CmdRecord");
  ASSERT_TRUE(t.recording());
  ASSERT_TRUE(t.w.relay().isListening());
  t.w.close();
  EXPECT_FALSE(t.recording());
  EXPECT_TRUE(t.w.recordingPath().isEmpty());
  EXPECT_FALSE(t.w.relay().isListening());
  EXPECT_TRUE(waitUntil([&] { return station.disconnects() == 1; }, 5s));
}

TEST(frmReccord, OpensOneWindowAtATime) {
  test::ScriptedDialogs dialogs;
  QPointer<frmReccord> slot;
  frmReccord *first = showRecorderWindow(slot, dialogs, nullptr, test::freePort());
  EXPECT_EQ(showRecorderWindow(slot, dialogs), first);
  EXPECT_TRUE(first->isVisible());
  first->close();  // deleted on close; the next use creates a fresh one
  ASSERT_TRUE(waitUntil([&] { return slot.isNull(); }, 3s));
  frmReccord *second = showRecorderWindow(slot, dialogs, nullptr, test::freePort());
  EXPECT_NE(second, nullptr);
  delete second;
}

// A player joining mid-stream gets the station's headers, then bytes from a
// run start whose framing matches the forwarded metaint.
TEST(frmReccord, RelaysTheStationToAPlayer) {
  constexpr int kMetaInt = 32;
  const QByteArray headers = icyHeaders(kMetaInt);
  TestStation station(headers);
  Window t;
  ASSERT_TRUE(t.tuneTo(station));
  station.send(QByteArray(kMetaInt, 'a') + titleBlock("one") + QByteArray(10, 'b'));
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lAudioCount == 10; }, 5s));

  QTcpSocket player;
  player.connectToHost(QHostAddress::LocalHost, t.relayPort);
  ASSERT_TRUE(player.waitForConnected(3000));
  player.write("GET / HTTP/1.0\r\nIcy-MetaData:1\r\n\r\n");
  QByteArray got;
  ASSERT_TRUE(waitUntil([&] {
    got += player.readAll();
    return got.size() >= headers.size();
  }, 5s));
  EXPECT_EQ(got, headers);
  EXPECT_EQ(t.text("lblWinampStatus"), QStringLiteral("Winamp Connected"));

  const QByteArray rest = QByteArray(kMetaInt - 10, 'b') + titleBlock("two") + QByteArray(kMetaInt, 'c') +
                          QByteArray(1, '\0') + QByteArray(kMetaInt, 'd') + titleBlock("three") + "eee";
  station.send(rest.left(kMetaInt - 5));
  station.send(rest.mid(kMetaInt - 5));
  const QByteArray expected = rest.mid(kMetaInt - 10 + titleBlock("two").size());
  ASSERT_TRUE(waitUntil([&] {
    got += player.readAll();
    return got.size() >= headers.size() + expected.size();
  }, 5s));
  EXPECT_EQ(got.mid(headers.size()), expected);
  EXPECT_EQ(got.at(headers.size() + kMetaInt), '\0') << "the first length byte is metaint bytes in";
}

// A station that goes silent mid-run is taken for dropped after the stall
// time and reopened. The recording goes on in its file, and the player on the
// relay keeps the framing of the headers it was sent, though the new
// connection uses another icy-metaint and starts mid-way through its run.
TEST(frmReccord, SilentStationIsReopenedAndThePlayerKeepsItsFraming) {
  TestStation station(icyHeaders(8));
  Window t;
  t.dialogs.inputs.push_back(QStringLiteral("on.mp3"));
  t.click("CmdRecord");
  ASSERT_TRUE(t.tuneTo(station));
  const QByteArray headers = t.w.state().sIcyHeaders;
  QTcpSocket player;
  player.connectToHost(QHostAddress::LocalHost, t.relayPort);
  ASSERT_TRUE(player.waitForConnected(3000));
  player.write("GET / HTTP/1.0\r\nIcy-MetaData:1\r\n\r\n");
  ASSERT_TRUE(waitUntil([&] { return t.w.state().bPlayerWaiting; }, 5s));

  station.send("12345678" + titleBlock("one") + "abc");
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten == 11; }, 5s));
  station.setResponse(icyHeaders(5, "icy-name:Test FM 2\r\n"));
  QElapsedTimer silence;
  silence.start();
  ASSERT_TRUE(waitUntil([&] { return t.text("lblRadio").startsWith(QStringLiteral("Disconnected - reconnecting")); },
                        StationConnection::kStallTime + 3s));
  EXPECT_GE(silence.elapsed(), 9000);
  ASSERT_TRUE(waitUntil([&] { return station.connections() == 2 && t.w.state().bIcyOK; }, 5s));
  EXPECT_EQ(t.text("lblRadio"), QStringLiteral("Test FM 2"));
  station.send("defgh" + titleBlock("two") + "ijklm" + QByteArray(1, '\0') + "nopqr");
  ASSERT_TRUE(waitUntil([&] { return t.w.state().lBytesWritten == 26; }, 5s));
  EXPECT_EQ(readFile(t.file("on.mp3")), QByteArray("12345678abcdefghijklmnopqr"));
  EXPECT_EQ(t.text("lblTitle"), QStringLiteral("Title: 'two'"));

  const QByteArray expected = headers + "abcdefgh" + titleBlock("two") + "ijklmnop" + QByteArray(1, '\0') + "qr";
  QByteArray got;
  waitUntil([&] {
    got += player.readAll();
    return got.size() >= expected.size();
  }, 5s);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(t.text("lblWinampStatus"), QStringLiteral("Winamp Connected"));
}

// A station on its own thread that floods titles: icy-metaint 1 and a 4 KB
// block after every audio byte, the title alternating between two long
// names, as fast as the recorder reads.
class TitleFlood {
 public:
  TitleFlood() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr *>(&a), size) == 0 && ::listen(listener_, 1) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &size) == 0) {
      port_ = ntohs(a.sin_port);
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~TitleFlood() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  quint16 port() const { return port_; }

 private:
  void serve() {
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    QByteArray request;
    char buffer[1024];
    while (!request.contains("\r\n\r\n")) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, n);
    }
    const QByteArray headers = "ICY 200 OK\r\nicy-name:Flood\r\nicy-metaint:1\r\n\r\n";
    QByteArray burst;  // eight audio bytes under one title, eight under the other
    for (const char name : {'A', 'B'}) {
      QByteArray text = test::titleField("Flood " + QByteArray(1, name) + ' ' + QByteArray(4000, 'x'));
      text.resize(4080, '\0');
      for (int k = 0; k < 8; ++k) burst += char('a' + k) + QByteArray(1, char(255)) + text;
    }
    bool ok = ::send(fd, headers.constData(), headers.size(), MSG_NOSIGNAL) > 0;
    while (ok && !stop_) ok = ::send(fd, burst.constData(), burst.size(), MSG_NOSIGNAL) > 0;
    ::close(fd);
  }

  int listener_ = -1;
  quint16 port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(frmReccord, TitleFloodLeavesTheWindowResponsiveAndTheFilesFew) {
  TitleFlood flood;
  ASSERT_NE(flood.port(), 0);
  Window t;
  t.control<QCheckBox>("chkFilebysong")->setChecked(true);
  t.click("CmdRecord");
  ASSERT_TRUE(t.recording());
  t.tune(flood.port());

  // The event loop's longest pause while the flood runs.
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, longest = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    longest = std::max(longest, clock.elapsed() - last);
    last = clock.elapsed();
  });
  tick.start(10);
  waitUntil([] { return false; }, 5s);
  tick.stop();

  qint64 audio = 0;
  for (const QString &name : t.files()) audio += QFileInfo(t.file(name)).size();
  const QStringList files = t.files();
  t.w.close();
  EXPECT_GT(audio, 200) << "the flood reached the recorder";
  EXPECT_LT(longest, 1000) << "ms without events; " << audio << " audio bytes, " << files.size() << " files";
  EXPECT_LE(files.size(), 1 + SongRotation::kQuickCuts + audio / SongRotation::kAudioPerCut + 1) << audio << " bytes";
  EXPECT_TRUE(t.text("lblTitle").startsWith(QStringLiteral("Title: 'Flood "))) << t.text("lblTitle").left(40).toStdString();
  EXPECT_LE(t.w.width(), 1200) << "a long title does not stretch the window";
}

}  // namespace
}  // namespace kirasol::recorder
