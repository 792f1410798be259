#pragma once
// Module2.DownloadToFolder: fetch one file into a folder.

#include "common/dialogs.h"
#include "common/transfer.h"

#include <QString>

class QWidget;

namespace kirasol::live_update {

// The text of the information box shown when the download fails.
inline const QString kDownloadFailedText = QStringLiteral("โปรแกรมของท่านยังรันอยู่ กรุณาปิดโปรแกรมก่อนอัพเดทค่ะ");

// Fetches `url` and stores the bytes in `folder` under the URL's last path
// segment, replacing an earlier file of that name completely. True when the
// file was written. False without a word when the fetcher is still busy with
// an earlier request; False after an information box (through `dialogs`)
// when the fetch failed (no connection, a status other than 200, a body cut
// short) or the file could not be written. A failed fetch leaves an earlier
// file untouched.
bool DownloadToFolder(UrlFetcher &fetcher, const QString &url, const QString &folder, Dialogs &dialogs,
                      QWidget *dialogParent = nullptr);

}  // namespace kirasol::live_update
