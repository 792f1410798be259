#pragma once
// One window of a kind, created on its first request: a request while it is
// open only brings it forward; once it has closed (and deleted itself), the
// next request creates a fresh one.
//
// The main window keeps one holder per side window, e.g.
//     OnDemandWindow<RequestPanel> request{[] { return new RequestPanel(requestPageUrl()); }};
//     ... request.show();

#include <QPointer>
#include <QWidget>
#include <functional>

namespace kirasol::side {

template <class W>
class OnDemandWindow {
 public:
  using Factory = std::function<W *()>;
  explicit OnDemandWindow(Factory factory) : factory_(std::move(factory)) {}
  ~OnDemandWindow() { delete window_.data(); }
  OnDemandWindow(const OnDemandWindow &) = delete;
  OnDemandWindow &operator=(const OnDemandWindow &) = delete;

  // Creates the window if there is none, then shows it and brings it forward.
  W *show() {
    if (!window_) window_ = factory_();
    if (!window_) return nullptr;
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
    return window_.data();
  }
  W *window() const { return window_.data(); }
  bool isOpen() const { return !window_.isNull(); }

 private:
  Factory factory_;
  QPointer<W> window_;
};

}  // namespace kirasol::side
