#pragma once
// Reading the song title a station sends in its ICY metadata
// ("StreamTitle='AC;DC - Back In Black';StreamUrl='';"). Stations do not
// escape the title: it may hold apostrophes and semicolons of its own, so
// neither ends it; the "';" that closes it is the one followed by the next
// field or by the end of the text. Icecast hands on a title pushed in UTF-8
// as numeric character references ("&#3626;"), which are decoded here.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace kirasol {

// In `value` (the text after "StreamTitle='"), the position of the quote of
// the "';" that closes the title: the first "';" followed by nothing but
// zero bytes or blanks, or by a field name and "="; failing that the last
// "';". -1 when there is none.
qsizetype closingTitleQuote(QStringView value);
qsizetype closingTitleQuote(QByteArrayView value);

// `&#NNNN;` and `&#xHHHH;` replaced by the character they name. A reference
// that names no character (0, a surrogate, beyond U+10FFFF, too many digits,
// no ";") stays as it is, and so does any other "&".
QString decodeCharacterReferences(const QString &text);

}  // namespace kirasol
