#pragma once
// Starting other programs and opening web addresses, behind an interface so
// that windows can be tested without starting anything.

#include <QString>
#include <QStringList>

namespace kirasol {

class ProgramLauncher {
 public:
  virtual ~ProgramLauncher() = default;
  // Starts a program by its bare name, detached, with the inherited working
  // directory: the program folder first, then PATH. False when not found or
  // it could not be started.
  virtual bool startProgram(const QString &bareName, const QStringList &args = {}) = 0;
  // Opens an address in the desktop's browser.
  virtual bool openUrl(const QString &url) = 0;
};

}  // namespace kirasol
