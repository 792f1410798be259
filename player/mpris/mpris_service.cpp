#include "player/mpris/mpris_service.h"

#include "player/mpris/mpris_adaptors.h"
#include "common/text_rules.h"
#include "player/playback/net_radio_rules.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <algorithm>
#include <cmath>

namespace kirasol::mpris {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

bool isStatusText(const QString &text) {
  return text == QLatin1String(kConnectingText) || text == QLatin1String(kNotPlayingText) ||
         text.startsWith(QStringLiteral("buffering... ")) || text.startsWith(QStringLiteral("reconnecting... ("));
}

}  // namespace

SongParts splitSongText(const QString &song) {
  const QString separator = QStringLiteral(" - ");
  const qsizetype at = song.indexOf(separator);
  if (at < 0) return {QString(), song.trimmed()};
  return {song.left(at).trimmed(), song.mid(at + separator.size()).trimmed()};
}

MprisService::MprisService(MediaControls controls, QDBusConnection bus, QObject *parent)
    : QObject(parent), controls_(std::move(controls)), bus_(std::move(bus)) {
  new RootAdaptor(*this);
  new PlayerAdaptor(*this);
  if (!bus_.isConnected()) return;
  if (!bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors)) return;
  // A second player (another program folder) gets a name of its own, as
  // the MPRIS naming rules allow.
  for (const QString &name : {QString::fromLatin1(kServiceName),
                              QString::fromLatin1(kServiceName) + QStringLiteral(".instance") +
                                  QString::number(QCoreApplication::applicationPid())}) {
    if (bus_.registerService(name)) {
      busName_ = name;
      return;
    }
  }
  bus_.unregisterObject(QString::fromLatin1(kObjectPath));
}

MprisService::~MprisService() {
  if (!registered()) return;
  bus_.unregisterService(busName_);
  bus_.unregisterObject(QString::fromLatin1(kObjectPath));
}

QString MprisService::playbackStatus() const {
  return playing_ ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap MprisService::metadata() const {
  QVariantMap map;
  if (song_.isEmpty()) {
    map.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"))));
  } else {
    map.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/kirasol_radio/track/") +
                                                   QString::number(trackNumber_))));
    const SongParts parts = splitSongText(song_);
    map.insert(QStringLiteral("xesam:title"), parts.title);
    if (!parts.artist.isEmpty()) map.insert(QStringLiteral("xesam:artist"), QStringList{parts.artist});
  }
  // Radio players show the station where a record would show its album.
  if (!station_.isEmpty()) map.insert(QStringLiteral("xesam:album"), station_);
  return map;
}

void MprisService::setPlaying(bool playing) {
  if (playing == playing_) return;
  playing_ = playing;
  announce(kPlayerInterface, {{QStringLiteral("PlaybackStatus"), playbackStatus()}});
}

void MprisService::setStationText(const QString &text) {
  if (text == QLatin1String(kNotPlayingText)) setPlaying(false);
  if (isStatusText(text) || text == station_) return;
  station_ = text;
  announce(kPlayerInterface, {{QStringLiteral("Metadata"), metadata()}});
}

void MprisService::setSongText(const QString &text) {
  if (text == song_) return;
  song_ = text;
  ++trackNumber_;
  announce(kPlayerInterface, {{QStringLiteral("Metadata"), metadata()}});
}

void MprisService::setVolume(int percent) {
  if (percent == volumePercent_) return;
  volumePercent_ = percent;
  announce(kPlayerInterface, {{QStringLiteral("Volume"), volume()}});
}

void MprisService::requestVolume(double volume) {
  if (std::isnan(volume)) return;
  const int percent = static_cast<int>(roundHalfEven(std::clamp(volume, 0.0, 1.0) * 100));
  if (controls_.setVolume) controls_.setVolume(percent);
}

void MprisService::announce(const QString &interface, const QVariantMap &changed) {
  if (!registered()) return;
  QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                   QStringLiteral("org.freedesktop.DBus.Properties"),
                                                   QStringLiteral("PropertiesChanged"));
  signal << interface << changed << QStringList();
  bus_.send(signal);
}

}  // namespace kirasol::mpris
