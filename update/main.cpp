// kirasol-update: brings the installed files in the working directory up to
// the update server's version, and starts the player again on exit.

#include "common/product_icon.h"
#include "common/system_program_launcher.h"
#include "common/thai_button_texts.h"
#include "common/transfer.h"
#include "update/command_line.h"
#include "update/frm_update.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <cstdio>
#include <kirasol/build_settings.h>

namespace {

void Main(kirasol::update::FrmUpdate &form) {
  form.show();
  QCoreApplication::processEvents();
  form.module().ReadCurrentVersion();
}

}  // namespace

int main(int argc, char **argv) {
  // Answered before any window system is touched, so they work anywhere.
  QStringList rawArguments;
  for (int i = 0; i < argc; ++i) rawArguments << QString::fromLocal8Bit(argv[i]);
  if (const std::optional<QString> answer = kirasol::update::immediateAnswer(rawArguments)) {
    std::fputs(answer->toLocal8Bit().constData(), stdout);
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kirasol Update"));
  QApplication::setApplicationVersion(QString::fromLatin1(kirasol::settings::kProductVersion));
  QApplication::setWindowIcon(kirasol::productIcon());
  kirasol::installThaiButtonTexts();
  QCommandLineParser parser;
  QCommandLineOption urlOption(QStringLiteral("update-url"),
                               QStringLiteral("Base URL of the update folder (ends in /update/)."),
                               QStringLiteral("url"), QString::fromUtf8(kirasol::settings::kUpdateBaseUrl));
  parser.addOption(urlOption);
  QCommandLineOption runOption(QStringLiteral("run"),
                               QStringLiteral("Update at once, print the messages and end without starting the player."));
  parser.addOption(runOption);
  parser.process(app);

  kirasol::Transfer transfer;
  kirasol::SystemProgramLauncher launcher;
  kirasol::update::UpdateOptions options;
  options.publicKey = QByteArray(kirasol::settings::kUpdatePublicKey);
  options.maxFileBytes = kirasol::settings::kUpdateMaxFileBytes;
  kirasol::update::FrmUpdate form(transfer, launcher, parser.value(urlOption), QDir::currentPath(), options);
  if (parser.isSet(runOption)) {
    form.setMessageEcho([](const QString &text) {
      std::fputs((text + u'\n').toLocal8Bit().constData(), stdout);
      std::fflush(stdout);
    });
    Main(form);
    const kirasol::update::RunResult result = form.module().Run();
    return result == kirasol::update::RunResult::Updated || result == kirasol::update::RunResult::AlreadyCurrent ? 0
                                                                                                                  : 1;
  }
  Main(form);
  return app.exec();
}
