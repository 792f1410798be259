#include "controls/slider/property_store.h"

#include <QImage>
#include <QPixmap>

#include <algorithm>

namespace kirasol {

namespace {

bool isPicture(const QVariant &v) {
  const int id = v.metaType().id();
  return id == QMetaType::QPixmap || id == QMetaType::QImage;
}

// Pixel data key of a picture, 0 for "no picture".
qint64 pictureKey(const QVariant &v) {
  if (!v.isValid()) return 0;
  if (v.metaType().id() == QMetaType::QPixmap) {
    const auto p = v.value<QPixmap>();
    return p.isNull() ? 0 : p.cacheKey();
  }
  const auto i = v.value<QImage>();
  return i.isNull() ? 0 : i.cacheKey();
}

bool isNumber(const QVariant &v) {
  switch (v.metaType().id()) {
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Int: case QMetaType::UInt:
    case QMetaType::Long: case QMetaType::ULong: case QMetaType::LongLong:
    case QMetaType::ULongLong: case QMetaType::Char: case QMetaType::SChar:
    case QMetaType::UChar: case QMetaType::Bool:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool sameProperty(const QVariant &a, const QVariant &b) {
  if (isPicture(a) || isPicture(b) || !a.isValid() || !b.isValid()) {
    if ((isPicture(a) || !a.isValid()) && (isPicture(b) || !b.isValid())) {
      return pictureKey(a) == pictureKey(b);
    }
    return false;
  }
  if (isNumber(a) && isNumber(b)) {
    // Unsigned 32-bit colours (0x8000000F) and signed numbers both fit in 64 bits.
    return a.toLongLong() == b.toLongLong();
  }
  return a == b;
}

MemoryPropertyStore::MemoryPropertyStore(
    std::initializer_list<std::pair<QString, QVariant>> entries) {
  for (const auto &[key, value] : entries) write(key, value, QVariant());
}

void MemoryPropertyStore::write(const QString &key, const QVariant &value,
                                const QVariant &defaultValue) {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const auto &e) { return e.first == key; });
  if (sameProperty(value, defaultValue)) {
    if (it != entries_.end()) entries_.erase(it);
    return;
  }
  if (it != entries_.end()) {
    it->second = value;
  } else {
    entries_.emplace_back(key, value);
  }
}

QVariant MemoryPropertyStore::read(const QString &key, const QVariant &defaultValue) const {
  for (const auto &e : entries_) {
    if (e.first == key) return e.second;
  }
  return defaultValue;
}

QStringList MemoryPropertyStore::keys() const {
  QStringList out;
  for (const auto &e : entries_) out << e.first;
  return out;
}

bool MemoryPropertyStore::contains(const QString &key) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const auto &e) { return e.first == key; });
}

}  // namespace kirasol
