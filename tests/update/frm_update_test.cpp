#include "update/frm_update.h"
#include "update_test_support.h"

#include <QListWidget>
#include <QTest>

namespace kirasol::update::test {
namespace {

class RecordingLauncher : public ProgramLauncher {
 public:
  QStringList started;
  bool startProgram(const QString &name, const QStringList &) override {
    started << name;
    return true;
  }
  bool openUrl(const QString &) override { return true; }
};

QStringList listTexts(const FrmUpdate &form) {
  QStringList texts;
  const auto *list = form.findChild<QListWidget *>("list");
  for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
  return texts;
}

QColor background(const QWidget *w) { return w->palette().color(QPalette::Window); }

TEST_F(UpdateRunTest, WindowRunsOnReleaseOfTheConnectLabelAndExitStartsThePlayer) {
  localFile("version.dat", "1.1\r\n");
  serverFile("version.dat", "1.1\r\n");
  RecordingLauncher launcher;
  FrmUpdate form(transfer_, launcher, server_.url("/update/"), workDir_.path());
  form.show();
  form.module().ReadCurrentVersion();
  EXPECT_EQ(form.windowTitle(), "อัพเดทโปรแกรมรุ่นล่าสุด");
  auto *connect = form.findChild<QLabel *>("lblConnect");
  auto *exit = form.findChild<QLabel *>("Label1");
  ASSERT_TRUE(connect && exit && form.findChild<QLabel *>("Label2"));
  EXPECT_EQ(connect->text(), "อัพเดท");
  EXPECT_EQ(exit->text(), "ออก");
  EXPECT_EQ(form.findChild<QLabel *>("curver")->text(), "ปัจจุบัน 1.1");
  EXPECT_EQ(form.findChild<QLabel *>("latver")->text(), "");
  EXPECT_EQ(background(connect), QColor(128, 128, 128));

  QTest::mousePress(connect, Qt::LeftButton);
  EXPECT_EQ(background(connect), QColor(192, 192, 192));
  EXPECT_EQ(listTexts(form), QStringList{"เวอร์ชั่นปัจจุบันของคุณ 1.1"});  // nothing runs on the press
  QTest::mouseRelease(connect, Qt::LeftButton);
  EXPECT_EQ(background(connect), QColor(128, 128, 128));
  EXPECT_EQ(listTexts(form), QStringList({"เวอร์ชั่นปัจจุบันของคุณ 1.1", "กำลังตรวจสอบเวอร์ชั่น", "เวอร์ชั่นล่าสุด 1.1",
                                          "โปรแกรมคุณเป็นรุ่นล่าสุดแล้วค่ะ"}));
  EXPECT_EQ(form.findChild<QLabel *>("latver")->text(), "1.1");

  QTest::mouseClick(exit, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(launcher.started, QStringList{"kirasol-radio"});
}

}  // namespace
}  // namespace kirasol::update::test
