#include "player/side_windows/request_panel.h"

#include <QVBoxLayout>
#include <QWebEngineView>

namespace kirasol::side {

RequestPanel::RequestPanel(const QUrl &page, QWidget *parent) : QWidget(parent, Qt::Window), page_(page) {
  setObjectName(QStringLiteral("frmRequest"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("ขอเพลงจากดีเจ"));
  resize(480, 560);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  WebBrowser1_ = new QWebEngineView(this);
  WebBrowser1_->setObjectName(QStringLiteral("WebBrowser1"));
  layout->addWidget(WebBrowser1_);
  Form_Load();
}

void RequestPanel::Form_Load() { WebBrowser1_->load(page_); }

}  // namespace kirasol::side
