#include "player/playback/net_radio.h"

#include "player/playback/net_radio_rules.h"

#include <QMetaObject>
#include <chrono>
#include <future>
#include <memory>

namespace kirasol {

NetRadio::NetRadio(AudioLibrary &audio, Dialogs &dialogs, QObject *parent)
    : QObject(parent), audio_(audio), dialogs_(dialogs) {}

NetRadio::~NetRadio() {
  shuttingDown_ = true;
  if (worker_.joinable()) worker_.join();
}

void NetRadio::setView(PlaybackView *view) { view_ = view; }

void NetRadio::post(std::function<void(PlaybackView &)> update) {
  QMetaObject::invokeMethod(
      this,
      [this, update = std::move(update)] {
        if (view_ != nullptr) update(*view_);
      },
      Qt::QueuedConnection);
}

bool NetRadio::startOpenStation(int preset) {
  if (hOpenThread != 0) return false;
  // The previous worker has cleared hOpenThread as its last step, so this
  // join returns at once.
  if (worker_.joinable()) worker_.join();
  if (++nextThreadId_ == 0) ++nextThreadId_;
  // Stored before the thread exists, so the worker's final clear cannot be
  // overtaken by this store.
  hOpenThread = nextThreadId_;
  worker_ = std::thread(&NetRadio::OpenStation, this, preset, StationUrls);
  return true;
}

void NetRadio::waitForWorker() {
  if (worker_.joinable()) worker_.join();
}

void NetRadio::OpenStation(int preset, QStringList urls) {
  post([](PlaybackView &v) { v.setNetRadioTimerEnabled(false); });
  audio_.StreamFree(CurrentChannel);
  post([](PlaybackView &v) {
    v.setStationText(QString::fromLatin1(kConnectingText));
    v.setBitRateText(QString());
    v.setSongText(QString());
  });

  const int index = stationUrlIndex(preset);
  const QByteArray url = index >= 0 && index < urls.size() ? urls.at(index).toUtf8() : QByteArray();
  CurrentChannel = audio_.StreamCreateURL(url.constData(), 0,
                                          BASS_STREAM_BLOCK | BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE,
                                          &NetRadio::StreamDownloadProc, this);
  if (CurrentChannel != 0) {
    post([](PlaybackView &v) { v.setNetRadioTimerEnabled(true); });
  } else {
    post([](PlaybackView &v) { v.setStationText(QString::fromLatin1(kNotPlayingText)); });
    ShowStreamError(stationUnreachableMessage());
  }
  hOpenThread = 0;
}

void NetRadio::ShowStreamError(const QString &message) {
  // The code belongs to this thread, the one whose call failed.
  const int code = audio_.ErrorGetCode();
  const QString text = message + QStringLiteral("\r\n\r\nerror code: ") + QString::number(code);
  auto closed = std::make_shared<std::promise<void>>();
  std::future<void> done = closed->get_future();
  QMetaObject::invokeMethod(
      this,
      [this, text, closed] {
        dialogs_.message(view_ != nullptr ? view_->boxOwner() : nullptr,
                         MessageRequest{text, QStringLiteral("Error"), MessageIcon::Warning, MessageButtons::Ok});
        closed->set_value();
      },
      Qt::QueuedConnection);
  // Not a blocking queued call: the UI thread may itself be waiting for this
  // worker (shutdown), so the wait gives up when the player is going away.
  while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    if (shuttingDown_) return;
  }
}

void NetRadio::netRadioTick() {
  const DWORD channel = CurrentChannel;
  const QWORD end = audio_.StreamGetFilePosition(channel, BASS_FILEPOS_END);
  const QWORD held = audio_.StreamGetFilePosition(channel, BASS_FILEPOS_BUFFER);
  const int percentage = bufferPercentage(held, end);
  const QWORD connected = audio_.StreamGetFilePosition(channel, BASS_FILEPOS_CONNECTED);

  if (connected != 0 && percentage <= kStartPercentage) {
    post([text = bufferingText(percentage)](PlaybackView &v) { v.setStationText(text); });
    return;
  }

  post([](PlaybackView &v) { v.setNetRadioTimerEnabled(false); });
  const char *headers = audio_.ChannelGetTags(channel, BASS_TAG_ICY);
  if (headers == nullptr) headers = audio_.ChannelGetTags(channel, BASS_TAG_HTTP);
  const StationHeaders station = parseStationHeaders(headers);
  if (station.name) post([text = *station.name](PlaybackView &v) { v.setStationText(text); });
  if (station.bitRate) post([text = bitRateText(*station.bitRate)](PlaybackView &v) { v.setBitRateText(text); });
  UpdateSongTitle();
  SetChannelSync(channel, BASS_SYNC_META, 0, &NetRadio::TitleSyncProc, this);
  SetChannelSync(channel, BASS_SYNC_END, 0, &NetRadio::StreamEndSyncProc, this);
  audio_.ChannelPlay(channel, FALSE);
}

void NetRadio::bass2Tick() {
  post([text = cpuText(audio_.GetCPU())](PlaybackView &v) { v.setCpuText(text); });
}

void NetRadio::UpdateSongTitle() {
  // The tag text stays valid only until the next block replaces it: copy it
  // now, on the calling thread.
  const char *meta = audio_.ChannelGetTags(CurrentChannel, BASS_TAG_META);
  if (meta == nullptr) return;
  const auto title = songTitleFromMeta(StringFromAnsiPtr(meta));
  if (!title) return;
  post([text = *title](PlaybackView &v) { v.setSongText(text); });
}

HSYNC NetRadio::SetChannelSync(DWORD handle, DWORD type, DWORD param, SYNCPROC *proc, void *user) {
  return audio_.ChannelSetSync(handle, type, static_cast<QWORD>(param), proc, user);
}

void NetRadio::StreamDownloadProc(const void *buffer, DWORD length, void *user) {
  if (length != 0 || buffer == nullptr) return;
  auto *self = static_cast<NetRadio *>(user);
  self->post([text = StringFromAnsiPtr(static_cast<const char *>(buffer))](PlaybackView &v) {
    v.setBitRateText(text);
  });
}

void NetRadio::TitleSyncProc(HSYNC, DWORD, DWORD, void *user) { static_cast<NetRadio *>(user)->UpdateSongTitle(); }

void NetRadio::StreamEndSyncProc(HSYNC, DWORD, DWORD, void *user) {
  static_cast<NetRadio *>(user)->post([](PlaybackView &v) {
    v.setStationText(QString::fromLatin1(kNotPlayingText));
    v.setBitRateText(QString());
    v.setSongText(QString());
  });
}

BOOL NetRadio::RecordingProc(HRECORD, const void *, DWORD, void *) { return TRUE; }

}  // namespace kirasol
