#pragma once
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main.h"
#include "guitestenv.h"
#include "metadata/applicationprocs.h"
#include "platform/dialogs.h"
#include "support/recordingdialogs.h"
#include "timezone/timezonesetting.h"
#include "track/timeshift.h"

// Stands in for the open-file and folder dialogs: the next queued answer, the
// empty text meaning Cancel. Records what the window asked for.
class TScriptedChooser : public TFileChooser {
 public:
  QString ChooseOpenFile(QWidget*, const TOpenFileRequest& request) override {
    OpenRequests.push_back(request);
    return Next();
  }
  QString ChooseFolder(QWidget*, const QString& title, const QString& initialFolder) override {
    FolderTitles.push_back(title);
    InitialFolders.push_back(initialFolder);
    return Next();
  }
  std::deque<QString> Answers;
  std::vector<TOpenFileRequest> OpenRequests;
  std::vector<QString> FolderTitles;
  std::vector<QString> InitialFolders;

 private:
  QString Next() {
    if (Answers.empty()) return {};
    QString answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
};

struct TGpxPoint {
  const char* Lat;
  const char* Lon;
  const char* Time;  // nullptr: the point has no time
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FreshSettingsFolder();
    ASSERT_TRUE(Files.isValid());
    qputenv("TZ", "UTC");
    tzset();
    CaptureSystemZone();
    TimeZoneOptions = {};
    BuildExtensionLists();
    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    PrepareApplication();
    SetDialogs(&Dialogs);
    SetFileChooser(&Chooser);
  }
  void TearDown() override {
    Window.reset();
    SetDialogs(nullptr);
    SetFileChooser(nullptr);
    QLocale::setDefault(QLocale::c());
  }

  // The window as start-up makes it: the main window, then the hidden time zone dialog.
  TfrmMain& Create(const std::vector<std::string>& zones = {"(UTC+01:00) Europe/Berlin", "(UTC-05:00) America/New_York"}) {
    Window = std::make_unique<TfrmMain>();
    dlgSetTimezone = new TdlgSetTimezone(Window.get(), zones);
    Window->show();
    return *Window;
  }

  template <class T = QLabel>
  T* Get(const char* name) const {
    T* child = Window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QString Text(const char* name) const { return Get<QLabel>(name)->text(); }
  bool StartEnabled() const { return Get<QPushButton>("btnStart")->isEnabled(); }

  QString WriteGpx(const QString& name, const std::vector<TGpxPoint>& points) {
    QByteArray gpx = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"test\"><trk><trkseg>\n";
    for (const TGpxPoint& p : points) {
      gpx += QByteArray("<trkpt lat=\"") + p.Lat + "\" lon=\"" + p.Lon + "\">";
      if (p.Time) gpx += QByteArray("<time>") + p.Time + "</time>";
      gpx += "</trkpt>\n";
    }
    gpx += "</trkseg></trk></gpx>\n";
    const QString path = Files.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(gpx);
    return path;
  }
  QString ThreePointTrack(const QString& name = QStringLiteral("track.gpx")) {
    return WriteGpx(name, {{"52.5", "13.4", "2012-03-25T14:05:09Z"},
                           {"52.6", "13.5", "2012-03-25T08:00:00Z"},
                           {"52.7", "13.6", "2012-03-26T00:00:00Z"}});
  }
  QString EmptyTrack(const QString& name = QStringLiteral("empty.gpx")) {
    return WriteGpx(name, {{"52.5", "13.4", nullptr}});
  }
  // A folder with `photos` supported files (and some that are not photos).
  QString PhotoFolder(const QString& name, int photos) {
    const QString folder = Files.filePath(name);
    QDir().mkpath(folder + QStringLiteral("/sub.jpg"));
    for (int i = 0; i < photos; ++i) Touch(folder + QStringLiteral("/IMG_%1.JPG").arg(i));
    Touch(folder + QStringLiteral("/notes.txt"));
    Touch(folder + QStringLiteral("/sub.jpg/inside.jpg"));
    return folder;
  }
  static void Touch(const QString& path) { QFile(path).open(QIODevice::WriteOnly); }

  void ChooseGpx(const QString& path) {
    Chooser.Answers.push_back(path);
    Get<QPushButton>("btnGpsFile")->click();
  }
  void ChooseFolder(const QString& path) {
    Chooser.Answers.push_back(path);
    Get<QPushButton>("btnImageFolder")->click();
  }

  QTemporaryDir Files;
  TRecordingDialogs Dialogs;
  TScriptedChooser Chooser;
  std::unique_ptr<TfrmMain> Window;
};
