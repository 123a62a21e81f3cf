#include <QApplication>
#include <QFontMetrics>
#include <QTimer>
#include <QUrl>
#include <QTest>
#include <sys/stat.h>

#include "app/about.h"
#include "app/help.h"
#include "app/website.h"
#include "test_main_fixture.h"

namespace {

TEST_F(MainWindowTest, CreationState) {
  TfrmMain& window = Create();
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Tarvek Lumivale 1.2"));
  EXPECT_EQ(window.size(), QSize(504, 355));
  EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "fixed size";
  EXPECT_EQ(window.menuBar()->height(), 25);

  EXPECT_EQ(Text("laGpxFile"), QStringLiteral("Open .gpx track file"));
  EXPECT_EQ(Text("laImageFolder"), QStringLiteral("Select the folder which contains the photos"));
  EXPECT_EQ(Text("laStart"), QStringLiteral("Start auto geotagging"));
  for (const char* empty : {"laStartTimeLabel", "laEndTimeLabel", "laTrackPointsLabel", "laStartTime", "laEndTime",
                            "laTrackPoints", "laNumberFilesLabel", "laNumberFiles", "laProcessingFile"})
    EXPECT_TRUE(Text(empty).isEmpty()) << empty;
  EXPECT_EQ(Text("laAd"), QStringLiteral("With our software Vantorium you can view and adjust the GPS positions in a map. "
                                         "It also lets you correct date and time of your photos. "));
  EXPECT_FALSE(Get("laAd")->isVisible());
  EXPECT_FALSE(Get<QProgressBar>("pbTotal")->isVisible());
  EXPECT_EQ(Text("laProduct"), QStringLiteral("Tarvek Systems"));
  EXPECT_EQ(Get("laProduct")->cursor().shape(), Qt::PointingHandCursor);
  for (const char* number : {"Label1", "Label2", "Label3"}) EXPECT_EQ(Get(number)->font().pixelSize(), 21) << number;
  EXPECT_EQ(Get("laProduct")->font().pixelSize(), 16);
  EXPECT_TRUE(Get("laProduct")->font().bold() && Get("laProduct")->font().italic());

  const struct {
    const char* Name;
    const char* Caption;
    bool Enabled;
  } buttons[] = {{"btnGpsFile", "GPS file...", true}, {"btnImageFolder", "Image folder...", true}, {"btnStart", "Start", false}};
  for (const auto& b : buttons) {
    const QPushButton* button = Get<QPushButton>(b.Name);
    EXPECT_EQ(button->text(), QString::fromLatin1(b.Caption));
    EXPECT_EQ(button->size(), QSize(123, 25)) << b.Name;
    EXPECT_EQ(button->isEnabled(), b.Enabled) << b.Name;
  }
  for (const char* path : {"laGpxFile", "laImageFolder", "laProcessingFile"}) EXPECT_EQ(Get(path)->width(), 260) << path;
  EXPECT_EQ(Get<QProgressBar>("pbTotal")->size(), QSize(241, 17));
  EXPECT_EQ(Get("laAd")->size(), QSize(260, 58));

  EXPECT_TRUE(window.TrackPoints.empty());
  EXPECT_TRUE(window.ImageFiles.empty());
  EXPECT_NE(window.MetaData, nullptr);
  EXPECT_TRUE(window.SelectedFolder.isEmpty());
  EXPECT_FALSE(window.SiblingInstalled);
  EXPECT_FALSE(window.XmlScanner.InTrackPoint);
  EXPECT_EQ(window.XmlScanner.FixedOffset, 0);
}

// Every text the window can show fits its control in the layout's font.
TEST_F(MainWindowTest, TextsFitTheirControls) {
  Create();
  const auto fits = [&](const char* name, const QString& text) {
    const QWidget* w = Get<QWidget>(name);
    EXPECT_LE(w->fontMetrics().horizontalAdvance(text), w->width()) << name << ": " << text.toStdString();
  };
  fits("laGpxFile", QStringLiteral("Open .gpx track file"));
  fits("laImageFolder", QStringLiteral("Select the folder which contains the photos"));
  fits("laStart", QStringLiteral("Finished (skipped 99999 files)."));
  fits("laStartTimeLabel", QStringLiteral("Start time:"));
  fits("laTrackPointsLabel", QStringLiteral("Track points:"));
  fits("laNumberFilesLabel", QStringLiteral("Image files:"));
  fits("laStartTime", QStringLiteral("25.03.2012 14:05:09"));
  fits("laProduct", QStringLiteral("Tarvek Systems"));
  for (const char* b : {"btnGpsFile", "btnImageFolder", "btnStart"}) fits(b, Get<QPushButton>(b)->text());
  const QLabel* ad = Get("laAd");
  EXPECT_LE(ad->heightForWidth(ad->width()), ad->height());
}

TEST_F(MainWindowTest, FocusMovesAmongTheThreeButtonsInStepOrder) {
  TfrmMain& window = Create();
  const QStringList wanted = {"btnGpsFile", "btnImageFolder", "btnStart"};
  QStringList chain;
  QWidget* w = Get<QWidget>("btnGpsFile");
  for (int i = 0; i < 60 && chain.size() < 3; ++i, w = w->nextInFocusChain())
    if (wanted.contains(w->objectName()) && !chain.contains(w->objectName())) chain << w->objectName();
  EXPECT_EQ(chain, wanted);
  for (QLabel* label : window.findChildren<QLabel*>()) EXPECT_EQ(label->focusPolicy(), Qt::NoFocus) << label->objectName().toStdString();
}

TEST_F(MainWindowTest, MenusInOrderWithTheirItems) {
  TfrmMain& window = Create();
  QStringList menus;
  for (QAction* a : window.menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"File", "Extras", "Help"}));
  const auto items = [&](int index) {
    QStringList texts;
    for (QAction* a : window.menuBar()->actions()[index]->menu()->actions())
      texts << (a->isSeparator() ? QStringLiteral("-") : a->text() + QLatin1Char('|') + a->toolTip());
    return texts;
  };
  EXPECT_EQ(items(0), (QStringList{"Open GPS file...|Open GPS file", "Select image folder...|Select image folder", "-", "Close|Close"}));
  EXPECT_EQ(items(1), (QStringList{"Time zone settings...|Time zone settings"}));
  EXPECT_EQ(items(2), (QStringList{"Contents|Contents", "-", "Tarvek Systems Website|Tarvek Systems Website", "-", "About|About"}));
  EXPECT_FALSE(Get<QAction>("dxBarButton5")->icon().isNull());
  for (QAction* a : window.findChildren<QAction*>()) {
    EXPECT_TRUE(a->shortcut().isEmpty());
    EXPECT_FALSE(a->text().contains(QLatin1Char('&'))) << a->text().toStdString();
  }
}

TEST_F(MainWindowTest, MenuItemsRunTheButtonsHandlers) {
  TfrmMain& window = Create();
  Chooser.Answers.push_back(ThreePointTrack());
  Get<QAction>("miOpenGpsFile")->trigger();
  EXPECT_EQ(window.TrackPoints.size(), 3u);
  Chooser.Answers.push_back(PhotoFolder(QStringLiteral("photos"), 2));
  Get<QAction>("miSelectImageFolder")->trigger();
  EXPECT_EQ(window.ImageFiles.size(), 2u);
  EXPECT_TRUE(StartEnabled());
  Get<QAction>("dxBarButton2")->trigger();
  EXPECT_FALSE(window.isVisible()) << "Close closes the main window";
}

TEST_F(MainWindowTest, HelpWebsiteAndAboutAreReached) {
  TfrmMain& window = Create();
  std::vector<QUrl> opened;
  SetUrlOpener([&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  Get<QAction>("dxBarButton3")->trigger();
  QTest::mouseClick(Get("laProduct"), Qt::LeftButton);
  SetUrlOpener({});
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], QUrl(QString::fromLatin1(WebsiteAddress)));
  EXPECT_EQ(opened[1], opened[0]);

  QTimer::singleShot(0, [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  Get<QAction>("dxBarButton4")->trigger();
  EXPECT_NE(AboutBox(), nullptr);

  Get<QAction>("dxBarButton5")->trigger();
  const bool helpShown = HelpWindow() != nullptr;
  Window.reset();
  if (helpShown) {
    EXPECT_EQ(HelpWindow(), nullptr) << "closing the main window closes the help";
  }
  (void)window;
}

struct TSiblingCase {
  const char* Application;  // the sibling's settings file, nullptr for none
  const char* Key;          // value written below its section
  const char* Application2;
  const char* Key2;
  bool Installed;
};

void PrintTo(const TSiblingCase& c, std::ostream* os) {
  *os << (c.Application ? c.Application : "-") << ' ' << (c.Key ? c.Key : "-") << ' '
      << (c.Application2 ? c.Application2 : "-") << ' ' << (c.Key2 ? c.Key2 : "-");
}

class MainWindowSibling : public MainWindowTest, public ::testing::WithParamInterface<TSiblingCase> {};

TEST_P(MainWindowSibling, SiblingProductInstalledWhenARestoreSectionHoldsValues) {
  const TSiblingCase c = GetParam();
  if (c.Application) QSettings(QStringLiteral("Tarvek"), QLatin1String(c.Application)).setValue(QLatin1String(c.Key), 1);
  if (c.Application2) QSettings(QStringLiteral("Tarvek"), QLatin1String(c.Application2)).setValue(QLatin1String(c.Key2), QString());
  EXPECT_EQ(Create().SiblingInstalled, c.Installed);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, MainWindowSibling,
    ::testing::Values(TSiblingCase{nullptr, nullptr, nullptr, nullptr, false},
                      TSiblingCase{"VTR", "Restore/Folder", nullptr, nullptr, true},
                      TSiblingCase{"VTR-Max", "Restore/Folder", nullptr, nullptr, true},
                      TSiblingCase{"VTR", "Restore/Sub/Folder", "VTR-Max", "Restore/Deeper/Folder", false},
                      TSiblingCase{"VTR", "Restore/Sub/Folder", "VTR-Max", "Restore/Folder", true},
                      TSiblingCase{"VTR", "Other/Folder", nullptr, nullptr, false},
                      TSiblingCase{"Lumivale", "Restore/ImageFolder", nullptr, nullptr, false}));

TEST_F(MainWindowTest, AnErrorInAHandlerShowsTheErrorBoxAndTheWindowGoesOn) {
  TfrmMain& window = Create();
  const QString blocker = FreshSettingsFolder() + QStringLiteral("/blocker");
  Touch(blocker);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker + QStringLiteral("/config"));

  ChooseFolder(PhotoFolder(QStringLiteral("photos"), 1));
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Kind, TMsgKind::Error);
  EXPECT_EQ(Dialogs.Shown[0].Title, QStringLiteral("Tarvek Lumivale"));
  EXPECT_EQ(Dialogs.Shown[0].Buttons, static_cast<unsigned>(Buttons::Ok));
  EXPECT_TRUE(Dialogs.Shown[0].Text.contains(QStringLiteral("ImageFolder"))) << Dialogs.Shown[0].Text.toStdString();
  EXPECT_EQ(window.ImageFiles.size(), 1u) << "the folder was scanned before the store failed";

  ChooseGpx(ThreePointTrack());
  EXPECT_EQ(window.TrackPoints.size(), 3u);
  EXPECT_TRUE(StartEnabled());
  EXPECT_EQ(Dialogs.Shown.size(), 1u);
}

TEST_F(MainWindowTest, RunThroughTheWindowEndsWithTheFinalTexts) {
  TfrmMain& window = Create();
  ChooseGpx(ThreePointTrack());
  ChooseFolder(PhotoFolder(QStringLiteral("photos"), 2));  // empty files: opening them fails
  ASSERT_TRUE(StartEnabled());
  Get<QPushButton>("btnStart")->click();
  EXPECT_EQ(Text("laStart"), QStringLiteral("Finished (skipped 2 files)."));
  EXPECT_TRUE(Text("laProcessingFile").isEmpty());
  EXPECT_FALSE(Get<QProgressBar>("pbTotal")->isVisible());
  EXPECT_EQ(Get<QProgressBar>("pbTotal")->value(), 2);
  EXPECT_TRUE(Get("laAd")->isVisible());
  EXPECT_FALSE(StartEnabled());
  EXPECT_FALSE(window.Running());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, NoAdvertisementAfterARunWhenTheSiblingIsInstalled) {
  QSettings(QStringLiteral("Tarvek"), QStringLiteral("VTR")).setValue(QStringLiteral("Restore/Folder"), 1);
  Create();
  ChooseGpx(ThreePointTrack());
  ChooseFolder(PhotoFolder(QStringLiteral("photos"), 1));
  Get<QPushButton>("btnStart")->click();
  EXPECT_EQ(Text("laStart"), QStringLiteral("Finished (skipped 1 file)."));
  EXPECT_FALSE(Get("laAd")->isVisible());
}

// While the run asks, the window shows the run and refuses to close.
TEST_F(MainWindowTest, DuringARunTheWindowShowsProgressAndCannotBeClosed) {
  TfrmMain& window = Create();
  ChooseGpx(ThreePointTrack());
  const QString folder = PhotoFolder(QStringLiteral("photos"), 2);
  ChooseFolder(folder);
  const QString readOnly = folder + QStringLiteral("/IMG_1.JPG");
  ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);

  bool asked = false;
  Dialogs.OnShow = [&](const TRecordingDialogs::TShown& shown) {
    asked = true;
    EXPECT_EQ(shown.Kind, TMsgKind::Warning);
    EXPECT_EQ(shown.Buttons, 771u);
    EXPECT_EQ(shown.Text, QStringLiteral("The file \"IMG_1.JPG\" is write protected. Are you sure you want to save the changes?"));
    EXPECT_TRUE(window.Running());
    EXPECT_EQ(Text("laStart"), QStringLiteral("Processing..."));
    EXPECT_EQ(Text("laProcessingFile"), QStringLiteral("IMG_1.JPG"));
    EXPECT_TRUE(Get<QProgressBar>("pbTotal")->isVisible());
    EXPECT_EQ(Get<QProgressBar>("pbTotal")->maximum(), 2);
    EXPECT_FALSE(Get("laAd")->isVisible());
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    return int(Answer::NoToAll);
  };
  Get<QPushButton>("btnStart")->click();
  EXPECT_TRUE(asked);
  EXPECT_FALSE(window.Running());
  EXPECT_EQ(Text("laStart"), QStringLiteral("Finished (skipped 1 file).")) << "the declined read-only photo is not counted";
  EXPECT_TRUE(window.close()) << "after the run the window closes";
}

TEST_F(MainWindowTest, ScreenshotIsNotBlank) {
  TfrmMain& window = Create();
  ChooseGpx(ThreePointTrack());
  ChooseFolder(PhotoFolder(QStringLiteral("Fotos Ærø mit einem sehr langen Ordnernamen, der nicht passt"), 3));
  const QImage shot = window.grab().toImage();
  EXPECT_EQ(shot.size(), QSize(504, 355));
  EXPECT_GT(DistinctColours(shot), 16);
  KeepScreenshot(shot, QStringLiteral("mainwindow"));
}

}  // namespace
