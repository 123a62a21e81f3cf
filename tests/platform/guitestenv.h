#pragma once
#include <QImage>
#include <QString>

// The test program's QApplication (offscreen) with HOME, the XDG folders and
// the settings in a temporary folder, never the real home folder.

// A new empty settings folder for QSettings' native format; returns its path.
QString FreshSettingsFolder();
// The text of a settings file below the current settings folder ("Tarvek/Lumivale.conf").
QString SettingsFileText(const QString& relativePath);
// A temporary folder that lives as long as the test program.
QString TestTempRoot();
// Number of distinct colours of an image: a blank grab has one.
int DistinctColours(const QImage& image);
// Saves a window's grab under $LUMIVALE_SCREENSHOT_DIR when that is set.
void KeepScreenshot(const QImage& image, const QString& name);
