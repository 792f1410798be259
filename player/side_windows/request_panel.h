#pragma once
// frmRequest: the station's song-request page in a web view.
//
// The window of the program `kirasol-request-panel` (request_panel_main.cpp),
// which the player starts on the first request (request_panel_process.h); the
// player itself never links the web engine. The program's main() calls
// prepareWebEngine() (web_engine_setup.h) before creating its application,
// creates one RequestPanel and shows it. Closing the panel deletes it.

#include "player/side_windows/request_page.h"

#include <QUrl>
#include <QWidget>

class QWebEngineView;

namespace kirasol::side {

class RequestPanel final : public QWidget {
  Q_OBJECT
 public:
  explicit RequestPanel(const QUrl &page, QWidget *parent = nullptr);

  QWebEngineView *WebBrowser1() const { return WebBrowser1_; }
  QUrl page() const { return page_; }

 private:
  void Form_Load();

  QUrl page_;
  QWebEngineView *WebBrowser1_;
};

}  // namespace kirasol::side
