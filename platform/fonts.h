#pragma once
#include <QFont>

// Makes the bundled-with-Debian fonts the layouts were made for known to Qt;
// call once after the application object exists.
void LoadApplicationFonts();

// The windows' font: Tahoma at 11 pixels, else the system sans at the same size.
QFont WindowFont();
// Arial or its metric twin, else the system sans; `pixelSize` high.
QFont ArialFont(int pixelSize);
// The step numbers: a rounded bold face if present, else a bold sans, 21 pixels.
QFont StepNumberFont();
