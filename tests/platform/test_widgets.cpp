#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <stdexcept>

#include "guitestenv.h"
#include "platform/filedialogs.h"
#include "platform/fonts.h"
#include "platform/pathlabel.h"
#include "platform/waitcursor.h"

namespace {

TEST(PathEllipsis, KeepsTheNameAfterTheLastSlash) {
  const QFontMetrics metrics(WindowFont());
  const QString path = QStringLiteral("/home/ana/Pictures/Holidays 2012/Lofoten/day 3/track-2012-07-03.gpx");
  EXPECT_EQ(PathEllipsis(path, metrics, metrics.horizontalAdvance(path)), path);
  for (const int width : {260, 200, 160}) {
    const QString shown = PathEllipsis(path, metrics, width);
    EXPECT_LE(metrics.horizontalAdvance(shown), width) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral(".../track-2012-07-03.gpx"))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/ho"))) << shown.toStdString();
  }
  // Too narrow even for the name: as much as fits, still within the width.
  const QString narrow = PathEllipsis(path, metrics, 60);
  EXPECT_LE(metrics.horizontalAdvance(narrow), 60);
  EXPECT_TRUE(narrow.startsWith(QStringLiteral(".../tr"))) << narrow.toStdString();
  EXPECT_TRUE(narrow.endsWith(QStringLiteral("..."))) << narrow.toStdString();
}

TEST(PathLabel, ShowsTheShortFormButKeepsTheWholeText) {
  TPathLabel label;
  label.setFont(WindowFont());
  label.setFixedWidth(260);
  const QString path = QStringLiteral("/srv/photos/") + QString(80, QLatin1Char('a')) + QStringLiteral("/IMG_0001.JPG");
  label.setText(path);
  EXPECT_EQ(label.text(), path);
  EXPECT_TRUE(label.ShownText().endsWith(QStringLiteral(".../IMG_0001.JPG")));
  EXPECT_LE(label.fontMetrics().horizontalAdvance(label.ShownText()), 260);
}

TEST(FileDialogs, OpenFileDialogAsTheProgramAsksForIt) {
  const auto dialog = MakeOpenFileDialog(nullptr, {QStringLiteral("Open GPS file"),
                                                   QStringLiteral("GPS Exchange File (*.gpx)"), QStringLiteral("gpx")});
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Open GPS file"));
  EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("GPS Exchange File (*.gpx)")});
  EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("gpx"));
  EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
}

TEST(FileDialogs, FolderDialogPreselectsOnlyAFolderThatResolves) {
  const QString folder = TestTempRoot() + QStringLiteral("/Fotos Ærø 東京");
  ASSERT_TRUE(QDir().mkpath(folder));
  const auto dialog = MakeFolderDialog(nullptr, QStringLiteral("Select the image folder"), folder);
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Select the image folder"));
  EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
  EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
  EXPECT_TRUE(dialog->testOption(QFileDialog::ReadOnly));
  EXPECT_EQ(dialog->directory().absolutePath(), QFileInfo(folder).absoluteFilePath());

  for (const QString& gone : {folder + QStringLiteral("/missing"), QString(), QStringLiteral("\xEF\xBF\xBD?")}) {
    const auto fresh = MakeFolderDialog(nullptr, QStringLiteral("Select the image folder"), gone);
    EXPECT_EQ(fresh->directory().absolutePath(), QDir::rootPath()) << gone.toStdString();
  }
}

TEST(Fonts, LayoutFontsOrTheirStandIns) {
  LoadApplicationFonts();
  const QFont window = WindowFont();
  EXPECT_EQ(window.pixelSize(), 11);
  if (QFileInfo::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))) {
    EXPECT_EQ(QFontInfo(window).family(), QStringLiteral("Tahoma"));
  }
  const QFont arial = ArialFont(16);
  EXPECT_EQ(arial.pixelSize(), 16);
  if (QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))) {
    EXPECT_EQ(QFontInfo(arial).family(), QStringLiteral("Liberation Sans"));
  }
  const QFont step = StepNumberFont();
  EXPECT_EQ(step.pixelSize(), 21);
  EXPECT_TRUE(step.bold());
}

TEST(WaitCursor, SettingIsAbsoluteAndTheScopeRestoresIt) {
  SetBusyCursor(true);
  SetBusyCursor(true);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  SetBusyCursor(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(BusyCursor());
  try {
    TWaitCursor wait;
    EXPECT_TRUE(BusyCursor());
    throw std::runtime_error("fails midway");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(BusyCursor());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
