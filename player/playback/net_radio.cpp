#include "player/playback/net_radio.h"

#include "player/playback/net_radio_rules.h"

#include <QMetaObject>
#include <chrono>
#include <future>
#include <memory>
#include <utility>

namespace kirasol {

NetRadio::NetRadio(AudioLibrary &audio, Dialogs &dialogs, QObject *parent, std::unique_ptr<RetryTimer> retryTimer)
    : QObject(parent),
      audio_(audio),
      dialogs_(dialogs),
      retryTimer_(retryTimer ? std::move(retryTimer) : std::make_unique<QtRetryTimer>()),
      policy_(*retryTimer_, [this](int) { return startWorker(0, true); }) {}

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

void NetRadio::postWork(std::function<void()> work) {
  QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void NetRadio::showStationText(const QString &text) {
  postWork([this, text] { applyStationText(text); });
}

void NetRadio::applyStationText(const QString &text) {
  shownStation_ = text;
  if (view_ != nullptr) view_->setStationText(text);
}

void NetRadio::applyNotPlaying() {
  applyStationText(QString::fromLatin1(kNotPlayingText));
  if (view_ == nullptr) return;
  view_->setBitRateText(QString());
  view_->setSongText(QString());
}

bool NetRadio::startOpenStation(int preset) {
  if (!startWorker(preset, false)) {
    // Play after a Stop while that connection is still being made: the
    // listener wants it after all.
    if (policy_.phase() == ReconnectPolicy::Phase::Idle) policy_.listenerOpening();
    return false;
  }
  policy_.listenerOpening();
  return true;
}

void NetRadio::stopStation() {
  const ReconnectPolicy::Phase phase = policy_.phase();
  const bool stalled = std::exchange(stalled_, false);
  policy_.listenerStopped();
  playingChannel_ = 0;
  using Phase = ReconnectPolicy::Phase;
  if (phase == Phase::Buffering) {
    // Not playing yet, so the output's stop did not end it; its connection
    // would stay open for nothing.
    post([](PlaybackView &v) { v.setNetRadioTimerEnabled(false); });
    audio_.StreamFree(CurrentChannel);
  }
  // Playing: the texts stay as they are. Anything in between (connecting,
  // buffering, re-buffering, reconnecting) would now be untrue.
  if (stalled || (phase != Phase::Playing && phase != Phase::Idle)) postWork([this] { applyNotPlaying(); });
}

bool NetRadio::startWorker(int preset, bool reconnecting) {
  if (hOpenThread != 0) return false;
  // The previous worker has cleared hOpenThread as its last step, so this
  // join returns at once.
  if (worker_.joinable()) worker_.join();
  if (++nextThreadId_ == 0) ++nextThreadId_;
  // Stored before the thread exists, so the worker's final clear cannot be
  // overtaken by this store.
  hOpenThread = nextThreadId_;
  worker_ = std::thread(&NetRadio::OpenStation, this, preset, StationUrls, reconnecting);
  return true;
}

void NetRadio::waitForWorker() {
  if (worker_.joinable()) worker_.join();
}

void NetRadio::OpenStation(int preset, QStringList urls, bool reconnecting) {
  post([](PlaybackView &v) { v.setNetRadioTimerEnabled(false); });
  audio_.StreamFree(CurrentChannel);
  // While reconnecting the window keeps what it shows: the reconnecting text,
  // the last bit rate and title.
  if (!reconnecting) {
    showStationText(QString::fromLatin1(kConnectingText));
    post([](PlaybackView &v) {
      v.setBitRateText(QString());
      v.setSongText(QString());
    });
  }

  const int index = stationUrlIndex(preset);
  const QByteArray url = index >= 0 && index < urls.size() ? urls.at(index).toUtf8() : QByteArray();
  lastAnswerStatus_ = 0;
  CurrentChannel = audio_.StreamCreateURL(url.constData(), 0,
                                          BASS_STREAM_BLOCK | BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE,
                                          &NetRadio::StreamDownloadProc, this);
  const DWORD handle = CurrentChannel;
  if (handle != 0) {
    postWork([this, handle] { streamOpened(handle); });
  } else {
    // The code belongs to this thread, the one whose call failed. The box
    // is the UI thread's; this worker waits for it to be closed.
    const int code = audio_.ErrorGetCode();
    const int status = lastAnswerStatus_;
    auto closed = std::make_shared<std::promise<void>>();
    std::future<void> done = closed->get_future();
    postWork([this, code, status, closed] {
      streamOpenFailed(code, status);
      closed->set_value();
    });
    // Not a blocking queued call: the UI thread may itself be waiting for
    // this worker (shutdown), so the wait gives up when the player is going
    // away.
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      if (shuttingDown_) break;
    }
  }
  hOpenThread = 0;
}

void NetRadio::streamOpened(DWORD handle) {
  if (!policy_.opened()) {
    // Stop was pressed while connecting: Stop wins, the stream goes.
    audio_.StreamFree(handle);
    return;
  }
  if (view_ != nullptr) view_->setNetRadioTimerEnabled(true);
}

void NetRadio::streamOpenFailed(int code, int lastStatus) {
  switch (policy_.openFailed()) {
    case ReconnectPolicy::Failure::Report:
      applyStationText(QString::fromLatin1(kNotPlayingText));
      ShowStreamError(stationUnreachableMessage(), stationFailureCause(code, lastStatus), code);
      return;
    case ReconnectPolicy::Failure::Retrying:
      applyStationText(reconnectingText(policy_.attempt()));
      return;
    case ReconnectPolicy::Failure::Ignore:
      return;
  }
}

void NetRadio::ShowStreamError(const QString &message, const QString &cause, int code) {
  const QString text = message + (cause.isEmpty() ? QString() : QStringLiteral("\r\n") + cause) +
                       QStringLiteral("\r\n\r\nerror code: ") + QString::number(code);
  dialogs_.message(view_ != nullptr ? view_->boxOwner() : nullptr,
                   MessageRequest{text, QStringLiteral("Error"), MessageIcon::Warning, MessageButtons::Ok});
}

void NetRadio::netRadioTick() {
  const DWORD channel = CurrentChannel;
  const QWORD end = audio_.StreamGetFilePosition(channel, BASS_FILEPOS_END);
  const QWORD held = audio_.StreamGetFilePosition(channel, BASS_FILEPOS_BUFFER);
  const int percentage = bufferPercentage(held, end);
  const QWORD connected = audio_.StreamGetFilePosition(channel, BASS_FILEPOS_CONNECTED);

  if (connected != 0 && percentage <= kStartPercentage) {
    showStationText(bufferingText(percentage));
    return;
  }

  post([](PlaybackView &v) { v.setNetRadioTimerEnabled(false); });
  const char *headers = audio_.ChannelGetTags(channel, BASS_TAG_ICY);
  if (headers == nullptr) headers = audio_.ChannelGetTags(channel, BASS_TAG_HTTP);
  const StationHeaders station = parseStationHeaders(headers);
  if (station.name) showStationText(*station.name);
  // Without an icy-br line the field would keep the server's status line
  // from connecting ("HTTP/1.0 200 OK"), which is no bit rate.
  if (headers != nullptr)
    post([text = station.bitRate ? bitRateText(*station.bitRate) : QString()](PlaybackView &v) {
      v.setBitRateText(text);
    });
  UpdateSongTitle();
  SetChannelSync(channel, BASS_SYNC_META, 0, &NetRadio::TitleSyncProc, this);
  SetChannelSync(channel, BASS_SYNC_END, 0, &NetRadio::StreamEndSyncProc, this);
  audio_.ChannelPlay(channel, FALSE);
  if (policy_.phase() == ReconnectPolicy::Phase::Buffering) {
    policy_.playbackStarted(connected != 0);
    playingChannel_ = channel;
    playingName_ = station.name.value_or(shownStation_);
    heardPlaying_ = stalled_ = false;
  }
}

void NetRadio::bass2Tick() {
  post([text = cpuText(audio_.GetCPU())](PlaybackView &v) { v.setCpuText(text); });
}

void NetRadio::watchPlayback() {
  const DWORD channel = playingChannel_;
  if (channel == 0 || channel != CurrentChannel) return;
  const DWORD state = audio_.ChannelIsActive(channel);
  // Right after the start a stream waits for its first audio; only a stream
  // that was heard can run dry.
  if (state == BASS_ACTIVE_PLAYING) heardPlaying_ = true;
  if (state == BASS_ACTIVE_STALLED && heardPlaying_) {
    stalled_ = true;
    const QWORD end = audio_.StreamGetFilePosition(channel, BASS_FILEPOS_END);
    showStationText(bufferingText(bufferPercentage(audio_.StreamGetFilePosition(channel, BASS_FILEPOS_BUFFER), end)));
  } else if (stalled_ && state != BASS_ACTIVE_STALLED) {
    stalled_ = false;
    if (state == BASS_ACTIVE_PLAYING) showStationText(playingName_);
  }
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
  self->lastAnswerStatus_ = statusCodeOfBlock(static_cast<const char *>(buffer));
  self->post([text = StringFromAnsiPtr(static_cast<const char *>(buffer))](PlaybackView &v) {
    v.setBitRateText(text);
  });
}

void NetRadio::TitleSyncProc(HSYNC, DWORD, DWORD, void *user) { static_cast<NetRadio *>(user)->UpdateSongTitle(); }

void NetRadio::StreamEndSyncProc(HSYNC, DWORD channel, DWORD, void *user) {
  auto *self = static_cast<NetRadio *>(user);
  self->postWork([self, channel] { self->streamEnded(channel); });
}

void NetRadio::streamEnded(DWORD channel) {
  // An end that was on its way while the listener already opened another
  // stream says nothing about that one.
  if (channel != CurrentChannel) return;
  playingChannel_ = 0;
  stalled_ = false;
  if (policy_.streamEnded())
    applyStationText(reconnectingText(policy_.attempt()));
  else if (policy_.phase() == ReconnectPolicy::Phase::Idle)
    applyNotPlaying();
}

BOOL NetRadio::RecordingProc(HRECORD, const void *, DWORD, void *) { return TRUE; }

}  // namespace kirasol
