#pragma once
// The recorder window: its own connection to the station, recording to MP3
// files (one per song if wanted) and the relay for a local player. The
// deciding logic lives in IcyDemultiplexer, station_protocol, recording_files
// and RelayServer; this class wires them to the controls.

#include "common/dialogs.h"
#include "player/recorder/icy_demultiplexer.h"
#include "player/recorder/mp3_frame_tracker.h"
#include "player/recorder/recorder_state.h"
#include "player/recorder/recording_files.h"
#include "player/recorder/relay_server.h"
#include "player/recorder/station_connection.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kirasol::recorder {

class frmReccord : public QWidget, private DemuxSink {
  Q_OBJECT
 public:
  explicit frmReccord(Dialogs &dialogs, quint16 relayPort = RELAY_PORT, QWidget *parent = nullptr);
  ~frmReccord() override;

  // Connects (or reconnects) to the station; what cmdTune does after reading
  // and checking the server and port fields.
  void Tune(const QString &ServerIP, std::int32_t Port, const QString &Path);

  const RecorderState &state() const { return state_; }
  const RelayServer &relay() const { return relay_; }
  const StationConnection &station() const { return sckReceiver; }
  // Path of the open recording file; empty when none.
  QString recordingPath() const { return file_.isOpen() ? file_.path() : QString(); }

 protected:
  void closeEvent(QCloseEvent *event) override;

 private:
  void buildControls();
  void cmdTune_Click();
  void sckReceiver_Connect();
  void sckReceiver_DataArrival(const QByteArray &data);
  void sckReceiver_Close();
  void sckReceiver_Error();
  void headersRefused(const QString &why);
  bool stationUnavailable() const;
  void stationGone();
  void tellCannotRecord(const QString &why);
  void processChunk(QByteArrayView chunk);
  void atRunStart();
  void ShowInfo(QByteArrayView sIcy);
  void ShowTitle(QByteArrayView sMetaData) override;
  void WriteOutFile(QByteArrayView sBuff) override;
  void CmdRecord_Click(bool pressed);
  bool CreateOutFile();
  void CloseOutFile();
  void cutSongFile();
  void appendAudio(QByteArrayView audio);
  void dropUnfinishedFrame();
  void refreshDisplay();
  void stopRecordingWithMessage(const QString &text);

  Dialogs &dialogs_;
  RecorderState state_;
  IcyDemultiplexer demux_;
  RelayServer relay_;
  RecordingFile file_;
  SongRotation rotation_;
  // File boundaries: a new file waits for the next frame start (awaitFrame_),
  // and a song cut due at a run start waits for the end of the frame that
  // the metadata block fell into (cutPending_).
  Mp3FrameTracker frames_;
  bool awaitFrame_ = false;
  bool cutPending_ = false;
  qint64 fileAudio_ = 0;      // audio bytes in the open file, tag not counted
  bool tagPending_ = false;   // the tag goes in just before the file's first audio
  QString tagTitle_;          // the song's stream title; null for a file not named after a song
  QString fileName_;
  QString stationName_;       // from icy-name:, empty without one
  QString songTitle_;         // the latest stream title, decoded
  StationConnection sckReceiver;
  bool tunedBefore_ = false;

  QLabel *lblServer = nullptr;
  QLineEdit *txtServer = nullptr;
  QLabel *lblPort = nullptr;
  QLineEdit *txtPort = nullptr;
  QPushButton *cmdTune = nullptr;
  QLabel *lblRadio = nullptr;
  QLabel *lblBitrate = nullptr;
  QLabel *lblTitle = nullptr;
  QPushButton *CmdRecord = nullptr;
  QGroupBox *fmeOptions = nullptr;
  QCheckBox *chkFilebysong = nullptr;
  QCheckBox *chkTags = nullptr;
  QLabel *Label1 = nullptr;
  QLineEdit *txtOutPath = nullptr;
  QLabel *lblFile = nullptr;
  QLabel *lblSize = nullptr;
  QLabel *lblTime = nullptr;
  QLabel *lblStatus = nullptr;
  QLabel *lblWinampStatus = nullptr;
};

// Shows the one recorder window held in `window`, creating it when there is
// none (after a close it is created afresh), and brings it to the front.
frmReccord *showRecorderWindow(QPointer<frmReccord> &window, Dialogs &dialogs, QWidget *parent = nullptr,
                               quint16 relayPort = RELAY_PORT);

}  // namespace kirasol::recorder
