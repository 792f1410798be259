#include "player/recorder/icy_demultiplexer.h"

namespace kirasol::recorder {

QByteArrayView IcyDemultiplexer::ProcessBuffer(QByteArrayView sBuffer, bool &esMeta) {
  if (sBuffer.isEmpty()) return sBuffer;
  RecorderState &s = state_;

  if (!esMeta) {
    if (s.lMetaInt <= 0) {
      sink_.WriteOutFile(sBuffer);
      return {};
    }
    const qsizetype need = qsizetype(s.lMetaInt) - s.lAudioCount;
    if (need > sBuffer.size()) {
      s.lAudioCount += std::int32_t(sBuffer.size());
      sink_.WriteOutFile(sBuffer);
      return {};
    }
    if (need > 0) sink_.WriteOutFile(sBuffer.first(need));
    s.lAudioCount = 0;
    esMeta = true;
    return sBuffer.sliced(need);
  }

  if (s.lMetaLength == 0) {
    const int lengthByte = static_cast<unsigned char>(sBuffer.front());
    sBuffer = sBuffer.sliced(1);
    if (lengthByte == 0) {
      esMeta = false;
      return sBuffer;
    }
    s.lMetaLength = 16 * lengthByte;
  }
  const qsizetype lacking = s.lMetaLength - s.sMetaBuffer.size();
  const qsizetype take = qMin(lacking, sBuffer.size());
  if (s.sMetaBuffer.isEmpty() && take == s.lMetaLength) {
    // Whole block in this chunk: hand it over without copying.
    s.lMetaLength = 0;
    esMeta = false;
    sink_.ShowTitle(sBuffer.first(take));
    return sBuffer.sliced(take);
  }
  s.sMetaBuffer.append(sBuffer.first(take));
  if (s.sMetaBuffer.size() < s.lMetaLength) return {};
  const QByteArray block = std::move(s.sMetaBuffer);
  s.sMetaBuffer = QByteArray();
  s.lMetaLength = 0;
  esMeta = false;
  sink_.ShowTitle(block);
  return sBuffer.sliced(take);
}

}  // namespace kirasol::recorder
