#pragma once
// What the player remembers between runs: the volume, where the main window
// was, always-on-top, and the recorder window's fields. Kept in an INI file in
// the desktop's config folder ($XDG_CONFIG_HOME/kirasol-radio/, usually
// ~/.config/kirasol-radio/kirasol-radio.conf).
//
// Only what the listener changed is written; anything never changed (or
// unreadable) reads as absent, so a first run behaves exactly as before.
// Every change is written at once: the player may end without unwinding.

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>

class QSettings;
class QWidget;

namespace kirasol {

class PlayerSettings {
 public:
  // `file` empty: nothing is read or written (every start is a first start).
  explicit PlayerSettings(const QString &file = {});
  ~PlayerSettings();
  PlayerSettings(const PlayerSettings &) = delete;
  PlayerSettings &operator=(const PlayerSettings &) = delete;

  // The desktop's config folder's kirasol-radio/kirasol-radio.conf.
  static QString defaultFile();

  std::optional<int> volume() const;  // 0..100
  void setVolume(int percent);
  std::optional<QPoint> windowPosition() const;
  void setWindowPosition(QPoint position);
  bool onTop() const;
  void setOnTop(bool on);
  // A field of a window by the window's and the control's names.
  std::optional<QVariant> field(const QString &window, const QString &control) const;
  void setField(const QString &window, const QString &control, const QVariant &value);

 private:
  void write(const QString &key, const QVariant &value);
  std::unique_ptr<QSettings> store_;
};

// Restores the remembered texts of the named line edits and states of the
// named check boxes among `window`'s children, then remembers each change the
// listener makes to them.
void rememberFields(QWidget &window, PlayerSettings &settings, const QStringList &controls);

// Puts `window` where it was last (when that place is still on a screen) and
// remembers where it is moved to. Call before the window is shown.
void rememberPosition(QWidget &window, PlayerSettings &settings);

}  // namespace kirasol
