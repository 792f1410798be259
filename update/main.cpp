// kirasol-update: brings the installed files in the working directory up to
// the update server's version, and starts the player again on exit.

#include "common/product_icon.h"
#include "common/system_program_launcher.h"
#include "common/thai_button_texts.h"
#include "common/transfer.h"
#include "update/frm_update.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <kirasol/build_settings.h>

namespace {

void Main(kirasol::update::FrmUpdate &form) {
  form.show();
  QCoreApplication::processEvents();
  form.module().ReadCurrentVersion();
}

}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kirasol Update"));
  QApplication::setWindowIcon(kirasol::productIcon());
  kirasol::installThaiButtonTexts();
  QCommandLineParser parser;
  parser.addHelpOption();
  QCommandLineOption urlOption(QStringLiteral("update-url"),
                               QStringLiteral("Base URL of the update folder (ends in /update/)."),
                               QStringLiteral("url"), QString::fromUtf8(kirasol::settings::kUpdateBaseUrl));
  parser.addOption(urlOption);
  parser.process(app);

  kirasol::Transfer transfer;
  kirasol::SystemProgramLauncher launcher;
  kirasol::update::UpdateOptions options;
  options.publicKey = QByteArray(kirasol::settings::kUpdatePublicKey);
  options.maxFileBytes = kirasol::settings::kUpdateMaxFileBytes;
  kirasol::update::FrmUpdate form(transfer, launcher, parser.value(urlOption), QDir::currentPath(), options);
  Main(form);
  return app.exec();
}
