#pragma once
// The address of the station's song-request page.

#include <QString>
#include <QUrl>

namespace kirasol::side {

// "http://" + host + "/postradio/radio.php"; the host defaults to the build's
// web host.
QUrl requestPageUrl();
QUrl requestPageUrl(const QString &host);

}  // namespace kirasol::side
