#include "app/main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QIcon>
#include <QMouseEvent>
#include <QStyle>
#include <optional>

#include "app/about.h"
#include "app/geotagrun.h"
#include "app/help.h"
#include "app/website.h"
#include "metadata/applicationprocs.h"
#include "metadata/metaprocs.h"
#include "platform/displaytext.h"
#include "platform/fonts.h"
#include "platform/settings.h"
#include "platform/waitcursor.h"
#include "timezone/timezonesetting.h"
#include "track/datetime.h"
#include "ui_main.h"

namespace {

const QString ProductKey = QStringLiteral("Software\\Tarvek\\Lumivale");
const QString MakerKey = QStringLiteral("Software\\Tarvek");
const QString StartText = QStringLiteral("Start auto geotagging");
const QString GpxFileText = QStringLiteral("Open .gpx track file");
const QString ImageFolderText = QStringLiteral("Select the folder which contains the photos");

QString DisplayText(TDateTime value) {
  const TDateTimeParts parts = DecodeDateTime(value);
  return DateTimeDisplayText(QDate(parts.Year, parts.Month, parts.Day),
                             QTime(parts.Hour, parts.Minute, parts.Second, parts.Millisecond));
}

// Connects a signal to a handler that runs inside the error box wrapper.
template <class Sender, class Signal>
void Handle(Sender* sender, Signal signal, TfrmMain* window, void (TfrmMain::*handler)()) {
  QObject::connect(sender, signal, window, [window, handler] { RunHandler([window, handler] { (window->*handler)(); }); });
}

}  // namespace

void PrepareApplication() {
  SetApplicationTitle(QStringLiteral("Tarvek Lumivale"));
  LoadApplicationFonts();
  QApplication::setFont(WindowFont());
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/lumiv.png")));
}

int ShowPrompt(const QString& Text, TMsgKind Kind, unsigned Buttons) {
  return Dialogs().ShowMessage(Text, Kind, Buttons);
}

// The run's view of the window.
class TfrmMain::TRunView final : public TRunSink {
 public:
  explicit TRunView(TfrmMain& window) : W(window) {}

  void RunStarted(int total) override {
    W.ui->laStart->setText(QStringLiteral("Processing..."));
    W.ui->laAd->hide();
    W.ui->pbTotal->setValue(0);
    W.ui->pbTotal->setMaximum(total);
    W.ui->pbTotal->show();
  }
  void PhotoStarted(const QString& displayName) override {
    W.ui->laProcessingFile->setText(displayName);
    W.ui->pbTotal->setValue(W.ui->pbTotal->value() + 1);
    W.repaint();
    // Pending paint and window work, but no user input: it stays queued.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  int Ask(const QString& text) override {
    return ShowPrompt(text, TMsgKind::Warning, Buttons::Yes | Buttons::No | Buttons::NoToAll | Buttons::YesToAll);
  }
  void SetBusy(bool busy) override { SetBusyCursor(busy); }
  void RunFinished(const QString& finalText) override {
    SetBusyCursor(false);
    W.ui->laStart->setText(finalText);
    W.ui->laProcessingFile->setText(QString());
    W.ui->pbTotal->hide();
    W.ui->laAd->setVisible(!W.SiblingInstalled);
    W.ui->btnStart->setEnabled(false);
  }

 private:
  TfrmMain& W;
};

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::frmMain>()) {
  ui->setupUi(this);
  menuBar()->setFixedHeight(25);
  setFixedSize(504, 355);

  ui->Label1->setFont(StepNumberFont());
  ui->Label2->setFont(StepNumberFont());
  ui->Label3->setFont(StepNumberFont());
  QFont product = ArialFont(16);
  product.setBold(true);
  product.setItalic(true);
  ui->laProduct->setFont(product);
  ui->laProduct->setBackgroundRole(QPalette::Button);
  ui->laProduct->setForegroundRole(QPalette::PlaceholderText);
  ui->laProduct->installEventFilter(this);
  ui->dxBarButton5->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));

  Handle(ui->btnGpsFile, &QPushButton::clicked, this, &TfrmMain::btnGpsFileClick);
  Handle(ui->miOpenGpsFile, &QAction::triggered, this, &TfrmMain::btnGpsFileClick);
  Handle(ui->btnImageFolder, &QPushButton::clicked, this, &TfrmMain::btnImageFolderClick);
  Handle(ui->miSelectImageFolder, &QAction::triggered, this, &TfrmMain::btnImageFolderClick);
  Handle(ui->btnStart, &QPushButton::clicked, this, &TfrmMain::btnStartClick);
  Handle(ui->dxBarButton2, &QAction::triggered, this, &TfrmMain::dxBarButton2Click);
  Handle(ui->dxBarButton10, &QAction::triggered, this, &TfrmMain::dxBarButton10Click);
  Handle(ui->dxBarButton5, &QAction::triggered, this, &TfrmMain::dxBarButton5Click);
  Handle(ui->dxBarButton3, &QAction::triggered, this, &TfrmMain::dxBarButton3Click);
  Handle(ui->dxBarButton4, &QAction::triggered, this, &TfrmMain::dxBarButton4Click);

  FormCreate();
}

TfrmMain::~TfrmMain() { FormDestroy(); }

void TfrmMain::FormCreate() {
  MetaData = std::make_unique<TMetaData>();
  setWindowTitle(QStringLiteral("Tarvek Lumivale 1.2"));
  TrackPoints.clear();
  ImageFiles.clear();
  ui->btnStart->setEnabled(false);
  ui->laGpxFile->setText(GpxFileText);
  ui->laImageFolder->setText(ImageFolderText);
  ui->laStart->setText(StartText);
  for (QLabel* label : {ui->laStartTimeLabel, ui->laEndTimeLabel, ui->laTrackPointsLabel, ui->laStartTime,
                        ui->laEndTime, ui->laTrackPoints, ui->laNumberFilesLabel, ui->laNumberFiles})
    label->setText(QString());
  ui->pbTotal->hide();
  ui->laProcessingFile->setText(QString());
  ui->laAd->hide();

  const TSettingsAccessor maker(MakerKey);
  SiblingInstalled = maker.SectionExists(QStringLiteral("VTR\\Restore")) ||
                     maker.SectionExists(QStringLiteral("VTR-Max\\Restore"));
}

void TfrmMain::FormDestroy() {
  CloseHelpWindows();
  ClearTrackPoints(TrackPoints);
  ImageFiles.clear();
  MetaData.reset();
}

void TfrmMain::btnGpsFileClick() {
  const QString path = FileChooser().ChooseOpenFile(
      this, {QStringLiteral("Open GPS file"), QStringLiteral("GPS Exchange File (*.gpx)"), QStringLiteral("gpx")});
  if (path.isEmpty()) return;
  XmlScanner.LoadFile(path.toStdString());
  LoadTrack();
}

void TfrmMain::LoadTrack() {
  ui->laStart->setText(StartText);
  ClearTrackPoints(TrackPoints);
  const QString fileName = QString::fromStdString(XmlScanner.TrackFileName());
  {
    std::optional<TWaitCursor> wait;
    // Only the existence is tested: the content is the copy read at the choice.
    if (!fileName.isEmpty() && QFileInfo(fileName).isFile()) {
      wait.emplace();
      XmlScanner.Scan(TrackPoints);
    }
    if (!TrackPoints.empty()) SortTrackPoints(TrackPoints);
  }

  if (TrackPoints.empty()) {
    ui->laGpxFile->setText(GpxFileText);
    for (QLabel* label : {ui->laStartTimeLabel, ui->laEndTimeLabel, ui->laTrackPointsLabel, ui->laStartTime,
                          ui->laEndTime, ui->laTrackPoints})
      label->setText(QString());
    ShowPrompt(QStringLiteral("File doesn't contain any track points!"), TMsgKind::Information, Buttons::Ok);
    ui->btnStart->setEnabled(false);
    return;
  }
  ui->laGpxFile->setText(QFileInfo(fileName).fileName());
  ui->laStartTimeLabel->setText(QStringLiteral("Start time:"));
  ui->laEndTimeLabel->setText(QStringLiteral("End time:"));
  ui->laTrackPointsLabel->setText(QStringLiteral("Track points:"));
  ui->laStartTime->setText(DisplayText(TrackPoints.front().Time));
  ui->laEndTime->setText(DisplayText(TrackPoints.back().Time));
  ui->laTrackPoints->setText(QString::number(TrackPoints.size()));
  ui->btnStart->setEnabled(!ImageFiles.empty());
}

void TfrmMain::btnImageFolderClick() {
  TSettingsAccessor settings(ProductKey);
  const QString initial = settings.ReadString(QStringLiteral("Restore"), QStringLiteral("ImageFolder"), {});
  const QString chosen = FileChooser().ChooseFolder(this, QStringLiteral("Select the image folder"), initial);
  if (chosen.isEmpty()) return;

  SelectedFolder = chosen;
  ui->laStart->setText(StartText);
  ImageFiles.clear();
  {
    const TWaitCursor wait;
    ScanFolder(SelectedFolder.toStdString(), ImageFiles, SupportedExtensions);
  }
  if (ImageFiles.empty()) {
    ui->laImageFolder->setText(ImageFolderText);
    ui->laNumberFilesLabel->setText(QString());
    ui->laNumberFiles->setText(QString());
    ShowPrompt(QStringLiteral("Folder doesn't contain any supported image file!"), TMsgKind::Information, Buttons::Ok);
    ui->btnStart->setEnabled(false);
  } else {
    ui->laImageFolder->setText(SelectedFolder);
    ui->laNumberFilesLabel->setText(QStringLiteral("Image files:"));
    ui->laNumberFiles->setText(QString::number(ImageFiles.size()));
    ui->btnStart->setEnabled(!TrackPoints.empty());
  }
  settings.WriteString(QStringLiteral("Restore"), QStringLiteral("ImageFolder"), SelectedFolder);
}

void TfrmMain::btnStartClick() {
  FRunning = true;
  const struct TRunEnd {
    bool& Running;
    ~TRunEnd() { Running = false; }
  } runEnd{FRunning};
  TRunView view(*this);
  RunGeotagging(ImageFiles, TrackPoints, *MetaData, view);
}

void TfrmMain::dxBarButton2Click() { close(); }

void TfrmMain::dxBarButton10Click() {
  if (!dlgSetTimezone) return;
  if (dlgSetTimezone->exec() == QDialog::Accepted && !TrackPoints.empty()) LoadTrack();
}

void TfrmMain::dxBarButton5Click() { ShowHelpContents(this); }

void TfrmMain::dxBarButton3Click() { OpenWebsite(this); }

void TfrmMain::laProductClick() { OpenWebsite(this); }

void TfrmMain::dxBarButton4Click() { ShowAboutBox(this); }

void TfrmMain::closeEvent(QCloseEvent* event) {
  // The run cannot be cancelled; the window stays until it ends.
  if (FRunning) event->ignore();
  else QMainWindow::closeEvent(event);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui->laProduct && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    RunHandler([this] { laProductClick(); });
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}
