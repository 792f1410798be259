#pragma once
// The player as a media player of the desktop (MPRIS2): media keys, the
// desktop's media widget, phone remotes and `playerctl` find it on the session
// bus as org.mpris.MediaPlayer2.kirasol_radio, object /org/mpris/MediaPlayer2.
//
// The service keeps no playback logic of its own: its commands press the main
// window's buttons through MediaControls, and what it reports is what the
// window shows, fed in through the set* calls. Every change is announced with
// org.freedesktop.DBus.Properties.PropertiesChanged.
//
// UI thread only. Without a session bus (or when the name cannot be had) the
// service registers nothing and stays silent; the player runs as before.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>

namespace kirasol::mpris {

inline constexpr char kServiceName[] = "org.mpris.MediaPlayer2.kirasol_radio";
inline constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";

// What the media keys ask of the player, each run on the UI thread.
struct MediaControls {
  std::function<void()> play;               // press Play
  std::function<void()> stop;               // press Stop
  std::function<void()> raise;              // bring the main window to the front
  std::function<void()> quit;               // the tray menu's exit
  std::function<void(int percent)> setVolume;  // move the volume slider as a listener would
};

// "Artist - Title" as the station sends it, split at the first " - ". A text
// without the separator is all title.
struct SongParts {
  QString artist;
  QString title;
};
SongParts splitSongText(const QString &song);

class MprisService : public QObject {
  Q_OBJECT
 public:
  MprisService(MediaControls controls, QDBusConnection bus, QObject *parent = nullptr);
  ~MprisService() override;

  // True when the interfaces are on the bus under a name.
  bool registered() const { return !busName_.isEmpty(); }
  QString busName() const { return busName_; }

  // What the player shows.
  void setPlaying(bool playing);
  // lblName's text: a station name, or a status text ("connecting...",
  // "buffering... N%", "reconnecting... (N)", "not playing"), which is no
  // name; "not playing" also means the sound has stopped for good.
  void setStationText(const QString &text);
  void setSongText(const QString &text);
  void setVolume(int percent);

  // Read by the bus interfaces.
  QString playbackStatus() const;
  QVariantMap metadata() const;
  double volume() const { return volumePercent_ / 100.0; }
  const MediaControls &controls() const { return controls_; }
  // Volume written from the bus: 0..1, clamped, moved to the slider.
  void requestVolume(double volume);
  bool playing() const { return playing_; }

 private:
  void announce(const QString &interface, const QVariantMap &changed);

  MediaControls controls_;
  QDBusConnection bus_;
  QString busName_;
  bool playing_ = false;
  QString station_;
  QString song_;
  quint64 trackNumber_ = 0;
  int volumePercent_ = 50;
};

}  // namespace kirasol::mpris
