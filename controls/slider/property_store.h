#pragma once
// Where a control keeps its saved properties between runs. The control writes
// every key with its default; the store leaves out a value equal to that
// default, so a saved set only holds what differs from a fresh control, and a
// key that is absent reads back as the default the reader passes.

#include <QString>
#include <QStringList>
#include <QVariant>

#include <initializer_list>
#include <utility>
#include <vector>

namespace kirasol {

class PropertyStore {
 public:
  virtual ~PropertyStore() = default;

  // Stores `value` under `key`, or leaves the key out (removing an earlier
  // value) when `value` equals `defaultValue` (see sameProperty).
  virtual void write(const QString &key, const QVariant &value, const QVariant &defaultValue) = 0;

  // The stored value of `key`, or `defaultValue` when the key is absent.
  virtual QVariant read(const QString &key, const QVariant &defaultValue) const = 0;
};

// Equality as the store sees it: an invalid QVariant stands for "no picture"
// and equals an empty (null) QPixmap or QImage; two pictures are the same when
// they share their pixel data; numbers compare by value whatever their width.
bool sameProperty(const QVariant &a, const QVariant &b);

// A store in memory that remembers the order keys were first written in.
// A saved set can be written out directly, e.g. the main window's volume slider:
//   MemoryPropertyStore{{"BackColor", 0}, {"Value", 50}, {"Position", 1}}
class MemoryPropertyStore final : public PropertyStore {
 public:
  MemoryPropertyStore() = default;
  MemoryPropertyStore(std::initializer_list<std::pair<QString, QVariant>> entries);

  void write(const QString &key, const QVariant &value, const QVariant &defaultValue) override;
  QVariant read(const QString &key, const QVariant &defaultValue) const override;

  QStringList keys() const;  // in the order they were first written
  bool contains(const QString &key) const;

 private:
  std::vector<std::pair<QString, QVariant>> entries_;
};

}  // namespace kirasol
