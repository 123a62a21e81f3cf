#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QRadioButton>
#include <QTimer>
#include <QApplication>

#include "test_main_fixture.h"

namespace {

TEST_F(MainWindowTest, GpsFileChosenShowsItsTimesAndPointCount) {
  TfrmMain& window = Create();
  const QString path = ThreePointTrack(QStringLiteral("Lofoten Tag 3.gpx"));
  ChooseGpx(path);
  ASSERT_EQ(Chooser.OpenRequests.size(), 1u);
  EXPECT_EQ(Chooser.OpenRequests[0].Title, QStringLiteral("Open GPS file"));
  EXPECT_EQ(Chooser.OpenRequests[0].Filter, QStringLiteral("GPS Exchange File (*.gpx)"));
  EXPECT_EQ(Chooser.OpenRequests[0].DefaultSuffix, QStringLiteral("gpx"));

  EXPECT_EQ(window.TrackPoints.size(), 3u);
  EXPECT_LT(window.TrackPoints.front().Time, window.TrackPoints.back().Time) << "sorted by time";
  EXPECT_EQ(window.XmlScanner.TrackFileName(), path.toStdString());
  EXPECT_EQ(Text("laGpxFile"), QStringLiteral("Lofoten Tag 3.gpx"));
  EXPECT_EQ(Text("laStartTimeLabel"), QStringLiteral("Start time:"));
  EXPECT_EQ(Text("laEndTimeLabel"), QStringLiteral("End time:"));
  EXPECT_EQ(Text("laTrackPointsLabel"), QStringLiteral("Track points:"));
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("25.03.12 08:00:00"));
  EXPECT_EQ(Text("laEndTime"), QStringLiteral("26.03.12")) << "midnight shows the date alone";
  EXPECT_EQ(Text("laTrackPoints"), QStringLiteral("3"));
  EXPECT_EQ(Text("laStart"), QStringLiteral("Start auto geotagging"));
  EXPECT_FALSE(StartEnabled()) << "no photos yet";
  EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(MainWindowTest, TimesFollowTheUsersLocale) {
  QLocale::setDefault(QLocale(QStringLiteral("en_US")));
  Create();
  ChooseGpx(WriteGpx(QStringLiteral("one.gpx"), {{"1", "2", "2012-03-25T14:05:09Z"}}));
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("3/25/12 2:05:09 PM"));
  EXPECT_EQ(Text("laEndTime"), Text("laStartTime")) << "one point: start and end alike";
  EXPECT_EQ(Text("laTrackPoints"), QStringLiteral("1"));
}

TEST_F(MainWindowTest, PointCountHasNoDigitGrouping) {
  Create();
  std::vector<TGpxPoint> points;
  std::vector<std::string> times;
  for (int i = 0; i < 1234; ++i)
    times.push_back(QStringLiteral("2012-03-25T%1:%2:%3Z").arg(i / 3600 + 10, 2, 10, QLatin1Char('0'))
                        .arg(i / 60 % 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0')).toStdString());
  for (const std::string& t : times) points.push_back({"1", "2", t.c_str()});
  ChooseGpx(WriteGpx(QStringLiteral("long.gpx"), points));
  EXPECT_EQ(Text("laTrackPoints"), QStringLiteral("1234"));
}

TEST_F(MainWindowTest, CancellingTheOpenFileDialogKeepsEverything) {
  TfrmMain& window = Create();
  ChooseGpx(ThreePointTrack());
  ChooseFolder(PhotoFolder(QStringLiteral("photos"), 2));
  ASSERT_TRUE(StartEnabled());
  ChooseGpx(QString());
  EXPECT_EQ(window.TrackPoints.size(), 3u);
  EXPECT_EQ(Text("laGpxFile"), QStringLiteral("track.gpx"));
  EXPECT_EQ(Text("laTrackPoints"), QStringLiteral("3"));
  EXPECT_TRUE(StartEnabled());
  EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(MainWindowTest, AFileWithoutTrackPointsClearsStepOneAndKeepsStepTwo) {
  TfrmMain& window = Create();
  ChooseFolder(PhotoFolder(QStringLiteral("photos"), 2));
  ChooseGpx(ThreePointTrack());
  ASSERT_TRUE(StartEnabled());
  ChooseGpx(EmptyTrack());
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("File doesn't contain any track points!"));
  EXPECT_EQ(Dialogs.Shown[0].Kind, TMsgKind::Information);
  EXPECT_EQ(Dialogs.Shown[0].Buttons, static_cast<unsigned>(Buttons::Ok));
  EXPECT_TRUE(window.TrackPoints.empty()) << "the previous track is gone";
  EXPECT_EQ(Text("laGpxFile"), QStringLiteral("Open .gpx track file"));
  for (const char* empty : {"laStartTimeLabel", "laEndTimeLabel", "laTrackPointsLabel", "laStartTime", "laEndTime", "laTrackPoints"})
    EXPECT_TRUE(Text(empty).isEmpty()) << empty;
  EXPECT_EQ(Text("laNumberFilesLabel"), QStringLiteral("Image files:"));
  EXPECT_EQ(Text("laNumberFiles"), QStringLiteral("2"));
  EXPECT_FALSE(StartEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is normal again";
}

TEST_F(MainWindowTest, AFileThatCannotBeReadCountsAsWithoutTrackPoints) {
  TfrmMain& window = Create();
  ChooseGpx(Files.filePath(QStringLiteral("gone.gpx")));
  EXPECT_TRUE(window.XmlScanner.TrackFileName().empty());
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("File doesn't contain any track points!"));
}

TEST_F(MainWindowTest, ASecondFileReplacesTheFirstCompletely) {
  TfrmMain& window = Create();
  ChooseGpx(ThreePointTrack());
  ChooseGpx(WriteGpx(QStringLiteral("second.gpx"), {{"10", "20", "2013-07-01T10:00:00Z"}, {"11", "21", "2013-07-01T11:30:00Z"}}));
  ASSERT_EQ(window.TrackPoints.size(), 2u);
  EXPECT_EQ(window.TrackPoints[0].Latitude, "10");
  EXPECT_EQ(Text("laGpxFile"), QStringLiteral("second.gpx"));
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("01.07.13 10:00:00"));
  EXPECT_EQ(Text("laEndTime"), QStringLiteral("01.07.13 11:30:00"));
  ChooseGpx(EmptyTrack());
  EXPECT_TRUE(window.TrackPoints.empty());
}

// Confirms the time zone dialog with a fixed zone (and optional daylight saving hour).
void ConfirmFixedZone(TfrmMain& window, int zoneIndex, bool dst) {
  QTimer::singleShot(0, [=] {
    dlgSetTimezone->findChild<QRadioButton*>(QStringLiteral("rbTimeZone"))->click();
    dlgSetTimezone->findChild<QComboBox*>(QStringLiteral("cbTimeZone"))->setCurrentIndex(zoneIndex);
    QCheckBox* box = dlgSetTimezone->findChild<QCheckBox*>(QStringLiteral("cbDst"));
    if (box->isChecked() != dst) box->click();
    dlgSetTimezone->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
  });
  window.findChild<QAction*>(QStringLiteral("dxBarButton10"))->trigger();
}

TEST_F(MainWindowTest, ConfirmingTheTimeZoneDialogReadsTheTrackAgainWithTheNewShift) {
  TfrmMain& window = Create();
  ChooseFolder(PhotoFolder(QStringLiteral("photos"), 1));
  ChooseGpx(ThreePointTrack());
  Get<QPushButton>("btnStart")->click();
  ASSERT_FALSE(StartEnabled());

  ConfirmFixedZone(window, 1, true);  // (UTC+01:00) Europe/Berlin, plus one hour
  EXPECT_FALSE(TimeZoneOptions.LocalTime);
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("25.03.12 10:00:00"));
  EXPECT_EQ(Text("laEndTime"), QStringLiteral("26.03.12 02:00:00"));
  EXPECT_EQ(Text("laStart"), QStringLiteral("Start auto geotagging"));
  EXPECT_TRUE(StartEnabled()) << "a reload after a run enables Start again";

  ConfirmFixedZone(window, 0, false);  // (UTC-05:00) America/New_York
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("25.03.12 03:00:00"));
  EXPECT_EQ(window.TrackPoints.size(), 3u);
  EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(MainWindowTest, AReloadAfterADocumentThatBreaksOffStartsAfresh) {
  TfrmMain& window = Create();
  const QString path = Files.filePath(QStringLiteral("cut.gpx"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<?xml version=\"1.0\"?><gpx><trk><trkseg>"
             "<trkpt lat=\"1\" lon=\"2\"><time>2012-03-25T08:00:00Z</time></trkpt>"
             "<trkpt lat=\"3\" lon=\"4\"><time>2012-03-25T09:00:00Z</time>");
  file.close();
  ChooseGpx(path);
  const size_t count = window.TrackPoints.size();
  ASSERT_GE(count, 1u);
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("25.03.12 08:00:00"));

  ConfirmFixedZone(window, 1, false);
  EXPECT_EQ(window.TrackPoints.size(), count) << "the same points, read afresh";
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("25.03.12 09:00:00"));
  ConfirmFixedZone(window, 1, true);
  EXPECT_EQ(window.TrackPoints.size(), count);
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("25.03.12 10:00:00"));
}

TEST_F(MainWindowTest, TheReloadUsesTheContentReadAtTheChoice) {
  TfrmMain& window = Create();
  const QString path = ThreePointTrack();
  ChooseGpx(path);
  WriteGpx(QStringLiteral("track.gpx"), {{"1", "1", "2020-01-01T12:00:00Z"}});
  ConfirmFixedZone(window, 1, false);
  EXPECT_EQ(window.TrackPoints.size(), 3u);
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("25.03.12 09:00:00"));
}

TEST_F(MainWindowTest, AGpxFileDeletedBeforeAReloadEmptiesTheTrack) {
  TfrmMain& window = Create();
  const QString path = ThreePointTrack();
  ChooseGpx(path);
  ASSERT_TRUE(QFile::remove(path));
  ConfirmFixedZone(window, 1, false);
  EXPECT_TRUE(window.TrackPoints.empty());
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("File doesn't contain any track points!"));
  EXPECT_EQ(Text("laGpxFile"), QStringLiteral("Open .gpx track file"));

  // No track any more: confirming again changes nothing and asks nothing.
  ConfirmFixedZone(window, 0, false);
  EXPECT_EQ(Dialogs.Shown.size(), 1u);
}

TEST_F(MainWindowTest, CancellingTheTimeZoneDialogChangesNothing) {
  TfrmMain& window = Create();
  ChooseGpx(ThreePointTrack());
  Get<QPushButton>("btnStart")->setEnabled(false);
  QTimer::singleShot(0, [] {
    dlgSetTimezone->findChild<QRadioButton*>(QStringLiteral("rbTimeZone"))->click();
    dlgSetTimezone->findChild<QComboBox*>(QStringLiteral("cbTimeZone"))->setCurrentIndex(1);
    dlgSetTimezone->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
  });
  window.findChild<QAction*>(QStringLiteral("dxBarButton10"))->trigger();
  EXPECT_TRUE(TimeZoneOptions.LocalTime);
  EXPECT_EQ(Text("laStartTime"), QStringLiteral("25.03.12 08:00:00"));
}

enum class TAction { TrackWithPoints, TrackWithout, FolderWithPhotos, FolderWithout };

TEST_F(MainWindowTest, StartIsEnabledOnlyWithATrackAndPhotos) {
  const TAction all[] = {TAction::TrackWithPoints, TAction::TrackWithout, TAction::FolderWithPhotos, TAction::FolderWithout};
  int sequence = 0;
  for (const TAction a : all)
    for (const TAction b : all)
      for (const TAction c : all) {
        Window.reset();
        TfrmMain& window = Create();
        for (const TAction step : {a, b, c}) {
          switch (step) {
            case TAction::TrackWithPoints: ChooseGpx(ThreePointTrack()); break;
            case TAction::TrackWithout: ChooseGpx(EmptyTrack()); break;
            case TAction::FolderWithPhotos: ChooseFolder(PhotoFolder(QStringLiteral("p%1").arg(++sequence), 2)); break;
            case TAction::FolderWithout: ChooseFolder(PhotoFolder(QStringLiteral("p%1").arg(++sequence), 0)); break;
          }
          ASSERT_EQ(StartEnabled(), !window.TrackPoints.empty() && !window.ImageFiles.empty())
              << int(a) << int(b) << int(c) << " after " << int(step);
        }
      }
}

TEST_F(MainWindowTest, FolderWithPhotosIsListedShownAndStored) {
  TfrmMain& window = Create();
  const QString folder = PhotoFolder(QStringLiteral("Fotos Ærø 東京"), 3);
  ChooseFolder(folder);
  ASSERT_EQ(Chooser.FolderTitles.size(), 1u);
  EXPECT_EQ(Chooser.FolderTitles[0], QStringLiteral("Select the image folder"));
  EXPECT_TRUE(Chooser.InitialFolders[0].isEmpty()) << "nothing stored yet";
  EXPECT_EQ(window.SelectedFolder, folder);
  ASSERT_EQ(window.ImageFiles.size(), 3u) << "sub-folders and other files are left out";
  for (const std::string& file : window.ImageFiles) {
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(file))) << file;
    EXPECT_EQ(QFileInfo(QString::fromStdString(file)).absolutePath(), folder);
  }
  EXPECT_EQ(Text("laImageFolder"), folder);
  EXPECT_EQ(Text("laNumberFilesLabel"), QStringLiteral("Image files:"));
  EXPECT_EQ(Text("laNumberFiles"), QStringLiteral("3"));
  EXPECT_EQ(Text("laStart"), QStringLiteral("Start auto geotagging"));
  EXPECT_FALSE(StartEnabled()) << "no track yet";
  EXPECT_TRUE(Dialogs.Shown.empty());
  EXPECT_EQ(QSettings(QStringLiteral("Tarvek"), QStringLiteral("Lumivale")).value(QStringLiteral("Restore/ImageFolder")).toString(),
            folder);

  ChooseFolder(QString());
  EXPECT_EQ(Chooser.InitialFolders[1], folder) << "the stored folder is the initial folder";
}

TEST_F(MainWindowTest, AFolderWithoutPhotosIsStillStored) {
  TfrmMain& window = Create();
  ChooseGpx(ThreePointTrack());
  ChooseFolder(PhotoFolder(QStringLiteral("photos"), 2));
  ASSERT_TRUE(StartEnabled());
  const QString empty = PhotoFolder(QStringLiteral("empty"), 0);
  ChooseFolder(empty);
  EXPECT_TRUE(window.ImageFiles.empty());
  EXPECT_EQ(Text("laImageFolder"), QStringLiteral("Select the folder which contains the photos"));
  EXPECT_TRUE(Text("laNumberFilesLabel").isEmpty());
  EXPECT_TRUE(Text("laNumberFiles").isEmpty());
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("Folder doesn't contain any supported image file!"));
  EXPECT_EQ(Dialogs.Shown[0].Kind, TMsgKind::Information);
  EXPECT_FALSE(StartEnabled());
  EXPECT_EQ(window.SelectedFolder, empty);
  ChooseFolder(QString());
  EXPECT_EQ(Chooser.InitialFolders.back(), empty);

  // A folder that cannot be listed counts as one without photos, and is stored.
  const QString missing = Files.filePath(QStringLiteral("missing"));
  ChooseFolder(missing);
  EXPECT_EQ(Dialogs.Shown.size(), 2u);
  ChooseFolder(QString());
  EXPECT_EQ(Chooser.InitialFolders.back(), missing);
}

TEST_F(MainWindowTest, CancellingTheFolderDialogChangesNothing) {
  TfrmMain& window = Create();
  const QString folder = PhotoFolder(QStringLiteral("photos"), 2);
  ChooseFolder(folder);
  ChooseGpx(ThreePointTrack());
  Get<QPushButton>("btnStart")->click();
  const QString finished = Text("laStart");
  ChooseFolder(QString());
  EXPECT_EQ(window.SelectedFolder, folder);
  EXPECT_EQ(window.ImageFiles.size(), 2u);
  EXPECT_EQ(Text("laNumberFiles"), QStringLiteral("2"));
  EXPECT_EQ(Text("laStart"), finished) << "the run's final text stays";
  EXPECT_FALSE(StartEnabled());
  EXPECT_EQ(QSettings(QStringLiteral("Tarvek"), QStringLiteral("Lumivale")).value(QStringLiteral("Restore/ImageFolder")).toString(),
            folder);
}

}  // namespace
