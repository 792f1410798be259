#pragma once
// frmRequest: the station's song-request page in a web view.
//
// How the main window uses it: an OnDemandWindow<RequestPanel> (see
// on_demand_window.h) created with
//     [] { return new RequestPanel(requestPageUrl()); }
// whose show() both the Request button and the tray menu call. A second
// request while the panel is open only brings it forward; closing the panel
// deletes it, and the next request loads the page anew. The web engine starts
// with the first panel, never at the player's start; main() must have called
// prepareWebEngine() (web_engine_setup.h) before creating the application.

#include <QUrl>
#include <QWidget>

class QWebEngineView;

namespace kirasol::side {

// "http://" + host + "/postradio/radio.php"; the host defaults to the build's
// web host.
QUrl requestPageUrl();
QUrl requestPageUrl(const QString &host);

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
