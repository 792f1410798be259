#include "player/live_update/download_to_folder.h"

#include "common/atomic_file.h"

#include <QDir>
#include <QPointer>
#include <QUrl>
#include <QWidget>

namespace kirasol::live_update {

DownloadResult DownloadToFolder(UrlFetcher &fetcher, const QString &url, const QString &folder, Dialogs &dialogs,
                                QWidget *dialogParent) {
  if (fetcher.busy()) return DownloadResult::Busy;
  // The fetch keeps window events flowing: the parent may be gone by the end.
  const QPointer<QWidget> parent(dialogParent);
  const QString name = QUrl(url).fileName();
  if (!name.isEmpty() && name != u"." && name != u"..") {
    const FetchResult result = fetcher.fetch(QUrl(url));
    if (!result.ok) return DownloadResult::FetchFailed;
    if (replaceFileAtomically(QDir(folder).filePath(name), result.body)) return DownloadResult::Written;
  }
  dialogs.message(parent, {kDownloadFailedText, QString(), MessageIcon::Information, MessageButtons::Ok});
  return DownloadResult::NotStored;
}

}  // namespace kirasol::live_update
