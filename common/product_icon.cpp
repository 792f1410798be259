#include "common/product_icon.h"

#include <QCoreApplication>
#include <QDir>

namespace kirasol {

QIcon productIcon() {
  const QDir icons(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("icons")));
  QIcon icon;
  icon.addFile(icons.filePath(QStringLiteral("kirasol-radio-64.png")));
  icon.addFile(icons.filePath(QStringLiteral("kirasol-radio-256.png")));
  return icon;
}

}  // namespace kirasol
