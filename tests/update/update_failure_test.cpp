// A run that cannot finish must leave every installed file and "version.dat"
// byte for byte as they were, say which files were the trouble, and leave no
// temporary files; an install cut off half way is finished (or undone) at the
// next start, never left mixed.

#include "update_test_support.h"

#include <QFile>
#include <unistd.h>

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
  void expectStoppedWith(const QString &messagePart,
                         const QString &last = QStringLiteral("หยุดการอัพเดท กรุณาลองใหม่อีกครั้งค่ะ")) {
    EXPECT_TRUE(view_.messages.filter(messagePart).size() == 1) << view_.messages.join(" | ").toStdString();
    EXPECT_EQ(view_.messages.last(), last);
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
      {"a file cut short without a length", "/update/a.bin", response(200, QByteArray(5000, 'A'), Mode::NoLength, 4000),
       "a.bin"},
      {"second file not found", "/update/b.bin", response(404, "missing"), "b.bin"},
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

TEST_F(UpdateFailureTest, ServerGoneInTheMiddleChangesNothingAndTheNextRunInstallsEverything) {
  serverFile("files.dat", "a.bin,1.1\r\nb.bin,1.1\r\nc.bin,1.0\r\n");
  serverFile("c.bin", "C");
  server_.setRoute("/update/b.bin", response(200, "", Mode::StopListening));
  const auto before = snapshot(workDir_.path());
  EXPECT_EQ(start().Run(), RunResult::Failed);
  expectStoppedWith("ดาวน์โหลดไฟล์ b.bin ไม่สำเร็จ");
  EXPECT_TRUE(view_.messages.contains("ไฟล์ที่มีปัญหา: b.bin"));
  EXPECT_EQ(snapshot(workDir_.path()), before);  // a.bin, fetched first, is not installed alone

  kirasol::test::TestHttpServer again;
  ASSERT_TRUE(again.listen());
  again.serveFolder("/update/", serverDir_.path());
  view_.messages.clear();
  ModUpdate module(transfer_, again.url("/update/"), workDir_.path(), view_);
  module.ReadCurrentVersion();
  EXPECT_EQ(module.Run(), RunResult::Updated);
  EXPECT_EQ(local("a.bin"), QByteArray(5000, 'A'));
  EXPECT_EQ(local("b.bin"), QByteArray(5000, 'B'));
  EXPECT_EQ(local("c.bin"), "C");
  EXPECT_EQ(local("files.dat"), "a.bin,1.1\r\nb.bin,1.1\r\nc.bin,1.0\r\n");
  EXPECT_EQ(local("version.dat"), "1.2\r\n");
  expectNoTemporaries();
}

const QString kStoppedRefused = QStringLiteral("หยุดการอัพเดท ไม่มีไฟล์ใดถูกเปลี่ยนแปลง กรุณาแจ้งผู้ดูแลเซิร์ฟเวอร์อัพเดทค่ะ");

TEST_F(UpdateFailureTest, AChecksumMismatchStopsTheRunWithoutInstalling) {
  serverFile("files.dat", "a.bin,1.1," + QByteArray(64, 'e') + "\r\nb.bin,1.1\r\n");
  const auto before = snapshot(workDir_.path());
  EXPECT_EQ(start().Run(), RunResult::Refused);
  expectStoppedWith("ไฟล์ a.bin ไม่ตรงกับ SHA-256", kStoppedRefused);
  EXPECT_EQ(snapshot(workDir_.path()), before);
}

TEST_F(UpdateFailureTest, ARefusedNameFailsTheWholeRunListsItAndFetchesNothing) {
  QTemporaryDir outside;
  ASSERT_TRUE(QFile::link(outside.path(), workDir_.filePath("escape")));
  serverFile("files.dat", "a.bin,1.1\r\n../evil.bin,1.0\r\n/tmp/evil.bin,1.0\r\nsub/../../evil.bin,1.0\r\n"
                          "escape/evil.bin,1.0\r\nversion.dat,9\r\n.kirasol-update/journal,1\r\nb.bin,1.1\r\n");
  const auto before = snapshot(workDir_.path());
  EXPECT_EQ(start().Run(), RunResult::Refused);
  const QStringList refused{"../evil.bin",     "/tmp/evil.bin", "sub/../../evil.bin",
                            "escape/evil.bin", "version.dat",   ".kirasol-update/journal"};
  for (const QString &name : refused)
    EXPECT_TRUE(view_.messages.contains("ไม่อนุญาตให้ติดตั้งไฟล์ชื่อ " + name)) << name.toStdString();
  EXPECT_TRUE(view_.messages.contains("ไฟล์ที่มีปัญหา: " + refused.join(", ")));
  expectStoppedWith("ไม่อนุญาตให้ติดตั้งไฟล์ชื่อ ../evil.bin", kStoppedRefused);
  EXPECT_FALSE(view_.messages.contains("อัพเดทไฟล์เรียบร้อยแล้วค่ะ"));
  EXPECT_EQ(fetchedFiles(), QStringList({"version.dat", "files.dat"}));
  EXPECT_TRUE(QDir(outside.path()).isEmpty());
  EXPECT_EQ(snapshot(workDir_.path()), before);
}

// What a process killed during the install leaves: the journal and some of
// the files replaced. The next start finishes the install.
TEST_F(UpdateFailureTest, AnInstallCutOffAtAnyStepIsFinishedAtTheNextStart) {
  serverFile("files.dat", "a.bin,1.1\r\nb.bin,1.1\r\nnew/c.bin,1.0\r\n");
  ASSERT_TRUE(QDir(serverDir_.path()).mkdir("new"));
  serverFile("new/c.bin", "C");
  const QByteArray oldFiles = local("files.dat");
  // Five replacements: a.bin, b.bin, new/c.bin, files.dat, version.dat.
  for (int cut = 0; cut < 5; ++cut) {
    SCOPED_TRACE(cut);
    QDir(workDir_.filePath("new")).removeRecursively();
    localFile("version.dat", "1.1\r\n");
    localFile("files.dat", oldFiles);
    localFile("a.bin", QByteArray(3000, 'a'));
    localFile("b.bin", QByteArray(3000, 'b'));
    ModUpdate &module = start();
    module.setInterruptionForTest([cut](int step) { return step < cut; });
    EXPECT_EQ(module.Run(), RunResult::Failed);
    EXPECT_TRUE(localExists(".kirasol-update/journal"));
    EXPECT_EQ(local("version.dat"), "1.1\r\n");

    ModUpdate next(transfer_, server_.url("/update/"), workDir_.path(), view_);
    view_.messages.clear();
    next.ReadCurrentVersion();
    ASSERT_FALSE(view_.messages.isEmpty());
    EXPECT_EQ(view_.messages.first(), "ติดตั้งอัพเดทที่ค้างไว้จากครั้งก่อนเรียบร้อยแล้ว");
    EXPECT_EQ(next.CurrentVersion(), "1.2");
    EXPECT_EQ(local("a.bin"), QByteArray(5000, 'A'));
    EXPECT_EQ(local("b.bin"), QByteArray(5000, 'B'));
    EXPECT_EQ(local("new/c.bin"), "C");
    EXPECT_EQ(local("files.dat"), "a.bin,1.1\r\nb.bin,1.1\r\nnew/c.bin,1.0\r\n");
    expectNoTemporaries();
  }
}

// When the install cannot be finished, every file goes back to its old bytes
// and the folders it made go away.
TEST_F(UpdateFailureTest, AnInstallThatCannotBeFinishedIsUndone) {
  serverFile("files.dat", "a.bin,1.1\r\nmade/deep/d.bin,1.0\r\nb.bin,1.1\r\nnew/c.bin,1.0\r\n");
  ASSERT_TRUE(QDir(serverDir_.path()).mkpath("new"));
  ASSERT_TRUE(QDir(serverDir_.path()).mkpath("made/deep"));
  serverFile("new/c.bin", "C");
  serverFile("made/deep/d.bin", "D");
  const auto before = snapshot(workDir_.path());
  ModUpdate &module = start();
  module.setInterruptionForTest([](int step) { return step < 3; });  // a.bin, made/deep/d.bin and b.bin replaced
  EXPECT_EQ(module.Run(), RunResult::Failed);
  EXPECT_EQ(local("a.bin"), QByteArray(5000, 'A'));
  localFile("new", "a file where the folder must go");

  ModUpdate next(transfer_, server_.url("/update/"), workDir_.path(), view_);
  view_.messages.clear();
  next.ReadCurrentVersion();
  ASSERT_FALSE(view_.messages.isEmpty());
  EXPECT_TRUE(view_.messages.first().startsWith("อัพเดทที่ค้างไว้จากครั้งก่อนติดตั้งต่อไม่ได้"))
      << view_.messages.first().toStdString();
  auto expected = before;
  expected["new"] = "a file where the folder must go";
  EXPECT_EQ(snapshot(workDir_.path()), expected);
  EXPECT_FALSE(localExists("made"));
  EXPECT_EQ(next.CurrentVersion(), "1.1");
}

// A folder this user cannot write (a system-wide install) is reported before
// anything is fetched or written.
TEST_F(UpdateFailureTest, AFolderThatCannotBeWrittenIsReportedBeforeAnythingElse) {
  const QString folder = workDir_.path();
  // Root writes anywhere; an immutable folder stops even root.
  const bool root = ::geteuid() == 0;
  const auto lock = [&](bool on) {
    if (root) return QProcess::execute("chattr", {on ? "+i" : "-i", folder}) == 0;
    return QFile::setPermissions(folder, on ? QFile::ReadOwner | QFile::ExeOwner
                                            : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  };
  if (!lock(true) || kirasol::test::writeFile(folder + "/probe", "x")) {
    QFile::remove(folder + "/probe");
    lock(false);
    GTEST_SKIP() << "this system cannot make a folder unwritable for this user";
  }
  const auto before = snapshot(folder);
  view_.messages.clear();
  ModUpdate module(transfer_, server_.url("/update/"), folder, view_);
  module.ReadCurrentVersion();
  const RunResult result = module.Run();
  lock(false);
  EXPECT_EQ(result, RunResult::NotWritable);
  EXPECT_TRUE(server_.requestedPaths().isEmpty());
  EXPECT_EQ(snapshot(folder), before);
  ASSERT_GE(view_.messages.size(), 7);
  EXPECT_EQ(view_.messages[0], "เวอร์ชั่นปัจจุบันของคุณ 1.1");
  EXPECT_TRUE(view_.messages[1].startsWith("ไม่สามารถเขียนไฟล์ในโฟลเดอร์โปรแกรม " + folder));
  EXPECT_EQ(view_.messages.last(), "กรุณาให้ผู้ดูแลระบบอัพเดท หรืออัพเดทผ่านตัวจัดการแพ็กเกจ (package manager) ค่ะ");
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
