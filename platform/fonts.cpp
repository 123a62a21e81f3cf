#include "platform/fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace {

const char* const WineFontFolder = "/usr/share/wine/fonts/";

QString FirstFamily(const QStringList& wanted) {
  for (const QString& family : wanted)
    if (QFontDatabase::hasFamily(family)) return family;
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QFont FontOf(const QString& family, int pixelSize) {
  QFont font(family);
  font.setPixelSize(pixelSize);
  return font;
}

}  // namespace

void LoadApplicationFonts() {
  for (const char* file : {"tahoma.ttf", "tahomabd.ttf"})
    QFontDatabase::addApplicationFont(QString::fromLatin1(WineFontFolder) + QString::fromLatin1(file));
}

QFont WindowFont() { return FontOf(FirstFamily({QStringLiteral("Tahoma")}), 11); }

QFont ArialFont(int pixelSize) {
  return FontOf(FirstFamily({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")}), pixelSize);
}

QFont StepNumberFont() {
  const QString rounded = QStringLiteral("Arial Rounded MT Bold");
  QFont font = QFontDatabase::hasFamily(rounded) ? FontOf(rounded, 21) : ArialFont(21);
  font.setBold(true);
  return font;
}
