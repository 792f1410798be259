#include "common/transfer.h"
#include "common/update_signature.h"
#include "player/live_update/download_to_folder.h"
#include "player/live_update/live_update_check.h"
#include "support/scripted_dialogs.h"
#include "support/test_http_server.h"
#include "support/test_support.h"

#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kirasol::live_update {
namespace {

using kirasol::test::HttpResponse;
using kirasol::test::readFile;
using kirasol::test::ScriptedDialogs;
using kirasol::test::TestHttpServer;
using kirasol::test::writeFile;

// What the check did to the splash window's controls.
struct SplashRecord {
  std::vector<bool> command;
  std::vector<int> progress;
  QStringList status;
  int countdownStops = 0;
  CheckControls controls() {
    return {[this](bool on) { command.push_back(on); }, [this](int v) { progress.push_back(v); },
            [this](const QString &s) { status << s; }, [this] { ++countdownStops; }};
  }
};

HttpResponse answer(int status, QByteArray body) {
  HttpResponse r;
  r.status = status;
  r.body = std::move(body);
  return r;
}

class LiveUpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.listen()); }
  void page(const QByteArray &bytes, int status = 200) {
    server_.setRoute("/update/liveupdate.html", answer(status, bytes));
  }
  CheckOutcome check(const QString &installed) {
    LiveUpdateCheck check(transfer_, dialogs_, server_.url("/update/"), folder_.path());
    return check.run(installed, splash_.controls());
  }
  QByteArray localPage() const { return readFile(folder_.filePath("liveupdate.html")); }

  TestHttpServer server_;
  Transfer transfer_{std::chrono::seconds(5)};
  ScriptedDialogs dialogs_;
  QTemporaryDir folder_;
  SplashRecord splash_;
};

TEST_F(LiveUpdateCheckTest, VersionsAreComparedByCharacterCode) {
  const QString offered = QStringLiteral("กรุณาอย่าปิดหน้าต่างนี้ กำลังอัพเดทเวอร์ชั่น ");
  const struct {
    const char *name;
    QString installed;
    QByteArray page;
    std::optional<MessageAnswer> answer;  // set when the question is expected
    CheckOutcome outcome;
    QString status;
  } cases[] = {
      {"1.10 sorts below 1.9", "1.9", "1.10\r\n", {}, CheckOutcome::NoNewerVersion, "ไม่มีไฟล์อัพเดทที่ต้องการ"},
      {"equal", "1.1", "1.1", {}, CheckOutcome::NoNewerVersion, "ไม่มีไฟล์อัพเดทที่ต้องการ"},
      {"older server", "1.2", "1.1", {}, CheckOutcome::NoNewerVersion, "ไม่มีไฟล์อัพเดทที่ต้องการ"},
      {"comma ends the field", "1.1", "1.2,and more text\r\n", MessageAnswer::Yes, CheckOutcome::UpdateAccepted,
       offered + "1.2"},
      {"leading blanks skipped", "1.1", "  1.2\r\nsecond line", MessageAnswer::No, CheckOutcome::UpdateDeclined,
       offered + "1.2"},
      {"quoted field", "1.1", "\"1.3, beta\"", MessageAnswer::Yes, CheckOutcome::UpdateAccepted, offered + "1.3, beta"},
      {"no installed version", "", "1.0", MessageAnswer::No, CheckOutcome::UpdateDeclined, offered + "1.0"},
      {"case matters", "a", "B", {}, CheckOutcome::NoNewerVersion, "ไม่มีไฟล์อัพเดทที่ต้องการ"},
      {"empty page", "1.1", "", {}, CheckOutcome::NoVersionFound, "ไม่พบข้อมูลเวอร์ชั่นล่าสุด"},
      {"blank first line", "1.1", "   \r\n1.2", {}, CheckOutcome::NoVersionFound, "ไม่พบข้อมูลเวอร์ชั่นล่าสุด"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    splash_ = {};
    dialogs_.messages.clear();
    if (c.answer) dialogs_.answers.push_back(*c.answer);
    page(c.page);
    EXPECT_EQ(check(c.installed), c.outcome);
    EXPECT_EQ(splash_.status, QStringList{c.status});
    EXPECT_EQ(localPage(), c.page);
    if (c.answer) {
      ASSERT_EQ(dialogs_.messages.size(), 1u);
      EXPECT_EQ(dialogs_.messages[0].text, "มีไฟล์อัพเดทใหม่ ต้องการอัพเดทหรือไม่");
      EXPECT_EQ(dialogs_.messages[0].title, "อัพเดทใหม่");
      EXPECT_EQ(dialogs_.messages[0].buttons, MessageButtons::YesNo);
      EXPECT_EQ(splash_.progress, std::vector<int>({1, 2}));
      EXPECT_EQ(splash_.command, std::vector<bool>{false});
      EXPECT_EQ(splash_.countdownStops, 1);
    } else {
      EXPECT_TRUE(dialogs_.messages.empty());
      EXPECT_EQ(splash_.progress, std::vector<int>({1, 2, 3}));
      EXPECT_EQ(splash_.command, std::vector<bool>({false, true}));
      EXPECT_EQ(splash_.countdownStops, 0);
    }
  }
}

TEST_F(LiveUpdateCheckTest, AShorterPageReplacesALongerOneAndEachPressRepeatsTheCheck) {
  page("1.1, followed by a long line of text that the next page will not have\r\nand a second line\r\n");
  EXPECT_EQ(check("1.1"), CheckOutcome::NoNewerVersion);
  page("1.1");
  EXPECT_EQ(check("1.1"), CheckOutcome::NoNewerVersion);
  EXPECT_EQ(localPage(), "1.1");
  EXPECT_EQ(server_.requestedPaths(), QStringList({"/update/liveupdate.html", "/update/liveupdate.html"}));
}

// An update server that cannot be reached is no running copy: the box that
// says so is kept for a page that cannot be stored.
TEST_F(LiveUpdateCheckTest, FailedFetchIsQuietAndOnlyAPageThatCannotBeStoredShowsTheBox) {
  ASSERT_TRUE(writeFile(folder_.filePath("liveupdate.html"), "1.1"));
  const quint16 closedPort = kirasol::test::freePort();
  const struct {
    const char *name;
    QString base;
    int status;
    bool storable;
  } cases[] = {
      {"not found", server_.url("/update/"), 404, true},
      {"server error", server_.url("/update/"), 500, true},
      {"connection refused", QStringLiteral("http://127.0.0.1:%1/update/").arg(closedPort), 0, true},
      {"page folder missing", server_.url("/update/"), 200, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    splash_ = {};
    dialogs_.messages.clear();
    page("<html>9.9 error page</html>", c.status ? c.status : 200);
    LiveUpdateCheck check(transfer_, dialogs_, c.base, c.storable ? folder_.path() : folder_.filePath("missing"));
    EXPECT_EQ(check.run("1.1", splash_.controls()), CheckOutcome::FetchFailed);
    if (c.storable) {
      EXPECT_TRUE(dialogs_.messages.empty());
      EXPECT_EQ(splash_.status, QStringList{kCheckFailedText});
    } else {
      ASSERT_EQ(dialogs_.messages.size(), 1u);
      EXPECT_EQ(dialogs_.messages[0].text, kDownloadFailedText);
      EXPECT_EQ(dialogs_.messages[0].title, "");
      EXPECT_EQ(dialogs_.messages[0].icon, MessageIcon::Information);
      EXPECT_TRUE(splash_.status.isEmpty());
    }
    EXPECT_EQ(splash_.progress, std::vector<int>({1, 3}));
    EXPECT_EQ(splash_.command, std::vector<bool>{false});
    EXPECT_EQ(localPage(), "1.1");
  }
}

class BusyFetcher : public UrlFetcher {
 public:
  int fetches = 0;
  bool busy() const override { return true; }
  FetchResult fetch(const QUrl &) override {
    ++fetches;
    return {};
  }
};

TEST_F(LiveUpdateCheckTest, ABusyTransferFailsQuietly) {
  BusyFetcher busy;
  LiveUpdateCheck check(busy, dialogs_, server_.url("/update/"), folder_.path());
  EXPECT_EQ(check.run("1.1", splash_.controls()), CheckOutcome::FetchFailed);
  EXPECT_EQ(busy.fetches, 0);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(splash_.progress, std::vector<int>({1, 3}));
}

TEST_F(LiveUpdateCheckTest, DownloadNamesTheFileAfterTheLastSegmentAndRefusesAddressesWithoutOne) {
  server_.setRoute("/deep/path/data.bin", answer(200, QByteArray("\x00\x01\x02", 3)));
  EXPECT_EQ(DownloadToFolder(transfer_, server_.url("/deep/path/data.bin"), folder_.path(), dialogs_),
            DownloadResult::Written);
  EXPECT_EQ(readFile(folder_.filePath("data.bin")), QByteArray("\x00\x01\x02", 3));
  EXPECT_TRUE(dialogs_.messages.empty());
  for (const QString &url : {server_.url("/deep/path/"), server_.url("/deep/path/data.bin")}) {
    const QString folder = url.endsWith('/') ? folder_.path() : folder_.filePath("missing-folder");
    EXPECT_EQ(DownloadToFolder(transfer_, url, folder, dialogs_), DownloadResult::NotStored) << url.toStdString();
  }
  EXPECT_EQ(dialogs_.messages.size(), 2u);
}

TEST_F(LiveUpdateCheckTest, ControlsForWidgetsDriveTheSplashControls) {
  QPushButton command1;
  QProgressBar progressBar1;
  progressBar1.setRange(0, 3);
  QLabel label1(QStringLiteral("อัพเดทเวอร์ชั่นล่าสุด"));
  QTimer timer1;
  timer1.start(1000);
  dialogs_.answers.push_back(MessageAnswer::No);
  page("2.0");
  LiveUpdateCheck check(transfer_, dialogs_, server_.url("/update/"), folder_.path());
  EXPECT_EQ(check.run("1.1", CheckControls::forWidgets(&command1, &progressBar1, &label1, &timer1)),
            CheckOutcome::UpdateDeclined);
  EXPECT_FALSE(command1.isEnabled());
  EXPECT_EQ(progressBar1.value(), 2);
  EXPECT_EQ(label1.text(), "กรุณาอย่าปิดหน้าต่างนี้ กำลังอัพเดทเวอร์ชั่น 2.0");
  EXPECT_FALSE(timer1.isActive());
  EXPECT_EQ(check.latestVersion(), "2.0");
}

TEST_F(LiveUpdateCheckTest, ControlsMayGoAwayWhileTheServerIsSlow) {
  auto *command1 = new QPushButton;
  auto *progressBar1 = new QProgressBar;
  auto *label1 = new QLabel;
  auto response = answer(200, "2.0");
  response.delayMs = 300;
  server_.setRoute("/update/liveupdate.html", response);
  QTimer::singleShot(50, [=] {
    delete command1;
    delete progressBar1;
    delete label1;
  });
  dialogs_.answers.push_back(MessageAnswer::No);
  LiveUpdateCheck check(transfer_, dialogs_, server_.url("/update/"), folder_.path());
  EXPECT_EQ(check.run("1.1", CheckControls::forWidgets(command1, progressBar1, label1, nullptr)),
            CheckOutcome::UpdateDeclined);
}

TEST_F(LiveUpdateCheckTest, ANewerVersionThisUserCannotInstallIsNotOffered) {
  QTemporaryDir readOnly;
  QStringList unwritable{folder_.filePath("missing-folder")};
  if (::geteuid() != 0) {  // root may write anywhere
    ASSERT_TRUE(QFile::setPermissions(readOnly.path(), QFile::ReadOwner | QFile::ExeOwner));
    unwritable << readOnly.path();
  }
  page("2.0");
  for (const QString &folder : unwritable) {
    SCOPED_TRACE(folder.toStdString());
    splash_ = {};
    LiveUpdateCheck check(transfer_, dialogs_, server_.url("/update/"), folder_.path());
    check.setInstallFolders({folder_.path(), folder});
    EXPECT_EQ(check.run("1.1", splash_.controls()), CheckOutcome::CannotInstall);
    EXPECT_TRUE(dialogs_.messages.empty());
    EXPECT_EQ(splash_.status, QStringList{cannotInstallText("2.0")});
    EXPECT_EQ(splash_.progress, std::vector<int>({1, 2, 3}));
    EXPECT_EQ(splash_.command, std::vector<bool>({false, true}));
    EXPECT_EQ(splash_.countdownStops, 0);
  }
  QFile::setPermissions(readOnly.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// With the updater's key, a newer version is offered only when its signed
// version.dat has not expired.
TEST_F(LiveUpdateCheckTest, WithTheUpdatersKeyAnExpiredSetIsNotOffered) {
  const QString keys = kirasol::test::sourceDir() + "/tools/demo_station/demo-update-key/";
  const QDateTime now = QDateTime::currentDateTimeUtc();
  page("1.2");
  server_.setRoute("/update/version.dat", answer(200, "1.2\r\n"));
  ASSERT_TRUE(writeFile(folder_.filePath("version.dat"), "1.2\r\n"));
  for (const QDateTime &expires : {now.addDays(1), now.addSecs(-60)}) {
    SCOPED_TRACE(setTimeText(expires).toStdString());
    ASSERT_EQ(QProcess::execute("minisign", {"-S", "-s", keys + "demo-update.key", "-m", folder_.filePath("version.dat"),
                                             "-t", "kirasol update file:version.dat signed:" + setTimeText(now.addDays(-2)) +
                                                       " expires:" + setTimeText(expires) + " version:1.2"}),
              0);
    server_.setRoute("/update/version.dat.minisig", answer(200, readFile(folder_.filePath("version.dat.minisig"))));
    splash_ = {};
    dialogs_.answers.push_back(MessageAnswer::Yes);
    LiveUpdateCheck check(transfer_, dialogs_, server_.url("/update/"), folder_.path());
    check.setTrustedKey(readFile(keys + "demo-update.pub"));
    const bool expired = expires < now;
    EXPECT_EQ(check.run("1.1", splash_.controls()), expired ? CheckOutcome::NotTrusted : CheckOutcome::UpdateAccepted);
    EXPECT_EQ(splash_.status, QStringList{expired ? expiredSetText(setTimeText(expires))
                                                  : "กรุณาอย่าปิดหน้าต่างนี้ กำลังอัพเดทเวอร์ชั่น 1.2"});
    dialogs_.answers.clear();
  }
}

TEST(PageFolderTest, ProgramFolderWhenWritableElseTheCacheFolder) {
  QTemporaryDir program;
  QTemporaryDir cacheRoot;
  const QString cache = cacheRoot.filePath("kirasol-radio");
  EXPECT_EQ(pageFolder(program.path(), cache), program.path());
  EXPECT_FALSE(QFileInfo::exists(cache));
  const QString missing = program.filePath("not-there");
  EXPECT_EQ(pageFolder(missing, cache), cache);
  EXPECT_TRUE(QFileInfo(cache).isDir());
  if (::geteuid() != 0) {  // root may write anywhere
    ASSERT_TRUE(QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_EQ(pageFolder(program.path(), cache), cache);
    QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
}

}  // namespace
}  // namespace kirasol::live_update

namespace kirasol::live_update {
namespace {

TEST(DemoStationCheckTest, RaisingTheServedVersionOffersTheUpdate) {
  QTemporaryDir served;
  ASSERT_TRUE(writeFile(served.filePath("liveupdate.html"), "1.2\r\n<html><body>1.2</body></html>\r\n"));
  kirasol::test::DemoStation station({"--update-dir", served.path()});
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();
  QTemporaryDir program;
  Transfer transfer(std::chrono::seconds(10));
  ScriptedDialogs dialogs;
  dialogs.answers.push_back(MessageAnswer::Yes);
  LiveUpdateCheck check(transfer, dialogs, station.httpUrl("/update/"), program.path());
  EXPECT_EQ(check.run("1.1", {}), CheckOutcome::UpdateAccepted);
  EXPECT_EQ(check.latestVersion(), "1.2");
  EXPECT_EQ(readFile(program.filePath("liveupdate.html")), readFile(served.filePath("liveupdate.html")));
}

}  // namespace
}  // namespace kirasol::live_update
