#include "player/recorder/frm_reccord.h"

#include "common/text_codec.h"
#include "player/recorder/id3_tag.h"
#include "player/recorder/station_protocol.h"

#include <kirasol/build_settings.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <limits>

namespace kirasol::recorder {

namespace {

const QString kCreateTitle = QStringLiteral("สร้าง MP3 ไฟล์");

QString noStationText(const QString &why) {
  return QStringLiteral("ไม่สามารถบันทึกได้ เนื่องจากยังไม่ได้เชื่อมต่อกับสถานีค่ะ\n\n%1").arg(why);
}

QString defaultOutPath() {
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (!music.isEmpty() && QDir(music).exists()) return music;
  return QDir::homePath();
}

template <typename W>
W *named(W *widget, const char *name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

}  // namespace

frmReccord::frmReccord(Dialogs &dialogs, quint16 relayPort, QWidget *parent)
    : QWidget(parent), dialogs_(dialogs), demux_(state_, *this), relay_(state_, relayPort) {
  setObjectName(QStringLiteral("frmReccord"));
  setWindowTitle(QStringLiteral("KIRASOL RADIO RECCORD [โปรแกรมบันทึกรายการเพลง]"));
  buildControls();

  connect(cmdTune, &QPushButton::clicked, this, &frmReccord::cmdTune_Click);
  // toggled, not clicked: setting the button back in code runs the handler too.
  connect(CmdRecord, &QPushButton::toggled, this, &frmReccord::CmdRecord_Click);
  connect(&relay_, &RelayServer::statusChanged, lblWinampStatus, &QLabel::setText);
  connect(&sckReceiver, &StationConnection::connected, this, &frmReccord::sckReceiver_Connect);
  connect(&sckReceiver, &StationConnection::dataArrived, this, &frmReccord::sckReceiver_DataArrival);
  connect(&sckReceiver, &StationConnection::closed, this, &frmReccord::sckReceiver_Close);
  connect(&sckReceiver, &StationConnection::failed, this, &frmReccord::sckReceiver_Error);
  // While the station is away the recording file and the relay's player stay;
  // only the reading of the lost connection's bytes starts over.
  connect(&sckReceiver, &StationConnection::reconnectScheduled, this, [this](std::chrono::seconds wait) {
    // The lost connection's last frame will never be finished; the returned
    // stream begins with a frame of its own.
    dropUnfinishedFrame();
    frames_.reset();
    state_.resetForReconnect();
    lblRadio->setText(QStringLiteral("Disconnected - reconnecting in %1 s...").arg(wait.count()));
    relay_.stationLost(QStringLiteral("the station dropped; reconnecting"));
  });
  connect(&sckReceiver, &StationConnection::reconnecting, this,
          [this] { lblRadio->setText(QStringLiteral("Reconnecting...")); });

  // Form load: nothing connects until cmdTune is pressed.
  lblStatus->setVisible(false);
  lblFile->setEnabled(false);
  lblSize->setEnabled(false);
  lblTime->setEnabled(false);
}

frmReccord::~frmReccord() {
  sckReceiver.close();
  CloseOutFile();
}

void frmReccord::buildControls() {
  lblServer = named(new QLabel(QStringLiteral("Server IP:"), this), "lblServer");
  txtServer = named(new QLineEdit(QString::fromUtf8(settings::kStationServer), this), "txtServer");
  lblPort = named(new QLabel(QStringLiteral("Port:"), this), "lblPort");
  txtPort = named(new QLineEdit(QStringLiteral("8620"), this), "txtPort");
  cmdTune = named(new QPushButton(QStringLiteral("สถานี"), this), "cmdTune");
  lblRadio = named(new QLabel(QStringLiteral("Radio"), this), "lblRadio");
  lblBitrate = named(new QLabel(QStringLiteral("Bitrate:"), this), "lblBitrate");
  lblTitle = named(new QLabel(QStringLiteral("Title:"), this), "lblTitle");
  CmdRecord = named(new QPushButton(QStringLiteral("บันทึก"), this), "CmdRecord");
  CmdRecord->setCheckable(true);
  fmeOptions = named(new QGroupBox(QStringLiteral("จัดการบันทึก :"), this), "fmeOptions");
  chkFilebysong = named(new QCheckBox(QStringLiteral("สร้างไฟล์เพลงใหม่เอง (ศิลปิน - ชื่อเพลง.mp3)"), fmeOptions),
                        "chkFilebysong");
  chkTags = named(new QCheckBox(QStringLiteral("ใส่ชื่อเพลง ศิลปิน และสถานีไว้ในไฟล์ (ID3)"), fmeOptions), "chkTags");
  chkTags->setChecked(true);
  Label1 = named(new QLabel(QStringLiteral("บันทึกใน :"), fmeOptions), "Label1");
  txtOutPath = named(new QLineEdit(defaultOutPath(), fmeOptions), "txtOutPath");
  lblFile = named(new QLabel(QStringLiteral("File:"), this), "lblFile");
  lblSize = named(new QLabel(QStringLiteral("Size:"), this), "lblSize");
  lblTime = named(new QLabel(QStringLiteral("Time:"), this), "lblTime");
  lblStatus = named(new QLabel(QStringLiteral("REC"), this), "lblStatus");
  lblStatus->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  lblWinampStatus = named(new QLabel(QStringLiteral("สถานะโปรแกรม Winamp"), this), "lblWinampStatus");
  // The text fields are named after the captions beside them, for screen
  // readers and Alt+letter alike.
  lblServer->setBuddy(txtServer);
  lblPort->setBuddy(txtPort);
  Label1->setBuddy(txtOutPath);
  // Texts from the station (a title may be 4 KB long) are cut at the
  // window's edge instead of stretching the window.
  for (QLabel *label : {lblRadio, lblTitle, lblFile}) label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  // Size and time change with every piece of the stream. At a fixed size, as
  // wide as their widest text, a change is only repainted: the window is not
  // laid out again ten times a second.
  const auto fixToWidest = [](QLabel *label, const QString &widest) {
    const QString shown = label->text();
    label->setText(widest);
    label->setFixedSize(label->sizeHint());
    label->setText(shown);
    // Opaque over the same window colour: the window under it is not
    // painted again with each change.
    label->setAutoFillBackground(true);
  };
  fixToWidest(lblSize, sizeText(std::numeric_limits<std::int32_t>::max()));
  fixToWidest(lblTime, timeText(99999 * 60 + 59));

  auto *server = new QHBoxLayout;
  server->addWidget(lblServer);
  server->addWidget(txtServer, 1);
  server->addWidget(lblPort);
  server->addWidget(txtPort);
  server->addWidget(cmdTune);

  auto *options = new QGridLayout(fmeOptions);
  options->addWidget(chkFilebysong, 0, 0, 1, 2);
  options->addWidget(chkTags, 1, 0, 1, 2);
  options->addWidget(Label1, 2, 0);
  options->addWidget(txtOutPath, 2, 1);

  auto *record = new QHBoxLayout;
  record->addWidget(CmdRecord);
  record->addWidget(lblStatus);
  record->addStretch(1);

  auto *progress = new QHBoxLayout;
  progress->addWidget(lblFile, 1);
  progress->addWidget(lblSize);
  progress->addWidget(lblTime);

  auto *layout = new QVBoxLayout(this);
  layout->addLayout(server);
  layout->addWidget(lblRadio);
  layout->addWidget(lblBitrate);
  layout->addWidget(lblTitle);
  layout->addLayout(record);
  layout->addWidget(fmeOptions);
  layout->addLayout(progress);
  layout->addWidget(lblWinampStatus);
  resize(480, 330);
}

// --- station connection ----------------------------------------------------

void frmReccord::cmdTune_Click() {
  const StationTarget target = splitServerText(txtServer->text());
  std::int32_t port = 0;
  const QString problem = targetProblem(target, txtPort->text(), &port);
  if (!problem.isEmpty()) {
    lblRadio->setText(problem);
    return;
  }
  Tune(target.host, port, target.path);
}

void frmReccord::Tune(const QString &ServerIP, std::int32_t Port, const QString &Path) {
  relay_.DownServer();
  // A re-tune ends the recording: the file is closed and the button released,
  // so the window never claims to record while nothing is written. A
  // recording started before the first tune carries on into it.
  if (tunedBefore_) CmdRecord->setChecked(false);
  tunedBefore_ = true;
  const std::int32_t written = state_.lBytesWritten;
  state_.resetForTune(Path);
  frames_.reset();
  cutPending_ = false;
  if (file_.isOpen()) {
    state_.iFileNum = 1;
    state_.lBytesWritten = written;
  }
  relay_.StartServer();
  relay_.stationPending();
  sckReceiver.open(ServerIP, quint16(Port));
}

void frmReccord::sckReceiver_Connect() {
  lblRadio->setText(QStringLiteral("Connected"));
  sckReceiver.send(buildRequest(sckReceiver.peerAddress(), state_.sRequestPath));
}

void frmReccord::sckReceiver_Close() {
  lblRadio->setText(QStringLiteral("Disconnected"));
  stationGone();
}

void frmReccord::sckReceiver_Error() {
  lblRadio->setText(QStringLiteral("Error ocurred"));
  stationGone();
}

bool frmReccord::stationUnavailable() const {
  const bool connecting = sckReceiver.isOpen() && !sckReceiver.recovering();
  return tunedBefore_ && !state_.bIcyOK && !connecting;
}

// The first connection of a tune has failed for good (refused, closed or
// unreachable), so nothing will arrive: the relay refuses players, and a
// recording waiting for this station ends with its reason instead of
// showing REC over an empty file.
void frmReccord::stationGone() {
  relay_.stationLost(lblRadio->text());
  if (!CmdRecord->isChecked() || state_.lBytesWritten != 0) return;
  const QString path = file_.path();
  const bool opened = file_.isOpen();
  const QString why = lblRadio->text();
  CmdRecord->setChecked(false);
  if (opened) QFile::remove(path);
  tellCannotRecord(why);
}

// After the click or socket handler has returned, as for every box here.
void frmReccord::tellCannotRecord(const QString &why) {
  QTimer::singleShot(0, this, [this, why] {
    dialogs_.message(this, {noStationText(why), kCreateTitle, MessageIcon::Warning, MessageButtons::Ok});
  });
}

void frmReccord::sckReceiver_DataArrival(const QByteArray &data) {
  QByteArray chunk = data;
  if (!state_.bIcyOK) {
    state_.sHeaderBuffer.append(chunk);
    const auto length = acceptedHeaderLength(state_.sHeaderBuffer);
    if (!length) {
      // A complete header block without the ICY status (an Icecast or web
      // server answering in plain HTTP) is final; so is a block that never ends.
      if (const auto block = headerBlockLength(state_.sHeaderBuffer)) {
        headersRefused(notIcyStationText(QByteArrayView(state_.sHeaderBuffer).first(*block)));
      } else if (state_.sHeaderBuffer.size() > kMaxHeaderBytes) {
        headersRefused(QStringLiteral("Error ocurred"));
      }
      return;
    }
    state_.sIcyHeaders = state_.sHeaderBuffer.left(*length);
    state_.lMetaInt = metaIntFrom(state_.sIcyHeaders);
    chunk = state_.sHeaderBuffer.mid(*length);
    state_.sHeaderBuffer.clear();
    ShowInfo(state_.sIcyHeaders);
    state_.bIcyOK = true;
    state_.bInMetadata = false;
    sckReceiver.streamAccepted(bitRateFrom(state_.sIcyHeaders));
    relay_.stationReady();
    atRunStart();  // the stream begins with an audio run
  }
  processChunk(chunk);
}

void frmReccord::headersRefused(const QString &why) {
  state_.sHeaderBuffer.clear();
  // While recovering, a refused answer is one more failed attempt and the
  // reconnect status says so; otherwise the reason stays on screen.
  if (!sckReceiver.refuse()) {
    lblRadio->setText(why);
    stationGone();
  }
}

void frmReccord::processChunk(QByteArrayView chunk) {
  while (!chunk.isEmpty()) {
    chunk = demux_.ProcessBuffer(chunk, state_.bInMetadata);
    if (!state_.bInMetadata && state_.lAudioCount == 0) atRunStart();
  }
  if (state_.iFileNum != 0) refreshDisplay();
}

// Between a metadata block and the audio after it: where the relay may begin
// and where the station puts a song change. The song file is cut at the
// frame start at or after this point, so that both files hold whole frames:
// a frame that the block fell into ends the old song's file.
void frmReccord::atRunStart() {
  relay_.startCheck();
  if (CmdRecord->isChecked() && chkFilebysong->isChecked() && rotation_.cutDue()) {
    cutPending_ = true;
    if (frames_.atBoundary() || state_.iFileNum == 0) cutSongFile();
  }
}

void frmReccord::cutSongFile() {
  cutPending_ = false;
  if (!CmdRecord->isChecked() || !chkFilebysong->isChecked()) return;
  CloseOutFile();
  if (!CreateOutFile()) CmdRecord->setChecked(false);
}

void frmReccord::ShowInfo(QByteArrayView sIcy) {
  stationName_ = stationName(sIcy).value_or(QString());
  lblRadio->setText(stationNameText(sIcy));
  lblBitrate->setText(bitrateText(sIcy));
}

// Every metadata block and audio piece reaches the relay as well; the
// file-per-song cut itself waits for the run start that follows (atRunStart).
void frmReccord::ShowTitle(QByteArrayView sMetaData) {
  relay_.relayBlock(sMetaData);
  lblTitle->setText(titleText(sMetaData));
  const auto title = streamTitle(sMetaData);
  songTitle_ = title ? decodeText(*title) : QString();
  if (CmdRecord->isChecked() && chkFilebysong->isChecked()) rotation_.titleArrived(lblTitle->text());
}

// --- recording files -------------------------------------------------------

void frmReccord::CmdRecord_Click(bool pressed) {
  if (pressed) {
    // Before the first tune a recording may wait for it; once tuned, only a
    // station that is streaming or still being connected to can be recorded.
    if (stationUnavailable()) {
      CmdRecord->setChecked(false);
      tellCannotRecord(lblRadio->text());
      return;
    }
    if (CreateOutFile()) {
      CmdRecord->setText(QStringLiteral("หยุด"));
      lblStatus->setVisible(true);
      lblFile->setEnabled(true);
      lblSize->setEnabled(true);
      lblTime->setEnabled(true);
    } else {
      CmdRecord->setChecked(false);  // runs the release branch below
    }
    return;
  }
  CloseOutFile();
  CmdRecord->setText(QStringLiteral("บันทึก"));
  lblStatus->setVisible(false);
  lblFile->setEnabled(false);
  lblSize->setEnabled(false);
  lblTime->setEnabled(false);
}

bool frmReccord::CreateOutFile() {
  if (state_.iFileNum != 0) CloseOutFile();
  state_.lBytesWritten = 0;
  state_.dStartTime = QDateTime::currentDateTime();

  QString name;
  if (chkFilebysong->isChecked()) {
    name = titleFileName(lblTitle->text());
  } else {
    const auto answer = dialogs_.input(this, QStringLiteral("กรุณาใส่ชื่อไฟล์: "), kCreateTitle,
                                       proposedFileName(QTime::currentTime()));
    if (!answer || answer->isEmpty()) return false;
    name = *answer;
  }

  const RecordingFile::OpenResult opened = file_.open(outputFolder(txtOutPath->text()), safeFileName(name));
  if (!opened.ok) {
    const QString error = opened.error;
    QTimer::singleShot(0, this, [this, error] {
      dialogs_.message(this, {error, kCreateTitle, MessageIcon::Critical, MessageButtons::Ok});
    });
    return false;
  }
  state_.iFileNum = 1;
  rotation_.fileOpened(chkFilebysong->isChecked() ? lblTitle->text() : QString());
  awaitFrame_ = true;
  fileAudio_ = 0;
  tagPending_ = chkTags->isChecked();
  tagTitle_ = chkFilebysong->isChecked() && !songTitle_.isEmpty() ? songTitle_ : QString();
  fileName_ = opened.name;
  lblFile->setText(QStringLiteral("File: ") + opened.name);
  return true;
}

// Audio goes to the file in the largest pieces the frame boundaries allow:
// the whole piece, unless a new file waits for its first frame or a song cut
// waits for the end of the current frame.
void frmReccord::WriteOutFile(QByteArrayView sBuff) {
  relay_.relayAudio(sBuff);
  while (!sBuff.isEmpty()) {
    if (state_.iFileNum != 0 && frames_.atBoundary()) {
      if (cutPending_) cutSongFile();
      awaitFrame_ = false;
    }
    const bool holdAtBoundary = state_.iFileNum != 0 && (awaitFrame_ || cutPending_);
    const qsizetype taken = frames_.feed(sBuff, holdAtBoundary);
    // The end of a frame that began before the file did is not the file's.
    if (!awaitFrame_) appendAudio(sBuff.first(taken));
    sBuff = sBuff.sliced(taken);
  }
}

void frmReccord::appendAudio(QByteArrayView audio) {
  if (audio.isEmpty() || state_.iFileNum == 0) return;
  const auto failed = [this] {
    stopRecordingWithMessage(QStringLiteral("บันทึกไฟล์ไม่สำเร็จ การบันทึกหยุดแล้ว: %1\n\n%2")
                                 .arg(file_.path(), file_.errorString()));
  };
  if (tagPending_) {
    // Written with the first audio, when the station's name is known even
    // for a file opened before tuning; a file that never gets audio stays empty.
    tagPending_ = false;
    const RecordingTag tag = tagTitle_.isNull() ? showTag(fileName_, stationName_, state_.dStartTime)
                                                : songTag(tagTitle_, stationName_, state_.dStartTime);
    const QByteArray bytes = id3v2Tag(tag);
    if (!bytes.isEmpty() && !file_.write(bytes)) return failed();
  }
  if (!file_.write(audio)) return failed();
  fileAudio_ += audio.size();
  state_.lBytesWritten = addSaturated(state_.lBytesWritten, audio.size());
  rotation_.audioWritten(audio.size());
}

// A file that ends other than at a song cut (Record released, re-tune, the
// station lost) would end inside a frame; that unfinished frame comes off.
void frmReccord::dropUnfinishedFrame() {
  if (state_.iFileNum == 0 || awaitFrame_) return;
  const qsizetype into = frames_.intoFrame();
  if (into <= 0 || into > fileAudio_) return;
  if (!file_.dropTail(into)) return;
  fileAudio_ -= into;
  state_.lBytesWritten = addSaturated(0, fileAudio_);
}

void frmReccord::CloseOutFile() {
  dropUnfinishedFrame();
  file_.close();
  state_.iFileNum = 0;
  cutPending_ = false;
  awaitFrame_ = false;
  tagPending_ = false;
}

void frmReccord::refreshDisplay() {
  const qint64 seconds = state_.dStartTime.secsTo(QDateTime::currentDateTime());
  lblSize->setText(sizeText(state_.lBytesWritten));
  lblTime->setText(timeText(seconds));
}

void frmReccord::stopRecordingWithMessage(const QString &text) {
  CmdRecord->setChecked(false);
  CloseOutFile();
  // The box waits for the stream step in progress to finish: a modal loop
  // inside the socket handler would run the next chunks under it.
  QTimer::singleShot(0, this, [this, text] {
    dialogs_.message(this, {text, kCreateTitle, MessageIcon::Critical, MessageButtons::Ok});
  });
}

void frmReccord::closeEvent(QCloseEvent *event) {
  CmdRecord->setChecked(false);
  sckReceiver.close();
  relay_.DownServer();
  lblWinampStatus->setText(QStringLiteral("สถานะโปรแกรม Winamp"));
  event->accept();
}

frmReccord *showRecorderWindow(QPointer<frmReccord> &window, Dialogs &dialogs, QWidget *parent, quint16 relayPort) {
  if (!window) {
    window = new frmReccord(dialogs, relayPort, parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
  }
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace kirasol::recorder
