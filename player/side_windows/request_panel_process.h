#pragma once
// frmRequest as the player opens it: in its own process.
//
// The web engine is large (its libraries alone are tens of megabytes, and it
// wants its OpenGL setting made before the application object exists, which
// would pull the software OpenGL renderer into every player start). Most
// listeners never open the panel, so the player does not link the engine at
// all: the panel is the program `kirasol-request-panel` in the program folder
// (request_panel_main.cpp), started on the first request. Closing the panel
// ends that process, so its memory goes with it.
//
// How the main window uses it: one RequestPanelProcess, whose show() both the
// Request button and the tray menu call. A request while the panel is open
// only brings it forward (the page is not loaded again); after the panel has
// been closed, the next request starts it anew, which loads the page anew.
// The panel closes when this object goes (the player unloads) and ends by
// itself if the player dies: it watches the pipe this object holds open.
//
// Lines the player writes to the panel's standard input: "raise" and "close".

#include <QObject>
#include <QProcess>
#include <QString>
#include <QUrl>
#include <functional>

namespace kirasol::side {

// The panel program's file name in the program folder.
inline constexpr const char *kRequestPanelProgram = "kirasol-request-panel";

class RequestPanelProcess final : public QObject {
 public:
  // `program`: the panel program's path; `page`: the address it loads.
  // `failed` gets a message when the program cannot be started.
  RequestPanelProcess(QString program, QUrl page, std::function<void(const QString &)> failed = {});
  ~RequestPanelProcess() override;
  RequestPanelProcess(const RequestPanelProcess &) = delete;
  RequestPanelProcess &operator=(const RequestPanelProcess &) = delete;

  // Starts the panel, or brings the open one forward.
  void show();
  // Asks the open panel to close; it ends soon after.
  void close();
  bool isOpen() const { return process_ && process_->state() != QProcess::NotRunning; }
  // The panel's process id while open, else 0.
  qint64 processId() const { return isOpen() ? process_->processId() : 0; }
  // Waits until the open panel has ended (or `ms` passed); true when it has.
  bool waitForClosed(int ms);

 private:
  void send(const char *line);

  QString program_;
  QUrl page_;
  std::function<void(const QString &)> failed_;
  QProcess *process_ = nullptr;
};

}  // namespace kirasol::side
