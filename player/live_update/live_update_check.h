#pragma once
// The update check the splash window runs once at start-up (and again when
// the user presses its button after nothing newer was found).
//
// How the splash uses it. Built once with the splash's transfer and dialogs:
//
//   LiveUpdateCheck check(transfer, dialogs, QString::fromUtf8(settings::kUpdateBaseUrl),
//                         pageFolder(QCoreApplication::applicationDirPath()));
//
// and in Command1's click handler:
//
//   auto outcome = check.run(InstalledVersion,
//                            CheckControls::forWidgets(Command1, ProgressBar1, Label1, Timer1), this);
//   switch (outcome) {
//     case CheckOutcome::FetchFailed:      // Command1 stays disabled; the countdown runs on
//     case CheckOutcome::NoNewerVersion:   // Command1 enabled again; the countdown runs on
//     case CheckOutcome::NoVersionFound:   // as NoNewerVersion
//     case CheckOutcome::CannotInstall:    // as NoNewerVersion, with its own status text
//     case CheckOutcome::NotTrusted:       // as NoNewerVersion, with its own status text
//       break;
//     case CheckOutcome::UpdateAccepted:   // unload the splash, then
//       if (startUpdateProgram(launcher, dialogs))  // start the Update program and
//         endThisPlayer();                 //   end the player (player_exit.h);
//       break;                             //   else a box said so: go on to the main window
//     case CheckOutcome::UpdateDeclined:   // Timer3 on, one fade step at once
//       break;
//   }
//
// run() disables Command1, sets ProgressBar1 to 1, 2 and 3 and Label1's text
// as the check goes, stops the countdown (Timer1) before asking, and asks
// the Yes/No question through Dialogs. It runs on the UI thread; the fetch
// is synchronous but keeps processing window events, and so do the boxes:
// the splash's countdown goes on meanwhile. The controls and the box parent
// are watched, so the check may outlive the window they belong to.

#include "common/dialogs.h"
#include "common/program_launcher.h"
#include "common/transfer.h"

#include <QString>
#include <QStringList>
#include <functional>

class QAbstractButton;
class QLabel;
class QProgressBar;
class QTimer;
class QWidget;

namespace kirasol::live_update {

enum class CheckOutcome {
  FetchFailed,     // the page could not be fetched (Label1 says so) or saved (a box said so), or the fetcher was busy
  NoNewerVersion,  // the server's version is not greater than the installed one
  NoVersionFound,  // the page had no first field; treated like NoNewerVersion
  UpdateAccepted,  // newer version, the user answered Yes
  UpdateDeclined,  // newer version, the user answered No
  CannotInstall,   // newer version, but this user cannot write where the Update program installs: not offered
  NotTrusted,      // the signed version.dat is missing, mis-signed, not newer or expired: not offered
};

// What the check changes on the splash window. Any of them may be empty.
struct CheckControls {
  std::function<void(bool)> setCommandEnabled;    // Command1
  std::function<void(int)> setProgress;           // ProgressBar1
  std::function<void(const QString &)> setStatus;  // Label1
  std::function<void()> stopCountdown;            // disables Timer1

  static CheckControls forWidgets(QAbstractButton *command1, QProgressBar *progressBar1, QLabel *label1,
                                  QTimer *timer1);
};

inline const QString kPageName = QStringLiteral("liveupdate.html");

// Label1's text when the update page could not be fetched.
inline const QString kCheckFailedText = QStringLiteral("ตรวจสอบอัพเดทไม่ได้ ไม่สามารถติดต่อเซิฟเวอร์อัพเดทได้");

// Label1's text when a newer version cannot be installed by this user (a
// system-wide install): the package manager or the administrator updates it.
QString cannotInstallText(const QString &latestVersion);

// Label1's texts when the update page names a newer version but the signed
// set behind it would be refused by the Update program.
QString expiredSetText(const QString &expiredAt);
QString untrustedSetText(const QString &why);

// True when this user may create and replace files in every one of `folders`.
bool foldersWritable(const QStringList &folders);

// Where the check keeps its copy of the page: the program folder, or, when
// that cannot be written (a system-wide install), `cacheFolder` (created when
// missing). An empty `cacheFolder` means the user's cache folder for the
// player.
QString pageFolder(const QString &programFolder, QString cacheFolder = {});

class LiveUpdateCheck {
 public:
  // `updateBaseUrl` ends in "/update/"; the copy of the page is kept in
  // `pageFolder`.
  LiveUpdateCheck(UrlFetcher &fetcher, Dialogs &dialogs, QString updateBaseUrl, QString pageFolder);

  // The folders the Update program writes into (the program folder and the
  // folder it is started in). A newer version is offered only when all of
  // them can be written; none set, it is always offered.
  void setInstallFolders(QStringList folders) { installFolders_ = std::move(folders); }

  // The minisign public key the Update program trusts. Set, a newer version
  // is offered only when the server's version.dat carries a valid signature
  // by it, names a set newer than the installed version and has not expired:
  // anything else the Update program refuses, so offering it would only
  // stop the player for nothing (and a stale set, served to hold back the
  // real update, would pass for the newest). Empty: the page alone decides.
  void setTrustedKey(QByteArray publicKey) { trustedKey_ = std::move(publicKey); }

  CheckOutcome run(const QString &installedVersion, const CheckControls &controls, QWidget *dialogParent = nullptr);

  // The server's version found by the last run (empty before one succeeds).
  const QString &latestVersion() const { return latestVersion_; }

 private:
  UrlFetcher &fetcher_;
  Dialogs &dialogs_;
  QString updateBaseUrl_;
  QString pageFolder_;
  QStringList installFolders_;
  QByteArray trustedKey_;
  QString latestVersion_;

  // Empty when the signed set may be offered, else Label1's text; `newer`
  // false when the signed version is not above the installed one.
  QString signedSetProblem(const QString &installedVersion, bool &newer);
};

// Starts the Update program (program folder first) in the player's working
// directory, on `updateBaseUrl` when it is not this build's update folder.
// False when it could not be started; a box has then said so.
bool startUpdateProgram(ProgramLauncher &launcher, Dialogs &dialogs, const QString &updateBaseUrl = {});

}  // namespace kirasol::live_update
