#pragma once
#include <QMainWindow>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "track/gpxreader.h"
#include "track/trackpoints.h"

class TMetaData;

namespace Ui {
class frmMain;
}

// The start-up work on the application object: title, fonts, icon.
void PrepareApplication();

// One of the run's questions or any message of the main window; the answer code.
int ShowPrompt(const QString& Text, TMsgKind Kind, unsigned Buttons);

// The main window: the three steps (GPS file, image folder, start), the menu bar
// and the program-wide objects of a session.
class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  void FormCreate();
  void FormDestroy();
  // Reads the track again from the reader's copy of TrackFileName.
  void LoadTrack();

  void btnGpsFileClick();
  void btnImageFolderClick();
  void btnStartClick();
  void dxBarButton2Click();   // File › Close
  void dxBarButton10Click();  // Extras › Time zone settings...
  void dxBarButton5Click();   // Help › Contents
  void dxBarButton3Click();   // Help › Tarvek Systems Website
  void laProductClick();
  void dxBarButton4Click();   // Help › About

  // True while the geotagging run goes on.
  bool Running() const { return FRunning; }

  TTrackPointList TrackPoints;
  std::vector<std::string> ImageFiles;  // full UTF-8 paths, in the order of the scan
  std::unique_ptr<TMetaData> MetaData;
  bool SiblingInstalled = false;
  TGpxReader XmlScanner;
  QString SelectedFolder;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class TRunView;

  std::unique_ptr<Ui::frmMain> ui;
  bool FRunning = false;
};
