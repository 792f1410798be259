// Update servers as an attacker on the path would run them, against the real
// kirasol-update: every set is validly signed, yet none may change the
// program folder, and the messages say why.

#include "update_test_support.h"

#include <QFile>

namespace kirasol::update::test {
namespace {

using kirasol::test::programPath;

QString utc(qint64 daysFromNow) { return setTimeText(QDateTime::currentDateTimeUtc().addDays(daysFromNow)); }

// kirasol-update --run in `folder`, on the offscreen platform.
class UpdaterRun {
 public:
  UpdaterRun(const QString &folder, const QString &updateUrl) {
    process_.setWorkingDirectory(folder);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process_.setProcessEnvironment(env);
    process_.start(programPath("kirasol-update"), {"--update-url", updateUrl, "--run"});
  }
  // Waits with the event loop running, so the test's own server answers.
  bool finish() {
    return kirasol::test::waitUntil([&] { return process_.state() == QProcess::NotRunning; }, std::chrono::seconds(60));
  }
  QString output() {
    output_ += QString::fromLocal8Bit(process_.readAll());
    return output_;
  }
  int exitCode() const { return process_.exitCode(); }
  void kill() {
    process_.kill();
    process_.waitForFinished();
  }

 private:
  QProcess process_;
  QString output_;
};

class HostileServerTest : public UpdateRunTest {
 protected:
  void SetUp() override {
    UpdateRunTest::SetUp();
    ASSERT_TRUE(QFileInfo::exists(programPath("kirasol-update")));
    localFile("version.dat", "1.2\r\n");
    localFile("files.dat", "a.bin,1.2\r\n");
    localFile("a.bin", "installed a");
    localFile("signed.dat", (utc(-10) + "\r\n").toUtf8());
  }
  // A set of version `version` with a.bin at `fileVersion`, signed by the
  // station's script.
  void serveSet(const QByteArray &version, const QByteArray &fileVersion) {
    serverFile("version.dat", version + "\r\n");
    serverFile("files.dat", "a.bin," + fileVersion + "\r\n");
    serverFile("a.bin", "served a " + fileVersion);
    ASSERT_EQ(signFolder(serverDir_.path()), QString());
  }
  // Signs one list again with this trusted comment (after its "file:" field).
  void resign(const QString &list, const QString &comment) {
    ASSERT_EQ(QProcess::execute("minisign", {"-S", "-s", demoSecretKey(), "-m", serverDir_.filePath(list), "-t",
                                             "kirasol update file:" + list + " " + comment}),
              0);
  }
  QString url() const { return server_.url("/update/"); }
};

const QString kRefused = QStringLiteral("หยุดการอัพเดท ไม่มีไฟล์ใดถูกเปลี่ยนแปลง กรุณาแจ้งผู้ดูแลเซิร์ฟเวอร์อัพเดทค่ะ");

TEST_F(HostileServerTest, NoSignedSetAnAttackerCanServeChangesTheFolder) {
  QTemporaryDir outside;
  const struct {
    const char *name;
    std::function<void()> serve;
    QString reason;  // a message contains this
  } cases[] = {
      {"a replayed older set", [&] { serveSet("1.1", "1.1"); },
       "เวอร์ชั่นบนเซิร์ฟเวอร์ 1.1 เก่ากว่าเวอร์ชั่นที่ติดตั้งอยู่ 1.2 จึงไม่ได้ติดตั้ง"},
      {"version.dat of one set with files.dat of another",
       [&] {
         serveSet("1.3", "1.3");
         resign("files.dat", "signed:" + utc(-1) + " version:1.3");
       },
       "ไม่ได้มาจากชุดอัพเดทเดียวกัน"},
      {"a set signed before the installed one",
       [&] {
         serveSet("1.9", "1.9");  // above "1.10" by character code, as last year's 1.9 is
         for (const char *list : {"version.dat", "files.dat"}) resign(list, "signed:" + utc(-20) + " version:1.9");
       },
       "ก่อนชุดที่ติดตั้งอยู่"},
      {"an expired set",
       [&] {
         serveSet("1.3", "1.3");
         for (const char *list : {"version.dat", "files.dat"})
           resign(list, "signed:" + utc(-5) + " expires:" + utc(-1) + " version:1.3");
       },
       "ชุดอัพเดทบนเซิร์ฟเวอร์หมดอายุแล้วตั้งแต่"},
      {"a listed file that links out of the folder",
       [&] {
         ASSERT_TRUE(kirasol::test::writeFile(outside.filePath("elsewhere"), "not the program's"));
         ASSERT_TRUE(QFile::link(outside.filePath("elsewhere"), workDir_.filePath("b.bin")));
         serverFile("b.bin", "served b");
         serveSet("1.3", "1.3");
         serverFile("files.dat", "a.bin,1.3\r\nb.bin,1.0\r\n");
         ASSERT_EQ(signFolder(serverDir_.path()), QString());
       },
       "b.bin ในโฟลเดอร์โปรแกรมเป็นลิงก์ที่ชี้ออกไปนอกโฟลเดอร์"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    c.serve();
    const auto before = snapshot(workDir_.path());
    UpdaterRun run(workDir_.path(), url());
    ASSERT_TRUE(run.finish());
    EXPECT_TRUE(run.output().contains(c.reason)) << run.output().toStdString();
    EXPECT_TRUE(run.output().trimmed().endsWith(kRefused)) << run.output().toStdString();
    EXPECT_EQ(run.exitCode(), 1);
    EXPECT_EQ(snapshot(workDir_.path()), before);
  }
  EXPECT_EQ(kirasol::test::readFile(outside.filePath("elsewhere")), "not the program's");
}

TEST_F(HostileServerTest, ASecondUpdaterChangesNothingWhileTheFirstRuns) {
  serveSet("1.3", "1.3");
  kirasol::test::HttpResponse stall;
  stall.mode = kirasol::test::HttpResponse::Mode::Stall;
  server_.setRoute("/update/a.bin", stall);
  auto first = std::make_unique<UpdaterRun>(workDir_.path(), url());
  ASSERT_TRUE(kirasol::test::waitUntil([&] { return fetchedFiles().contains("a.bin"); }, std::chrono::seconds(30)));
  const auto during = snapshot(workDir_.path());
  UpdaterRun second(workDir_.path(), url());
  ASSERT_TRUE(second.finish());
  EXPECT_TRUE(second.output().contains("มีโปรแกรมอัพเดทอีกตัวกำลังอัพเดทโฟลเดอร์นี้อยู่")) << second.output().toStdString();
  EXPECT_EQ(second.exitCode(), 1);
  EXPECT_EQ(snapshot(workDir_.path()), during);

  // The first one killed, its lock does not hold the folder any longer.
  first->kill();
  first.reset();
  kirasol::test::HttpResponse answer;
  answer.body = "served a 1.3";
  server_.setRoute("/update/a.bin", answer);
  UpdaterRun third(workDir_.path(), url());
  ASSERT_TRUE(third.finish());
  EXPECT_EQ(third.exitCode(), 0) << third.output().toStdString();
  EXPECT_EQ(local("a.bin"), "served a 1.3");
  expectNoTemporaries();
}

// The good set for contrast: installed whole, its signing time recorded, and
// a listed file that is a link inside the folder replaced by the file.
TEST_F(HostileServerTest, ASetSignedNowIsInstalledAndALinkIsReplacedNotWrittenThrough) {
  localFile("target.txt", "the link's target");
  ASSERT_TRUE(QFile::link("target.txt", workDir_.filePath("link.txt")));
  serveSet("1.3", "1.3");
  serverFile("link.txt", "served link");
  serverFile("files.dat", "a.bin,1.3\r\nlink.txt,1.0\r\n");
  ASSERT_EQ(signFolder(serverDir_.path()), QString());
  UpdaterRun run(workDir_.path(), url());
  ASSERT_TRUE(run.finish());
  EXPECT_EQ(run.exitCode(), 0) << run.output().toStdString();
  EXPECT_EQ(local("version.dat"), "1.3\r\n");
  EXPECT_EQ(local("a.bin"), "served a 1.3");
  EXPECT_FALSE(QFileInfo(workDir_.filePath("link.txt")).isSymLink());
  EXPECT_EQ(local("link.txt"), "served link");
  EXPECT_EQ(local("target.txt"), "the link's target");
  const QString comment = QString::fromUtf8(kirasol::test::readFile(serverDir_.filePath("version.dat.minisig")));
  EXPECT_TRUE(comment.contains("signed:" + QString::fromUtf8(local("signed.dat")).trimmed() + " version:1.3"))
      << comment.toStdString();
  expectNoTemporaries();
  EXPECT_FALSE(localExists(".kirasol-update.lock"));
}

}  // namespace
}  // namespace kirasol::update::test
