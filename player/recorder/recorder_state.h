#pragma once
// The recorder window's state, shared by the station client, the
// demultiplexer, the recording files and the relay. Widths are fixed because
// the counters are compared with values from the wire.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

namespace kirasol::recorder {

// Port of the relay for a local player.
inline constexpr quint16 RELAY_PORT = 8000;

struct RecorderState {
  bool bPlayerWaiting = false;  // the local player has the headers and waits for a run start
  bool bRelaying = false;       // every station chunk is forwarded to the local player
  bool bIcyOK = false;          // the station's response headers are accepted
  QByteArray sIcyHeaders;       // accepted headers, through the blank line
  QByteArray sHeaderBuffer;     // everything received while bIcyOK is false
  QByteArray sMetaBuffer;       // text of the metadata block being gathered
  std::int32_t lMetaInt = 0;    // audio bytes between metadata blocks; 0 = no metadata in the stream
  std::int32_t lMetaLength = 0; // 16 x length byte of the current block; 0 = length byte still to come
  std::int32_t lAudioCount = 0; // audio bytes of the current run seen so far
  bool bInMetadata = false;     // the next stream byte belongs to a metadata block
  std::int16_t iFileNum = 0;    // open recording file, 0 = none
  std::int32_t lBytesWritten = 0;  // bytes in the current recording file (saturates)
  QDateTime dStartTime;         // when the current recording file was created
  QString sRequestPath;         // path sent in the request line

  // What a re-tune clears: everything but dStartTime.
  void resetForTune(const QString &path) {
    const QDateTime keep = dStartTime;
    *this = RecorderState{};
    dStartTime = keep;
    sRequestPath = path.isEmpty() ? QStringLiteral("/") : path;
  }

  // What a reconnect to the same station clears: the reading of the old
  // connection's bytes. The recording file and the relay's player go on.
  void resetForReconnect() {
    bIcyOK = false;
    sIcyHeaders.clear();
    sHeaderBuffer.clear();
    sMetaBuffer.clear();
    lMetaInt = 0;
    lMetaLength = 0;
    lAudioCount = 0;
    bInMetadata = false;
  }
};

}  // namespace kirasol::recorder
