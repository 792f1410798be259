#pragma once
// Splits the bytes that follow the station's headers into audio runs of
// lMetaInt bytes and the metadata blocks between them. Plain class: no
// sockets, no widgets; the recorder window feeds it chunks as they arrive.

#include "player/recorder/recorder_state.h"

#include <QByteArrayView>

namespace kirasol::recorder {

// Receives what the demultiplexer separates. Called synchronously from
// ProcessBuffer; the views are only valid during the call.
class DemuxSink {
 public:
  virtual ~DemuxSink() = default;
  // One contiguous piece of audio, in stream order (never empty).
  virtual void WriteOutFile(QByteArrayView sBuff) = 0;
  // The text of one complete metadata block of non-zero length.
  virtual void ShowTitle(QByteArrayView sMetaData) = 0;
};

class IcyDemultiplexer {
 public:
  IcyDemultiplexer(RecorderState &state, DemuxSink &sink) : state_(state), sink_(sink) {}

  // Consumes one step from the front of sBuffer: part or all of one audio run,
  // or a length byte and/or part or all of one metadata block. Returns the
  // unconsumed rest (a view into sBuffer). esMeta is the caller's
  // bInMetadata. With lMetaInt <= 0 the stream carries no metadata: every
  // byte is audio and the run counter stays 0, so any point is a run start.
  QByteArrayView ProcessBuffer(QByteArrayView sBuffer, bool &esMeta);

 private:
  RecorderState &state_;
  DemuxSink &sink_;
};

}  // namespace kirasol::recorder
