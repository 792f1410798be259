#pragma once
// A working folder, an update folder served over HTTP and a view that records
// what a run reports.

#include "common/transfer.h"
#include "support/test_http_server.h"
#include "support/test_support.h"
#include "update/mod_update.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace kirasol::update::test {

class RecordingView : public UpdateView {
 public:
  QStringList messages;
  QString curver;
  QString latver;
  std::function<void()> onPendingEvents;

  void appendMessage(const QString &text) override { messages << text; }
  void setCurrentVersionCaption(const QString &text) override { curver = text; }
  void setLatestVersionCaption(const QString &text) override { latver = text; }
  void processPendingEvents() override {
    if (onPendingEvents) onPendingEvents();
  }
};

// The demo station's signing key pair, committed with the sources.
inline QString demoSecretKey() {
  return kirasol::test::sourceDir() + QStringLiteral("/tools/demo_station/demo-update-key/demo-update.key");
}
inline QByteArray demoPublicKey() {
  return kirasol::test::readFile(kirasol::test::sourceDir() +
                                 QStringLiteral("/tools/demo_station/demo-update-key/demo-update.pub"));
}

// Signs an update folder the way a station operator does; "" when it
// worked, else what the script said.
inline QString signFolder(const QString &folder, const QString &secretKey = demoSecretKey()) {
  QProcess sign;
  sign.setProcessChannelMode(QProcess::MergedChannels);
  sign.start(QStringLiteral("bash"), {kirasol::test::sourceDir() + QStringLiteral("/scripts/sign-update"), folder, secretKey});
  if (!sign.waitForFinished(30000)) return QStringLiteral("sign-update did not finish");
  return sign.exitCode() == 0 ? QString() : QString::fromUtf8(sign.readAll());
}

// Every file below a folder with its bytes, to show that nothing changed.
inline QMap<QString, QByteArray> snapshot(const QString &folder) {
  QMap<QString, QByteArray> files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    files[QDir(folder).relativeFilePath(path)] = kirasol::test::readFile(path);
  }
  return files;
}

class UpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listen());
    server_.serveFolder("/update/", serverDir_.path());
  }
  void serverFile(const QString &name, const QByteArray &bytes) {
    ASSERT_TRUE(kirasol::test::writeFile(serverDir_.filePath(name), bytes));
  }
  void localFile(const QString &name, const QByteArray &bytes) {
    ASSERT_TRUE(kirasol::test::writeFile(workDir_.filePath(name), bytes));
  }
  QByteArray local(const QString &name) const { return kirasol::test::readFile(workDir_.filePath(name)); }
  bool localExists(const QString &name) const { return QFileInfo::exists(workDir_.filePath(name)); }
  // A fresh module, as at program start; its start-up messages are dropped.
  ModUpdate &start() {
    module_ = std::make_unique<ModUpdate>(transfer_, server_.url("/update/"), workDir_.path(), view_, options_);
    module_->ReadCurrentVersion();
    view_.messages.clear();
    return *module_;
  }
  QStringList fetchedFiles() const {
    QStringList names;
    for (const QString &p : server_.requestedPaths()) names << p.mid(QStringLiteral("/update/").size());
    return names;
  }
  void expectNoTemporaries() const {
    EXPECT_FALSE(localExists("vers.dat"));
    EXPECT_FALSE(localExists("update.dat"));
    EXPECT_FALSE(localExists(".kirasol-update"));
  }

  QTemporaryDir serverDir_;
  QTemporaryDir workDir_;
  kirasol::test::TestHttpServer server_;
  kirasol::Transfer transfer_{std::chrono::seconds(5)};
  RecordingView view_;
  UpdateOptions options_;
  std::unique_ptr<ModUpdate> module_;
};

}  // namespace kirasol::update::test
