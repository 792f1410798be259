#pragma once
// Module2.DownloadToFolder: fetch one file into a folder.

#include "common/dialogs.h"
#include "common/transfer.h"

#include <QString>

class QWidget;

namespace kirasol::live_update {

// The text of the information box shown when the fetched file cannot be
// stored: on the systems the program came from, a file that cannot be
// replaced is one a running copy still holds.
inline const QString kDownloadFailedText = QStringLiteral("โปรแกรมของท่านยังรันอยู่ กรุณาปิดโปรแกรมก่อนอัพเดทค่ะ");

enum class DownloadResult {
  Written,      // the file now holds exactly the fetched bytes
  Busy,         // the fetcher still runs an earlier request; nothing done
  FetchFailed,  // no connection, a status other than 200, a body cut short
  NotStored,    // fetched, but the file could not be written (or the URL names none)
};

// Fetches `url` and stores the bytes in `folder` under the URL's last path
// segment, replacing an earlier file of that name completely. Only a file
// that cannot be stored shows the information box (through `dialogs`): an
// update server that cannot be reached says nothing about a running copy,
// so a failed fetch is left to the caller to tell. A failed fetch leaves an
// earlier file untouched.
DownloadResult DownloadToFolder(UrlFetcher &fetcher, const QString &url, const QString &folder, Dialogs &dialogs,
                                QWidget *dialogParent = nullptr);

}  // namespace kirasol::live_update
