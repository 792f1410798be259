#include "player/live_update/live_update_check.h"

#include "common/atomic_file.h"
#include "common/program_names.h"
#include "common/text_codec.h"
#include "common/text_rules.h"
#include "common/update_signature.h"
#include "player/live_update/download_to_folder.h"

#include <kirasol/build_settings.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace kirasol::live_update {

namespace {
template <typename F, typename... Args>
void call(const F &f, Args &&...args) {
  if (f) f(std::forward<Args>(args)...);
}
}  // namespace

CheckControls CheckControls::forWidgets(QAbstractButton *command1, QProgressBar *progressBar1, QLabel *label1,
                                        QTimer *timer1) {
  // Watched: the window may be unloaded while the check waits for the server
  // or for the listener.
  CheckControls c;
  if (command1) c.setCommandEnabled = [w = QPointer(command1)](bool on) { if (w) w->setEnabled(on); };
  if (progressBar1) c.setProgress = [w = QPointer(progressBar1)](int value) { if (w) w->setValue(value); };
  if (label1) c.setStatus = [w = QPointer(label1)](const QString &text) { if (w) w->setText(text); };
  if (timer1) c.stopCountdown = [w = QPointer(timer1)] { if (w) w->stop(); };
  return c;
}

QString pageFolder(const QString &programFolder, QString cacheFolder) {
  const QFileInfo folder(programFolder);
  const QFileInfo page(QDir(programFolder).filePath(kPageName));
  if (folder.isDir() && folderIsWritable(programFolder) && (!page.exists() || page.isWritable())) return programFolder;
  if (cacheFolder.isEmpty()) {
    cacheFolder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/kirasol-radio");
  }
  QDir().mkpath(cacheFolder);
  return cacheFolder;
}

QString cannotInstallText(const QString &latestVersion) {
  return QStringLiteral("มีเวอร์ชั่นใหม่ %1 แต่โปรแกรมนี้ติดตั้งและดูแลโดยระบบ จึงอัพเดทจากที่นี่ไม่ได้ "
                        "กรุณาให้ผู้ดูแลระบบอัพเดท หรืออัพเดทผ่านตัวจัดการแพ็กเกจ (package manager) ค่ะ")
      .arg(latestVersion);
}

QString expiredSetText(const QString &expiredAt) {
  return QStringLiteral("ชุดอัพเดทบนเซิร์ฟเวอร์หมดอายุแล้วตั้งแต่ %1 จึงไม่ได้เสนอให้อัพเดท "
                        "กรุณาแจ้งผู้ดูแลเซิร์ฟเวอร์อัพเดทค่ะ")
      .arg(expiredAt);
}

QString untrustedSetText(const QString &why) {
  return QStringLiteral("อัพเดทบนเซิร์ฟเวอร์ตรวจลายเซ็นไม่ผ่าน (%1) จึงไม่ได้เสนอให้อัพเดท "
                        "กรุณาแจ้งผู้ดูแลเซิร์ฟเวอร์อัพเดทค่ะ")
      .arg(why);
}

bool foldersWritable(const QStringList &folders) {
  for (const QString &folder : folders) {
    // Made a file there, not asked for permissions: a read-only mount, or
    // root, would pass a permission check and fail at the first write.
    if (!QFileInfo(folder).isDir() || !folderIsWritable(folder)) return false;
  }
  return true;
}

LiveUpdateCheck::LiveUpdateCheck(UrlFetcher &fetcher, Dialogs &dialogs, QString updateBaseUrl, QString pageFolder)
    : fetcher_(fetcher),
      dialogs_(dialogs),
      updateBaseUrl_(std::move(updateBaseUrl)),
      pageFolder_(std::move(pageFolder)) {}

CheckOutcome LiveUpdateCheck::run(const QString &installedVersion, const CheckControls &controls,
                                  QWidget *dialogParent) {
  const QPointer<QWidget> parent(dialogParent);
  call(controls.setCommandEnabled, false);
  call(controls.setProgress, 1);
  const DownloadResult download = DownloadToFolder(fetcher_, updateBaseUrl_ + kPageName, pageFolder_, dialogs_, parent);
  if (download != DownloadResult::Written) {
    // An update server that cannot be reached (offline, down, a wrong
    // address) gets a quiet line on the splash, not a box: the player starts
    // as usual.
    if (download == DownloadResult::FetchFailed) call(controls.setStatus, kCheckFailedText);
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

  if (!trustedKey_.isEmpty()) {
    bool newer = true;
    const QString problem = signedSetProblem(installedVersion, newer);
    if (!problem.isEmpty() || !newer) {
      call(controls.setStatus, newer ? problem : QStringLiteral("ไม่มีไฟล์อัพเดทที่ต้องการ"));
      call(controls.setProgress, 3);
      call(controls.setCommandEnabled, true);
      return newer ? CheckOutcome::NotTrusted : CheckOutcome::NoNewerVersion;
    }
  }

  if (!foldersWritable(installFolders_)) {
    // The Update program could only fail (and leave a half-updated folder):
    // say where the update comes from instead of offering it.
    call(controls.setStatus, cannotInstallText(latestVersion_));
    call(controls.setProgress, 3);
    call(controls.setCommandEnabled, true);
    return CheckOutcome::CannotInstall;
  }

  call(controls.setStatus, QStringLiteral("กรุณาอย่าปิดหน้าต่างนี้ กำลังอัพเดทเวอร์ชั่น ") + latestVersion_);
  call(controls.stopCountdown);
  const MessageAnswer answer =
      dialogs_.message(parent, {QStringLiteral("มีไฟล์อัพเดทใหม่ ต้องการอัพเดทหรือไม่"),
                                      QStringLiteral("อัพเดทใหม่"), MessageIcon::None, MessageButtons::YesNo});
  return answer == MessageAnswer::Yes ? CheckOutcome::UpdateAccepted : CheckOutcome::UpdateDeclined;
}

QString LiveUpdateCheck::signedSetProblem(const QString &installedVersion, bool &newer) {
  QString error;
  const std::optional<MinisignKey> key = parseMinisignPublicKey(trustedKey_, &error);
  if (!key) return untrustedSetText(error);
  const auto fetch = [&](const QString &name, QByteArray &body) {
    QUrl url(updateBaseUrl_);
    url.setPath(url.path() + name);
    const FetchResult result = fetcher_.fetch(url);
    if (!result.ok) error = QStringLiteral("%1: %2").arg(name, result.errorText);
    body = result.body;
    return result.ok;
  };
  QByteArray list, signature;
  if (!fetch(QStringLiteral("version.dat"), list) || !fetch(QStringLiteral("version.dat.minisig"), signature))
    return untrustedSetText(error);
  const std::optional<SignedSet> set = verifySignedList(*key, QStringLiteral("version.dat"), list, signature, &error);
  if (!set) return untrustedSetText(error);
  const std::optional<QString> version = firstField(decodeText(list));
  if (!version || *version != set->version)
    return untrustedSetText(QStringLiteral("version.dat does not hold the signed version %1").arg(set->version));
  if (set->expiredAt(QDateTime::currentDateTimeUtc())) return expiredSetText(setTimeText(set->expiresAt));
  newer = ordinalCompare(set->version, installedVersion) > 0;
  return {};
}

bool startUpdateProgram(ProgramLauncher &launcher, Dialogs &dialogs, const QString &updateBaseUrl) {
  QStringList args;
  if (!updateBaseUrl.isEmpty() && updateBaseUrl != QString::fromUtf8(settings::kUpdateBaseUrl))
    args << QStringLiteral("--update-url") << updateBaseUrl;
  return startProgramOrTell(launcher, dialogs, QString::fromLatin1(programs::kUpdater), args);
}

}  // namespace kirasol::live_update
