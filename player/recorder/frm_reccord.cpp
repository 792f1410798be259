#include "player/recorder/frm_reccord.h"

#include "player/recorder/station_protocol.h"

#include <kirasol/build_settings.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>
#include <QVBoxLayout>

namespace kirasol::recorder {

namespace {

const QString kCreateTitle = QStringLiteral("สร้าง MP3 ไฟล์");

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

  // Form load: nothing connects until cmdTune is pressed.
  lblStatus->setVisible(false);
  lblFile->setEnabled(false);
  lblSize->setEnabled(false);
  lblTime->setEnabled(false);
}

frmReccord::~frmReccord() {
  dropReceiver();
  file_.close();
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
  Label1 = named(new QLabel(QStringLiteral("บันทึกใน :"), fmeOptions), "Label1");
  txtOutPath = named(new QLineEdit(defaultOutPath(), fmeOptions), "txtOutPath");
  lblFile = named(new QLabel(QStringLiteral("File:"), this), "lblFile");
  lblSize = named(new QLabel(QStringLiteral("Size:"), this), "lblSize");
  lblTime = named(new QLabel(QStringLiteral("Time:"), this), "lblTime");
  lblStatus = named(new QLabel(QStringLiteral("REC"), this), "lblStatus");
  lblStatus->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  lblWinampStatus = named(new QLabel(QStringLiteral("สถานะโปรแกรม Winamp"), this), "lblWinampStatus");

  auto *server = new QHBoxLayout;
  server->addWidget(lblServer);
  server->addWidget(txtServer, 1);
  server->addWidget(lblPort);
  server->addWidget(txtPort);
  server->addWidget(cmdTune);

  auto *options = new QGridLayout(fmeOptions);
  options->addWidget(chkFilebysong, 0, 0, 1, 2);
  options->addWidget(Label1, 1, 0);
  options->addWidget(txtOutPath, 1, 1);

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
  resize(480, 300);
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
  if (file_.isOpen()) {
    state_.iFileNum = 1;
    state_.lBytesWritten = written;
  }
  relay_.StartServer();

  dropReceiver();
  sckReceiver = new QTcpSocket(this);
  connect(sckReceiver, &QTcpSocket::connected, this, &frmReccord::sckReceiver_Connect);
  connect(sckReceiver, &QTcpSocket::readyRead, this, &frmReccord::sckReceiver_DataArrival);
  connect(sckReceiver, &QTcpSocket::disconnected, this, &frmReccord::sckReceiver_Close);
  connect(sckReceiver, &QTcpSocket::errorOccurred, this, &frmReccord::sckReceiver_Error);
  sckReceiver->connectToHost(ServerIP, quint16(Port));
}

void frmReccord::dropReceiver() {
  if (!sckReceiver) return;
  QTcpSocket *socket = sckReceiver;
  sckReceiver = nullptr;
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

void frmReccord::sckReceiver_Connect() {
  lblRadio->setText(QStringLiteral("Connected"));
  sckReceiver->write(buildRequest(sckReceiver->peerAddress().toString(), state_.sRequestPath));
}

void frmReccord::sckReceiver_Close() { lblRadio->setText(QStringLiteral("Disconnected")); }

void frmReccord::sckReceiver_Error() {
  // A peer's orderly close also arrives as an error; it is a disconnect.
  if (sckReceiver && sckReceiver->error() == QAbstractSocket::RemoteHostClosedError) return;
  lblRadio->setText(QStringLiteral("Error ocurred"));
}

void frmReccord::sckReceiver_DataArrival() {
  if (!sckReceiver) return;
  QByteArray chunk = sckReceiver->readAll();
  if (!state_.bIcyOK) {
    state_.sHeaderBuffer.append(chunk);
    const auto length = acceptedHeaderLength(state_.sHeaderBuffer);
    if (!length) {
      if (state_.sHeaderBuffer.size() > kMaxHeaderBytes) {
        dropReceiver();
        state_.sHeaderBuffer.clear();
        lblRadio->setText(QStringLiteral("Error ocurred"));
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
    relay_.startCheck(chunk);
  }
  processChunk(chunk);
}

void frmReccord::processChunk(QByteArrayView chunk) {
  relay_.forward(chunk);
  while (!chunk.isEmpty()) {
    chunk = demux_.ProcessBuffer(chunk, state_.bInMetadata);
    relay_.startCheck(chunk);
  }
  if (state_.iFileNum != 0) refreshDisplay();
}

void frmReccord::ShowInfo(QByteArrayView sIcy) {
  lblRadio->setText(stationNameText(sIcy));
  lblBitrate->setText(bitrateText(sIcy));
}

void frmReccord::ShowTitle(QByteArrayView sMetaData) {
  lblTitle->setText(titleText(sMetaData));
  if (CmdRecord->isChecked() && chkFilebysong->isChecked()) {
    CloseOutFile();
    if (!CreateOutFile()) CmdRecord->setChecked(false);
  }
}

// --- recording files -------------------------------------------------------

void frmReccord::CmdRecord_Click(bool pressed) {
  if (pressed) {
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
  lblFile->setText(QStringLiteral("File: ") + opened.name);
  return true;
}

void frmReccord::WriteOutFile(QByteArrayView sBuff) {
  if (state_.iFileNum == 0) return;
  if (!file_.write(sBuff)) {
    stopRecordingWithMessage(QStringLiteral("บันทึกไฟล์ไม่สำเร็จ การบันทึกหยุดแล้ว: %1\n\n%2")
                                 .arg(file_.path(), file_.errorString()));
    return;
  }
  state_.lBytesWritten = addSaturated(state_.lBytesWritten, sBuff.size());
}

void frmReccord::CloseOutFile() {
  file_.close();
  state_.iFileNum = 0;
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
  dropReceiver();
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
