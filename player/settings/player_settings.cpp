#include "player/settings/player_settings.h"

#include <QAbstractButton>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

namespace kirasol {

namespace {

const QString kVolume = QStringLiteral("player/volume");
const QString kPosition = QStringLiteral("player/position");
const QString kOnTop = QStringLiteral("player/onTop");

// Saves the window's place once it has come to rest, and at once when it is
// hidden (closing, minimising), so a drag is not written pixel by pixel.
class PositionKeeper final : public QObject {
 public:
  PositionKeeper(QWidget &window, PlayerSettings &settings) : QObject(&window), window_(window), settings_(settings) {
    rest_.setSingleShot(true);
    rest_.setInterval(500);
    connect(&rest_, &QTimer::timeout, this, &PositionKeeper::save);
    window.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject *, QEvent *event) override {
    if (event->type() == QEvent::Move && window_.isVisible()) rest_.start();
    if (event->type() == QEvent::Hide && rest_.isActive()) save();
    return false;
  }

 private:
  void save() {
    rest_.stop();
    settings_.setWindowPosition(window_.pos());
  }
  QWidget &window_;
  PlayerSettings &settings_;
  QTimer rest_;
};

}  // namespace

PlayerSettings::PlayerSettings(const QString &file) {
  if (!file.isEmpty()) store_ = std::make_unique<QSettings>(file, QSettings::IniFormat);
}

PlayerSettings::~PlayerSettings() = default;

QString PlayerSettings::defaultFile() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
      .filePath(QStringLiteral("kirasol-radio/kirasol-radio.conf"));
}

void PlayerSettings::write(const QString &key, const QVariant &value) {
  if (!store_) return;
  store_->setValue(key, value);
  store_->sync();
}

std::optional<int> PlayerSettings::volume() const {
  if (!store_) return std::nullopt;
  bool ok = false;
  const int value = store_->value(kVolume).toInt(&ok);
  if (!ok || value < 0 || value > 100) return std::nullopt;
  return value;
}

void PlayerSettings::setVolume(int percent) { write(kVolume, percent); }

std::optional<QPoint> PlayerSettings::windowPosition() const {
  if (!store_) return std::nullopt;
  const QVariant value = store_->value(kPosition);
  if (!value.canConvert<QPoint>()) return std::nullopt;
  return value.toPoint();
}

void PlayerSettings::setWindowPosition(QPoint position) { write(kPosition, position); }

bool PlayerSettings::onTop() const { return store_ && store_->value(kOnTop).toBool(); }

void PlayerSettings::setOnTop(bool on) { write(kOnTop, on); }

std::optional<QVariant> PlayerSettings::field(const QString &window, const QString &control) const {
  if (!store_) return std::nullopt;
  const QVariant value = store_->value(window + u'/' + control);
  if (!value.isValid()) return std::nullopt;
  return value;
}

void PlayerSettings::setField(const QString &window, const QString &control, const QVariant &value) {
  write(window + u'/' + control, value);
}

void rememberFields(QWidget &window, PlayerSettings &settings, const QStringList &controls) {
  const QString group = window.objectName();
  for (const QString &name : controls) {
    const std::optional<QVariant> saved = settings.field(group, name);
    if (auto *edit = window.findChild<QLineEdit *>(name)) {
      if (saved) edit->setText(saved->toString());
      QObject::connect(edit, &QLineEdit::textEdited, edit,
                       [&settings, group, name](const QString &text) { settings.setField(group, name, text); });
    } else if (auto *box = window.findChild<QAbstractButton *>(name); box && box->isCheckable()) {
      if (saved) box->setChecked(saved->toBool());
      QObject::connect(box, &QAbstractButton::toggled, box,
                       [&settings, group, name](bool on) { settings.setField(group, name, on); });
    }
  }
}

void rememberPosition(QWidget &window, PlayerSettings &settings) {
  if (const std::optional<QPoint> place = settings.windowPosition()) {
    // A screen that was unplugged since: stay where the desktop puts it.
    const QRect frame(*place, window.size());
    for (const QScreen *screen : QGuiApplication::screens()) {
      if (screen->availableGeometry().intersects(frame)) {
        window.move(*place);
        break;
      }
    }
  }
  new PositionKeeper(window, settings);
}

}  // namespace kirasol
