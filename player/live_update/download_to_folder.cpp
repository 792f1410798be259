#include "player/live_update/download_to_folder.h"

#include "common/atomic_file.h"

#include <QDir>
#include <QUrl>

namespace kirasol::live_update {

bool DownloadToFolder(UrlFetcher &fetcher, const QString &url, const QString &folder, Dialogs &dialogs,
                      QWidget *dialogParent) {
  if (fetcher.busy()) return false;
  const QString name = QUrl(url).fileName();
  bool written = false;
  if (!name.isEmpty() && name != u"." && name != u"..") {
    const FetchResult result = fetcher.fetch(QUrl(url));
    written = result.ok && replaceFileAtomically(QDir(folder).filePath(name), result.body);
  }
  if (!written) {
    dialogs.message(dialogParent, {kDownloadFailedText, QString(), MessageIcon::Information, MessageButtons::Ok});
  }
  return written;
}

}  // namespace kirasol::live_update
