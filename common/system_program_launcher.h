#pragma once
// The real ProgramLauncher: starts programs detached with QProcess and opens
// addresses with QDesktopServices.

#include "common/program_launcher.h"

namespace kirasol {

class SystemProgramLauncher final : public ProgramLauncher {
 public:
  // `programDir` is where the programs that ship together live; empty means
  // the folder of the running executable.
  explicit SystemProgramLauncher(QString programDir = {});

  // A bare name is looked up in the program folder first, then along PATH;
  // a name with a "/" is used as it is. The program inherits the current
  // working directory.
  bool startProgram(const QString &bareName, const QStringList &args = {}) override;
  bool openUrl(const QString &url) override;

  // The path startProgram would run; empty when nothing executable is found.
  QString resolve(const QString &bareName) const;

 private:
  QString programDir_;
};

}  // namespace kirasol
