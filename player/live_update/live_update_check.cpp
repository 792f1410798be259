#include "player/live_update/live_update_check.h"

#include "common/program_names.h"
#include "common/text_codec.h"
#include "common/text_rules.h"
#include "player/live_update/download_to_folder.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTimer>

namespace kirasol::live_update {

namespace {
template <typename F, typename... Args>
void call(const F &f, Args &&...args) {
  if (f) f(std::forward<Args>(args)...);
}
}  // namespace

CheckControls CheckControls::forWidgets(QAbstractButton *command1, QProgressBar *progressBar1, QLabel *label1,
                                        QTimer *timer1) {
  CheckControls c;
  if (command1) c.setCommandEnabled = [command1](bool on) { command1->setEnabled(on); };
  if (progressBar1) c.setProgress = [progressBar1](int value) { progressBar1->setValue(value); };
  if (label1) c.setStatus = [label1](const QString &text) { label1->setText(text); };
  if (timer1) c.stopCountdown = [timer1] { timer1->stop(); };
  return c;
}

QString pageFolder(const QString &programFolder, QString cacheFolder) {
  const QFileInfo folder(programFolder);
  const QFileInfo page(QDir(programFolder).filePath(kPageName));
  if (folder.isDir() && folder.isWritable() && (!page.exists() || page.isWritable())) return programFolder;
  if (cacheFolder.isEmpty()) {
    cacheFolder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/kirasol-radio");
  }
  QDir().mkpath(cacheFolder);
  return cacheFolder;
}

LiveUpdateCheck::LiveUpdateCheck(UrlFetcher &fetcher, Dialogs &dialogs, QString updateBaseUrl, QString pageFolder)
    : fetcher_(fetcher),
      dialogs_(dialogs),
      updateBaseUrl_(std::move(updateBaseUrl)),
      pageFolder_(std::move(pageFolder)) {}

CheckOutcome LiveUpdateCheck::run(const QString &installedVersion, const CheckControls &controls,
                                  QWidget *dialogParent) {
  call(controls.setCommandEnabled, false);
  call(controls.setProgress, 1);
  if (!DownloadToFolder(fetcher_, updateBaseUrl_ + kPageName, pageFolder_, dialogs_, dialogParent)) {
    call(controls.setProgress, 3);
    return CheckOutcome::FetchFailed;
  }
  call(controls.setProgress, 2);

  QFile page(QDir(pageFolder_).filePath(kPageName));
  const QByteArray bytes = page.open(QIODevice::ReadOnly) ? page.readAll() : QByteArray();
  const std::optional<QString> latest = firstField(decodeText(bytes));
  if (!latest || latest->isEmpty()) {
    call(controls.setStatus, QStringLiteral("ไม่พบข้อมูลเวอร์ชั่นล่าสุด"));
    call(controls.setProgress, 3);
    call(controls.setCommandEnabled, true);
    return CheckOutcome::NoVersionFound;
  }
  latestVersion_ = *latest;

  if (ordinalCompare(latestVersion_, installedVersion) <= 0) {
    call(controls.setStatus, QStringLiteral("ไม่มีไฟล์อัพเดทที่ต้องการ"));
    call(controls.setProgress, 3);
    call(controls.setCommandEnabled, true);
    return CheckOutcome::NoNewerVersion;
  }

  call(controls.setStatus, QStringLiteral("กรุณาอย่าปิดหน้าต่างนี้ กำลังอัพเดทเวอร์ชั่น ") + latestVersion_);
  call(controls.stopCountdown);
  const MessageAnswer answer =
      dialogs_.message(dialogParent, {QStringLiteral("มีไฟล์อัพเดทใหม่ ต้องการอัพเดทหรือไม่"),
                                      QStringLiteral("อัพเดทใหม่"), MessageIcon::None, MessageButtons::YesNo});
  return answer == MessageAnswer::Yes ? CheckOutcome::UpdateAccepted : CheckOutcome::UpdateDeclined;
}

bool startUpdateProgram(ProgramLauncher &launcher) {
  return launcher.startProgram(QString::fromLatin1(programs::kUpdater));
}

}  // namespace kirasol::live_update
