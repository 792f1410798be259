// A hostile update server cannot make the updater hold more than a little
// memory or wait forever: an endless body stops at its cap, a trickle at the
// minimum rate, and the run changes nothing. Memory is read from /proc while
// the run goes on.

#include "update_test_support.h"

#include <QFile>
#include <QTimer>

namespace kirasol::update::test {
namespace {

using Mode = kirasol::test::HttpResponse::Mode;

qint64 residentKiB() {
  const QByteArray status = kirasol::test::readFile(QStringLiteral("/proc/self/status"));
  for (const QByteArray &line : status.split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
  }
  return -1;
}

TEST_F(UpdateRunTest, EndlessAndTricklingAnswersEndWithAClearErrorInBoundedMemory) {
  options_.maxFileBytes = qint64(48) << 20;
  options_.minBytesPerSecond = 4096;
  options_.rateWindow = std::chrono::seconds(2);
  localFile("version.dat", "1.1\r\n");
  localFile("a.bin", "old");
  serverFile("version.dat", "1.2\r\n");
  serverFile("files.dat", "a.bin,1.1\r\n");
  kirasol::test::HttpResponse endless;
  endless.mode = Mode::Endless;
  kirasol::test::HttpResponse trickle;
  trickle.mode = Mode::Trickle;
  trickle.body = QByteArray(100000, 't');
  trickle.intervalMs = 100;
  const struct {
    const char *name;
    const char *path;
    kirasol::test::HttpResponse answer;
    QString message;
  } cases[] = {
      {"endless file", "/update/a.bin", endless, "ดาวน์โหลดไฟล์ a.bin ไม่สำเร็จ (the answer is larger than 48 MiB; stopped)"},
      {"endless version page", "/update/version.dat", endless,
       "ดาวน์โหลดไฟล์ version.dat ไม่สำเร็จ (the answer is larger than 1 MiB; stopped)"},
      {"trickling file", "/update/a.bin", trickle, "ดาวน์โหลดไฟล์ a.bin ไม่สำเร็จ (the server sent only"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    kirasol::test::TestHttpServer server;
    ASSERT_TRUE(server.listen());
    server.serveFolder("/update/", serverDir_.path());
    server.setRoute(c.path, c.answer);
    const auto before = snapshot(workDir_.path());
    view_.messages.clear();
    ModUpdate module(transfer_, server.url("/update/"), workDir_.path(), view_, options_);
    module.ReadCurrentVersion();

    const qint64 baseline = residentKiB();
    qint64 peak = baseline;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak = std::max(peak, residentKiB()); });
    sampler.start(20);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(module.Run(), RunResult::Failed);
    sampler.stop();
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_EQ(view_.messages.filter(c.message).size(), 1) << view_.messages.join(" | ").toStdString();
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed chunks resident in its quarantine, so the
    // figure only means something in a normal build.
    EXPECT_LT(peak - baseline, 16 * 1024) << "KiB more than before the run";
#endif
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(snapshot(workDir_.path()), before);
  }
}

}  // namespace
}  // namespace kirasol::update::test
