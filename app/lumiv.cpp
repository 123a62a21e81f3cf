#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <exception>

#include "app/main.h"
#include "metadata/applicationprocs.h"
#include "timezone/timezonesetting.h"
#include "track/timeshift.h"

int main(int argc, char* argv[]) {
  BuildExtensionLists();
  CaptureSystemZone();

  QApplication application(argc, argv);
  PrepareApplication();
  try {
    TfrmMain mainWindow;
    TdlgSetTimezone timezoneDialog(&mainWindow);
    dlgSetTimezone = &timezoneDialog;

    if (const QScreen* screen = mainWindow.screen()) {
      QRect frame = mainWindow.frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      mainWindow.move(frame.topLeft());
    }
    mainWindow.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumiv: %s\n", e.what());
    return 1;
  }
}
