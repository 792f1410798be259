#include "common/stream_title.h"

#include <type_traits>

namespace kirasol {
namespace {

bool isNameChar(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

template <typename View>
char32_t at(View v, qsizetype i) {
  if constexpr (std::is_same_v<View, QStringView>)
    return v[i].unicode();
  else
    return static_cast<unsigned char>(v[i]);
}

// What follows a "';": the end of the block, or the next "Name=".
template <typename View>
bool endsTheTitle(View after) {
  qsizetype i = 0;
  while (i < after.size() && isNameChar(at(after, i))) ++i;
  if (i > 0) return i < after.size() && at(after, i) == '=';
  for (; i < after.size(); ++i) {
    const char32_t c = at(after, i);
    if (c != 0 && c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

template <typename View>
qsizetype closingQuote(View value) {
  qsizetype last = -1;
  for (qsizetype i = 0; i + 1 < value.size(); ++i) {
    if (at(value, i) != '\'' || at(value, i + 1) != ';') continue;
    if (endsTheTitle(value.sliced(i + 2))) return i;
    last = i;
  }
  return last;
}

}  // namespace

qsizetype closingTitleQuote(QStringView value) { return closingQuote(value); }
qsizetype closingTitleQuote(QByteArrayView value) { return closingQuote(value); }

QString decodeCharacterReferences(const QString &text) {
  if (!text.contains(QLatin1String("&#"))) return text;
  QString out;
  out.reserve(text.size());
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n;) {
    if (text[i] == u'&' && i + 1 < n && text[i + 1] == u'#') {
      const bool hex = i + 2 < n && (text[i + 2] == u'x' || text[i + 2] == u'X');
      const qsizetype first = i + (hex ? 3 : 2);
      qsizetype j = first;
      char32_t value = 0;
      // Seven digits hold every code point in either base; more would only
      // overflow, so such a reference is left alone.
      while (j < n && j - first < 8) {
        const char16_t c = text[j].unicode();
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) break;
        value = value * (hex ? 16 : 10) + char32_t(digit);
        ++j;
      }
      const bool named = j > first && j - first <= 7 && j < n && text[j] == u';' && value != 0 &&
                         value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
      if (named) {
        out += QString::fromUcs4(&value, 1);
        i = j + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

}  // namespace kirasol
