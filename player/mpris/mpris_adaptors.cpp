#include "player/mpris/mpris_adaptors.h"

#include "player/mpris/mpris_service.h"

namespace kirasol::mpris {

RootAdaptor::RootAdaptor(MprisService &service) : QDBusAbstractAdaptor(&service), service_(service) {}

void RootAdaptor::Raise() { service_.controls().raise(); }
void RootAdaptor::Quit() { service_.controls().quit(); }

PlayerAdaptor::PlayerAdaptor(MprisService &service) : QDBusAbstractAdaptor(&service), service_(service) {}

QString PlayerAdaptor::playbackStatus() const { return service_.playbackStatus(); }
QVariantMap PlayerAdaptor::metadata() const { return service_.metadata(); }
double PlayerAdaptor::volume() const { return service_.volume(); }
void PlayerAdaptor::setVolume(double volume) { service_.requestVolume(volume); }

void PlayerAdaptor::Play() {
  // Pressing Play while playing would reconnect; a media player ignores it.
  if (!service_.playing()) service_.controls().play();
}
void PlayerAdaptor::Pause() { Stop(); }
void PlayerAdaptor::PlayPause() {
  if (service_.playing())
    Stop();
  else
    Play();
}
void PlayerAdaptor::Stop() { service_.controls().stop(); }

}  // namespace kirasol::mpris
