#pragma once
// The recorder window as the tests drive it: a scratch output folder, a free
// relay port, scripted dialogs and access to controls by objectName.

#include "player/recorder/frm_reccord.h"
#include "recorder/test_station.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>

namespace kirasol::recorder {

struct RecorderWindow {
  test::ScriptedDialogs dialogs;
  QTemporaryDir dir;
  quint16 relayPort = test::freePort();
  frmReccord w{dialogs, relayPort};

  RecorderWindow() {
    w.show();
    edit("txtOutPath")->setText(dir.path());
    // Most tests compare files with the audio sent; the tag ahead of it has
    // tests of its own, which tick this again.
    w.findChild<QCheckBox *>(QStringLiteral("chkTags"))->setChecked(false);
  }
  template <typename T = QLabel>
  T *control(const char *name) {
    T *c = w.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  QLineEdit *edit(const char *name) { return control<QLineEdit>(name); }
  QPushButton *button(const char *name) { return control<QPushButton>(name); }
  QString text(const char *name) { return control(name)->text(); }
  void click(const char *name) { QTest::mouseClick(button(name), Qt::LeftButton); }

  void tune(const QString &server, const QString &port) {
    edit("txtServer")->setText(server);
    edit("txtPort")->setText(port);
    click("cmdTune");
  }
  void tune(quint16 localPort) { tune(QStringLiteral("127.0.0.1"), QString::number(localPort)); }
  // Tunes to the station and waits until its headers are in.
  bool tuneTo(test::TestStation &station) {
    tune(station.port());
    return test::waitUntil([&] { return w.state().bIcyOK; }, std::chrono::seconds(5));
  }
  bool recording() { return button("CmdRecord")->isChecked(); }
  QString file(const QString &name) { return dir.path() + u'/' + name; }
  QStringList files() { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
};

}  // namespace kirasol::recorder
