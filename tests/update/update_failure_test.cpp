// A run that cannot finish must leave the installed files as they were (or,
// for files installed before the failure, complete), keep the old
// "version.dat" so the next run tries again, say what failed, and remove its
// temporary copies.

#include "update_test_support.h"

#include <QFile>

namespace kirasol::update::test {
namespace {

using Mode = kirasol::test::HttpResponse::Mode;

kirasol::test::HttpResponse response(int status, QByteArray body, Mode mode = Mode::Normal, qsizetype sent = 0) {
  kirasol::test::HttpResponse r;
  r.status = status;
  r.body = std::move(body);
  r.mode = mode;
  r.sentBytes = sent;
  return r;
}

class UpdateFailureTest : public UpdateRunTest {
 protected:
  void SetUp() override {
    UpdateRunTest::SetUp();
    localFile("version.dat", "1.1\r\n");
    localFile("files.dat", "a.bin,1.0\r\nb.bin,1.0\r\n");
    localFile("a.bin", QByteArray(3000, 'a'));
    localFile("b.bin", QByteArray(3000, 'b'));
    serverFile("version.dat", "1.2\r\n");
    serverFile("files.dat", "a.bin,1.1\r\nb.bin,1.1\r\n");
    serverFile("a.bin", QByteArray(5000, 'A'));
    serverFile("b.bin", QByteArray(5000, 'B'));
  }
  void expectStoppedWith(const QString &messagePart) {
    EXPECT_TRUE(view_.messages.filter(messagePart).size() == 1) << view_.messages.join(" | ").toStdString();
    EXPECT_EQ(view_.messages.last(), "หยุดการอัพเดท กรุณาลองใหม่อีกครั้งค่ะ");
    EXPECT_EQ(local("version.dat"), "1.1\r\n");
    expectNoTemporaries();
  }
};

TEST_F(UpdateFailureTest, FailuresBeforeAnyFileIsFetchedChangeNothing) {
  const struct {
    const char *name;
    const char *path;
    kirasol::test::HttpResponse answer;
    const char *message;
  } cases[] = {
      {"version.dat not found", "/update/version.dat", response(404, "<html>Not found</html>"), "version.dat"},
      {"version.dat cut short", "/update/version.dat", response(200, "1.2\r\n", Mode::CutShort, 2), "version.dat"},
      {"files.dat server error", "/update/files.dat", response(500, "a.bin,9\r\n"), "files.dat"},
      {"files.dat connection dropped", "/update/files.dat", response(200, "", Mode::Drop), "files.dat"},
      {"first listed file not found", "/update/a.bin", response(404, "missing"), "a.bin"},
      {"first listed file cut short", "/update/a.bin", response(200, QByteArray(5000, 'A'), Mode::CutShort, 4000),
       "a.bin"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    server_.setRoute(c.path, c.answer);
    const auto before = snapshot(workDir_.path());
    view_.messages.clear();
    EXPECT_EQ(start().Run(), RunResult::Failed);
    expectStoppedWith(QStringLiteral("ดาวน์โหลดไฟล์ %1 ไม่สำเร็จ").arg(QString::fromLatin1(c.message)));
    EXPECT_EQ(snapshot(workDir_.path()), before);
    server_.setRoute(c.path, response(200, kirasol::test::readFile(serverDir_.filePath(QString(c.path).mid(8)))));
  }
}

TEST_F(UpdateFailureTest, ServerGoneInTheMiddleKeepsWhatWasCompleteAndTheNextRunFinishes) {
  server_.setRoute("/update/b.bin", response(200, "", Mode::StopListening));
  EXPECT_EQ(start().Run(), RunResult::Failed);
  expectStoppedWith("ดาวน์โหลดไฟล์ b.bin ไม่สำเร็จ");
  EXPECT_EQ(local("a.bin"), QByteArray(5000, 'A'));  // completed before the failure, and recorded
  EXPECT_EQ(local("b.bin"), QByteArray(3000, 'b'));
  EXPECT_EQ(local("files.dat"), "a.bin,1.1\r\nb.bin,1.0\r\n");

  kirasol::test::TestHttpServer again;
  ASSERT_TRUE(again.listen());
  again.serveFolder("/update/", serverDir_.path());
  view_.messages.clear();
  ModUpdate module(transfer_, again.url("/update/"), workDir_.path(), view_);
  module.ReadCurrentVersion();
  EXPECT_EQ(module.Run(), RunResult::Updated);
  EXPECT_EQ(again.requestedPaths(), QStringList({"/update/version.dat", "/update/files.dat", "/update/b.bin"}));
  EXPECT_EQ(local("b.bin"), QByteArray(5000, 'B'));
  EXPECT_EQ(local("version.dat"), "1.2\r\n");
}

TEST_F(UpdateFailureTest, AChecksumMismatchStopsTheRunWithoutInstalling) {
  serverFile("files.dat", "a.bin,1.1," + QByteArray(64, 'e') + "\r\nb.bin,1.1\r\n");
  const auto before = snapshot(workDir_.path());
  EXPECT_EQ(start().Run(), RunResult::Failed);
  expectStoppedWith("ไฟล์ a.bin ไม่ตรงกับ SHA-256");
  EXPECT_EQ(snapshot(workDir_.path()), before);
}

TEST_F(UpdateFailureTest, UnsafeNamesAreRefusedListedAndNeverFetched) {
  QTemporaryDir outside;
  ASSERT_TRUE(QFile::link(outside.path(), workDir_.filePath("escape")));
  serverFile("files.dat", "../evil.bin,1.0\r\n/tmp/evil.bin,1.0\r\nsub/../../evil.bin,1.0\r\nescape/evil.bin,1.0\r\n"
                          "a.bin,1.1\r\n");
  EXPECT_EQ(start().Run(), RunResult::Updated);
  for (const char *name : {"../evil.bin", "/tmp/evil.bin", "sub/../../evil.bin", "escape/evil.bin"}) {
    EXPECT_TRUE(view_.messages.contains("ไม่อนุญาตให้ติดตั้งไฟล์ชื่อ " + QString::fromLatin1(name))) << name;
  }
  EXPECT_EQ(fetchedFiles(), QStringList({"version.dat", "files.dat", "a.bin"}));
  EXPECT_TRUE(QDir(outside.path()).isEmpty());
  EXPECT_EQ(local("files.dat"), "a.bin,1.1\r\nb.bin,1.0\r\n");
  EXPECT_EQ(local("version.dat"), "1.2\r\n");
}

TEST_F(UpdateFailureTest, AServerVersionWithoutFirstFieldOffersNothing) {
  for (const QByteArray &page : {QByteArray(), QByteArray("   \r\n"), QByteArray("\r\n1.2\r\n"), QByteArray(",1.2")}) {
    SCOPED_TRACE(page.toStdString());
    serverFile("version.dat", page);
    const auto before = snapshot(workDir_.path());
    view_.messages.clear();
    EXPECT_EQ(start().Run(), RunResult::NoVersionFound);
    EXPECT_EQ(view_.messages.last(), "ไม่พบเวอร์ชั่นล่าสุดบนเซิร์ฟเวอร์");
    EXPECT_EQ(snapshot(workDir_.path()), before);
    EXPECT_FALSE(fetchedFiles().contains("files.dat"));
  }
}

}  // namespace
}  // namespace kirasol::update::test
