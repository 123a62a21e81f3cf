// Drives the real main window offscreen through one geotagging run, as a user
// would: chooses the GPS file, then the image folder, presses Start and answers
// every question with Yes to All. For bench/e2e.sh; works on any track and folder.
//   e2e_driver GPX FOLDER local
//   e2e_driver GPX FOLDER "(UTC+01:00) Europe/Berlin" [+dst]
// Settings go to a temporary folder, never the user's own. With
// LUMIVALE_SCREENSHOT_DIR set, the window is saved there before and after the run.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "app/main.h"
#include "metadata/applicationprocs.h"
#include "platform/dialogs.h"
#include "timezone/timezonesetting.h"
#include "track/timeshift.h"

namespace {

// Answers every question with Yes to All and every message with OK, and counts them.
class TYesToAll : public TDialogs {
 public:
  int ShowMessage(const QString& text, TMsgKind, unsigned buttons, const QString&) override {
    if (buttons & Buttons::YesToAll) {
      ++Questions;
      return Answer::YesToAll;
    }
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
    ++Messages;
    return Answer::Ok;
  }
  int Questions = 0;
  int Messages = 0;
};

class TGivenPaths : public TFileChooser {
 public:
  TGivenPaths(QString gpx, QString folder) : FGpx(std::move(gpx)), FFolder(std::move(folder)) {}
  QString ChooseOpenFile(QWidget*, const TOpenFileRequest&) override { return FGpx; }
  QString ChooseFolder(QWidget*, const QString&, const QString&) override { return FFolder; }

 private:
  QString FGpx, FFolder;
};

void KeepScreenshot(QWidget& window, const char* name) {
  const QString folder = qEnvironmentVariable("LUMIVALE_SCREENSHOT_DIR");
  if (!folder.isEmpty()) window.grab().save(folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
}

int Usage() {
  std::fprintf(stderr,
               "usage: e2e_driver GPX FOLDER local\n"
               "       e2e_driver GPX FOLDER \"(UTC+01:00) Europe/Berlin\" [+dst]\n");
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4 || argc > 5 || (argc == 5 && std::string(argv[4]) != "+dst")) return Usage();
  const std::string zone = argv[3];
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  BuildExtensionLists();
  CaptureSystemZone();
  QApplication application(argc, argv);
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  PrepareApplication();

  TYesToAll dialogs;
  TGivenPaths paths(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
  SetDialogs(&dialogs);
  SetFileChooser(&paths);

  TfrmMain mainWindow;
  TdlgSetTimezone timezoneDialog(&mainWindow);
  dlgSetTimezone = &timezoneDialog;
  if (zone == "local") {
    TimeZoneOptions = {true, {}, false};
  } else {
    const std::vector<std::string> zones = SystemZoneTexts();
    if (std::find(zones.begin(), zones.end(), zone) == zones.end()) {
      std::fprintf(stderr, "\"%s\" is not in this system's zone list (for example \"%s\")\n", zone.c_str(),
                   zones.empty() ? "" : zones.front().c_str());
      return 2;
    }
    TimeZoneOptions = {false, zone, argc == 5};
  }
  mainWindow.show();

  auto label = [&](const char* name) { return mainWindow.findChild<QLabel*>(name); };
  auto button = [&](const char* name) { return mainWindow.findChild<QPushButton*>(name); };
  button("btnGpsFile")->click();
  button("btnImageFolder")->click();
  if (!button("btnStart")->isEnabled()) {
    std::fprintf(stderr, "Start is not enabled: %s track points, %s photos\n",
                 qPrintable(label("laTrackPoints")->text()), qPrintable(label("laNumberFiles")->text()));
    return 1;
  }
  KeepScreenshot(mainWindow, "e2e-before-run");
  const auto start = std::chrono::steady_clock::now();
  button("btnStart")->click();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  KeepScreenshot(mainWindow, "e2e-after-run");

  const QString finalText = label("laStart")->text();
  std::printf("%s track points from %s to %s, %s photos, %d questions: %s in %.2f s\n",
              qPrintable(label("laTrackPoints")->text()), qPrintable(label("laStartTime")->text()),
              qPrintable(label("laEndTime")->text()), qPrintable(label("laNumberFiles")->text()),
              dialogs.Questions, qPrintable(finalText), seconds);
  SetDialogs(nullptr);
  SetFileChooser(nullptr);
  return finalText.startsWith(QStringLiteral("Finished")) && dialogs.Messages == 0 ? 0 : 1;
}
