#pragma once
// Bytes from the network and from files arrive either as UTF-8 or in the Thai
// single-byte code page (Windows-874). These functions are the one place that
// decides which.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kirasol {

// True when the bytes form valid UTF-8 (an empty array is valid).
bool isValidUtf8(QByteArrayView bytes);

// Windows-874: TIS-620 plus the 0x80-0x9F punctuation of the Windows code
// page. Bytes the code page leaves undefined become U+FFFD.
QString decodeWindows874(QByteArrayView bytes);

// UTF-8 when the bytes are valid UTF-8, Windows-874 otherwise.
QString decodeText(QByteArrayView bytes);

// Encodes text for peers that expect the Thai code page. Characters the code
// page cannot hold become '?'.
QByteArray encodeWindows874(const QString &text);

}  // namespace kirasol
