#pragma once
// frmUpdate: the update program's only window. It shows what modUpdate
// reports and turns the two label-buttons into a run and an exit.

#include "common/program_launcher.h"
#include "update/mod_update.h"

#include <QLabel>
#include <QWidget>
#include <functional>
#include <memory>

class QListWidget;

namespace kirasol::update {

// A label used as a button: it reports presses and releases of the left
// mouse button; a release counts only when the press started on it.
class ButtonLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void pressed();
  void released();

 protected:
  void mousePressEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;

 private:
  bool down_ = false;
};

class FrmUpdate final : public QWidget, public UpdateView {
  Q_OBJECT
 public:
  FrmUpdate(UrlFetcher &fetcher, ProgramLauncher &launcher, const QString &updateBaseUrl, const QString &workDir,
            UpdateOptions options = {}, QWidget *parent = nullptr);
  ~FrmUpdate() override;

  ModUpdate &module() { return *module_; }
  // Also hands every message of the list to `echo` (kirasol-update --run).
  void setMessageEcho(std::function<void(const QString &)> echo) { echo_ = std::move(echo); }

  void appendMessage(const QString &text) override;
  void setCurrentVersionCaption(const QString &text) override;
  void setLatestVersionCaption(const QString &text) override;
  void processPendingEvents() override;

 protected:
  void closeEvent(QCloseEvent *event) override;

 private:
  void exitAndStartPlayer();

  ProgramLauncher &launcher_;
  QListWidget *list_;
  QLabel *curver_;
  QLabel *latver_;
  ButtonLabel *lblConnect_;
  ButtonLabel *label1_;
  std::unique_ptr<ModUpdate> module_;
  bool exitAfterRun_ = false;
  std::function<void(const QString &)> echo_;
};

}  // namespace kirasol::update
