#pragma once
// The two MPRIS2 interfaces as Qt D-Bus adaptors of an MprisService: the
// bus's properties and method calls map onto the service's state and its
// MediaControls.

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

namespace kirasol::mpris {

class MprisService;

class RootAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ canQuit)
  Q_PROPERTY(bool CanRaise READ canRaise)
  Q_PROPERTY(bool HasTrackList READ hasTrackList)
  Q_PROPERTY(QString Identity READ identity)
  Q_PROPERTY(QString DesktopEntry READ desktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)
 public:
  explicit RootAdaptor(MprisService &service);
  bool canQuit() const { return true; }
  bool canRaise() const { return true; }
  bool hasTrackList() const { return false; }
  QString identity() const { return QStringLiteral("Kirasol Radio"); }
  QString desktopEntry() const { return QStringLiteral("kirasol-radio"); }
  // Another station is chosen on the command line, not over the bus.
  QStringList supportedUriSchemes() const { return {}; }
  QStringList supportedMimeTypes() const { return {}; }

 public slots:
  void Raise();
  void Quit();

 private:
  MprisService &service_;
};

class PlayerAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
  Q_PROPERTY(double Rate READ rate WRITE setRate)
  Q_PROPERTY(QVariantMap Metadata READ metadata)
  Q_PROPERTY(double Volume READ volume WRITE setVolume)
  Q_PROPERTY(qlonglong Position READ position)
  Q_PROPERTY(double MinimumRate READ rate)
  Q_PROPERTY(double MaximumRate READ rate)
  Q_PROPERTY(bool CanGoNext READ no)
  Q_PROPERTY(bool CanGoPrevious READ no)
  Q_PROPERTY(bool CanPlay READ yes)
  Q_PROPERTY(bool CanPause READ yes)
  Q_PROPERTY(bool CanSeek READ no)
  Q_PROPERTY(bool CanControl READ yes)
 public:
  explicit PlayerAdaptor(MprisService &service);
  QString playbackStatus() const;
  double rate() const { return 1.0; }
  void setRate(double) {}  // a live stream has one rate
  QVariantMap metadata() const;
  double volume() const;
  void setVolume(double volume);
  qlonglong position() const { return 0; }  // a live stream has no position
  bool yes() const { return true; }
  bool no() const { return false; }

 public slots:
  void Play();
  void Pause();  // a live stream cannot pause: stops, as the Stop button does
  void PlayPause();
  void Stop();
  void Next() {}
  void Previous() {}
  void Seek(qlonglong) {}
  void SetPosition(const QDBusObjectPath &, qlonglong) {}
  void OpenUri(const QString &) {}  // no scheme is offered

 signals:
  void Seeked(qlonglong position);

 private:
  MprisService &service_;
};

}  // namespace kirasol::mpris
