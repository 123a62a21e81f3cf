#include <gtest/gtest.h>

#include <QCheckBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTimeZone>
#include <algorithm>
#include <vector>

#include "guitestenv.h"
#include "platform/dialogs.h"
#include "support/recordingdialogs.h"
#include "timezone/timezonesetting.h"
#include "track/timeshift.h"

namespace {

using TTexts = std::vector<std::string>;

TEST(InsertZoneSorted, OrdersByOffsetAndPutsANewTextBeforeItsEquals) {
  TTexts entries;
  for (const char* text : {"(UTC+01:00) B", "(UTC-05:00) X", "(UTC+01:00) A", "", "(UTC+00:00) Z",
                           "(GMT) Greenwich Mean Time", "(UTC+05:30) India", "(UTC-05:00) X", "(UTC+14:00) Line"})
    InsertZoneSorted(text, entries);
  const TTexts expected = {"(UTC-05:00) X", "(UTC-05:00) X", "(GMT) Greenwich Mean Time", "(UTC+00:00) Z", "",
                           "(UTC+01:00) A", "(UTC+01:00) B", "(UTC+05:30) India", "(UTC+14:00) Line"};
  EXPECT_EQ(entries, expected);
}

TEST(InsertZoneSorted, AppendsAboveEveryOffsetAndPrependsBelow) {
  TTexts entries = {"(UTC-01:00) A", "(UTC+01:00) B"};
  InsertZoneSorted("(UTC+02:00) C", entries);
  InsertZoneSorted("(UTC-12:00) D", entries);
  EXPECT_EQ(entries, (TTexts{"(UTC-12:00) D", "(UTC-01:00) A", "(UTC+01:00) B", "(UTC+02:00) C"}));
}

struct TZoneCase {
  const char* Id;
  const char* Text;
  int Minutes;
};

void PrintTo(const TZoneCase& c, std::ostream* os) { *os << c.Id; }

class ZoneDisplayTextCases : public ::testing::TestWithParam<TZoneCase> {};

TEST_P(ZoneDisplayTextCases, StandardOffsetIsTheSmallerOfJanuaryAndJuly) {
  const TZoneCase c = GetParam();
  if (!QTimeZone::isTimeZoneIdAvailable(c.Id)) GTEST_SKIP() << "zone data lacks " << c.Id << " (tzdata)";
  const std::string text = ZoneDisplayText(c.Id, 2023);
  EXPECT_EQ(text, c.Text);
  EXPECT_EQ(ZoneOffsetMinutes(text), c.Minutes);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, ZoneDisplayTextCases,
    ::testing::Values(TZoneCase{"Europe/Berlin", "(UTC+01:00) Europe/Berlin", 60},
                      TZoneCase{"Europe/Dublin", "(UTC+00:00) Europe/Dublin", 0},
                      TZoneCase{"Asia/Kolkata", "(UTC+05:30) Asia/Kolkata", 330},
                      TZoneCase{"Asia/Kathmandu", "(UTC+05:45) Asia/Kathmandu", 345},
                      TZoneCase{"America/St_Johns", "(UTC-03:30) America/St_Johns", -210},
                      TZoneCase{"America/New_York", "(UTC-05:00) America/New_York", -300},
                      TZoneCase{"Australia/Sydney", "(UTC+10:00) Australia/Sydney", 600},
                      TZoneCase{"Pacific/Kiritimati", "(UTC+14:00) Pacific/Kiritimati", 840},
                      TZoneCase{"UTC", "(UTC+00:00) UTC", 0}));

TEST(SystemZoneTexts, EveryZoneOnceInReverseOrderOfItsName) {
  const TTexts texts = SystemZoneTexts();
  ASSERT_EQ(texts.size(), static_cast<size_t>(QTimeZone::availableTimeZoneIds().size()));
  std::vector<std::string> names;
  for (const std::string& text : texts) {
    ASSERT_GE(text.size(), 13u) << text;
    EXPECT_EQ(text.substr(0, 4), "(UTC") << text;
    EXPECT_EQ(text[10], ')') << text;
    names.push_back(text.substr(12));
  }
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), std::greater<>()));
}

const TTexts SomeZones = {"(UTC+01:00) Europe/Vienna", "(UTC+01:00) Europe/Berlin", "(UTC-05:00) America/New_York",
                          "(UTC+05:30) Asia/Kolkata", "(UTC+00:00) Europe/London"};

class TimezoneDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FreshSettingsFolder();
    TimeZoneOptions = {};
    SetDialogs(&Recorded);
  }
  void TearDown() override { SetDialogs(nullptr); }

  void Store(const char* name, const QVariant& value) {
    QSettings(QStringLiteral("Tarvek"), QStringLiteral("Lumivale")).setValue(QStringLiteral("Options/") + QLatin1String(name), value);
  }
  static QRadioButton* LocalTime(QWidget& d) { return d.findChild<QRadioButton*>(QStringLiteral("rbLocalTime")); }
  static QRadioButton* TimeZone(QWidget& d) { return d.findChild<QRadioButton*>(QStringLiteral("rbTimeZone")); }
  static QComboBox* Zones(QWidget& d) { return d.findChild<QComboBox*>(QStringLiteral("cbTimeZone")); }
  static QCheckBox* Dst(QWidget& d) { return d.findChild<QCheckBox*>(QStringLiteral("cbDst")); }
  static QPushButton* Ok(QWidget& d) { return d.findChild<QPushButton*>(QStringLiteral("btnOk")); }
  static QPushButton* Cancel(QWidget& d) { return d.findChild<QPushButton*>(QStringLiteral("btnCancel")); }
  static QString Stored() { return SettingsFileText(QStringLiteral("Tarvek/Lumivale.conf")); }

  TRecordingDialogs Recorded;
};

TEST_F(TimezoneDialogTest, FirstStartUsesLocalTimeAndOkStoresAllThreeValues) {
  TdlgSetTimezone dialog(nullptr, SomeZones);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Time zone settings"));
  EXPECT_EQ(dialog.size(), QSize(392, 202));
  EXPECT_TRUE(LocalTime(dialog)->isChecked());
  EXPECT_FALSE(TimeZone(dialog)->isChecked());
  EXPECT_FALSE(Zones(dialog)->isEnabled());
  EXPECT_FALSE(Dst(dialog)->isEnabled());
  EXPECT_EQ(Zones(dialog)->currentIndex(), -1);
  EXPECT_FALSE(Dst(dialog)->isChecked());
  EXPECT_TRUE(Ok(dialog)->isEnabled());
  EXPECT_TRUE(Ok(dialog)->isDefault());
  EXPECT_EQ(Zones(dialog)->maxVisibleItems(), 16);
  EXPECT_FALSE(Zones(dialog)->isEditable());
  EXPECT_TRUE(TimeZoneOptions.LocalTime);
  EXPECT_EQ(TimeZoneOptions.SelectedZone, "");
  EXPECT_FALSE(TimeZoneOptions.UseDst);
  EXPECT_TRUE(Stored().isEmpty());

  dialog.show();
  Ok(dialog)->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_NE(Stored().indexOf(QStringLiteral("[Options]\nLocalTime=1\nSelectedZone=\nUseDst=0\n")), -1) << Stored().toStdString();
  EXPECT_TRUE(Recorded.Shown.empty());
}

TEST_F(TimezoneDialogTest, ZonesStandByOffsetAndAlphabeticallyWithinOne) {
  TdlgSetTimezone dialog(nullptr, SomeZones);
  QStringList shown;
  for (int i = 0; i < Zones(dialog)->count(); ++i) shown << Zones(dialog)->itemText(i);
  EXPECT_EQ(shown, (QStringList{"(UTC-05:00) America/New_York", "(UTC+00:00) Europe/London", "(UTC+01:00) Europe/Berlin",
                                "(UTC+01:00) Europe/Vienna", "(UTC+05:30) Asia/Kolkata"}));

  TdlgSetTimezone system;
  const QComboBox* zones = Zones(system);
  ASSERT_EQ(zones->count(), QTimeZone::availableTimeZoneIds().size());
  for (int i = 1; i < zones->count(); ++i) {
    const std::string before = zones->itemText(i - 1).toStdString(), after = zones->itemText(i).toStdString();
    ASSERT_LE(ZoneOffsetMinutes(before), ZoneOffsetMinutes(after)) << before << " / " << after;
    if (ZoneOffsetMinutes(before) == ZoneOffsetMinutes(after)) {
      EXPECT_LT(before, after);
    }
  }
}

TEST_F(TimezoneDialogTest, EnableRule) {
  TdlgSetTimezone dialog(nullptr, SomeZones);
  dialog.show();
  TimeZone(dialog)->click();
  EXPECT_TRUE(Zones(dialog)->isEnabled());
  EXPECT_TRUE(Dst(dialog)->isEnabled());
  EXPECT_FALSE(Ok(dialog)->isEnabled()) << "a fixed zone needs a selected zone";

  Zones(dialog)->setCurrentIndex(2);
  EXPECT_TRUE(Ok(dialog)->isEnabled());
  Dst(dialog)->click();

  LocalTime(dialog)->click();
  EXPECT_FALSE(Zones(dialog)->isEnabled());
  EXPECT_FALSE(Dst(dialog)->isEnabled());
  EXPECT_TRUE(Ok(dialog)->isEnabled());
  EXPECT_EQ(Zones(dialog)->currentIndex(), 2) << "disabling keeps the selection";
  EXPECT_TRUE(Dst(dialog)->isChecked()) << "and the tick";

  TimeZone(dialog)->click();
  EXPECT_TRUE(Ok(dialog)->isEnabled());
  Zones(dialog)->setCurrentIndex(-1);
  EXPECT_FALSE(Ok(dialog)->isEnabled());
}

TEST_F(TimezoneDialogTest, StoredZoneIsSelectedIgnoringCase) {
  Store("LocalTime", QStringLiteral("0"));
  Store("SelectedZone", QStringLiteral("(utc+01:00) EUROPE/berlin"));
  Store("UseDst", QStringLiteral("1"));
  TdlgSetTimezone dialog(nullptr, SomeZones);
  EXPECT_TRUE(TimeZone(dialog)->isChecked());
  EXPECT_EQ(Zones(dialog)->currentText(), QStringLiteral("(UTC+01:00) Europe/Berlin"));
  EXPECT_TRUE(Zones(dialog)->isEnabled());
  EXPECT_TRUE(Dst(dialog)->isChecked());
  EXPECT_TRUE(Ok(dialog)->isEnabled());
  EXPECT_FALSE(TimeZoneOptions.LocalTime);
  EXPECT_EQ(TimeZoneOptions.SelectedZone, "(utc+01:00) EUROPE/berlin") << "the option keeps the stored text";
  EXPECT_TRUE(TimeZoneOptions.UseDst);
}

TEST_F(TimezoneDialogTest, AStoredZoneThatMatchesNoEntrySelectsNothing) {
  Store("LocalTime", QStringLiteral("0"));
  Store("SelectedZone", QStringLiteral("(UTC+01:00) Europe/Berlin, Rome"));
  TdlgSetTimezone dialog(nullptr, SomeZones);
  EXPECT_EQ(Zones(dialog)->currentIndex(), -1);
  EXPECT_FALSE(Ok(dialog)->isEnabled());
  EXPECT_EQ(TimeZoneOptions.SelectedZone, "(UTC+01:00) Europe/Berlin, Rome");
}

struct TStoredBools {
  QVariant LocalTime;  // invalid: not stored
  QVariant UseDst;
  bool ExpectLocalTime;
  bool ExpectUseDst;
};

void PrintTo(const TStoredBools& c, std::ostream* os) {
  *os << c.LocalTime.toString().toStdString() << '/' << c.UseDst.toString().toStdString();
}

class TimezoneDialogBools : public TimezoneDialogTest, public ::testing::WithParamInterface<TStoredBools> {};

TEST_P(TimezoneDialogBools, StoredBooleansReadByTheRule) {
  const TStoredBools c = GetParam();
  if (c.LocalTime.isValid()) Store("LocalTime", c.LocalTime);
  if (c.UseDst.isValid()) Store("UseDst", c.UseDst);
  TdlgSetTimezone dialog(nullptr, SomeZones);
  EXPECT_EQ(TimeZoneOptions.LocalTime, c.ExpectLocalTime);
  EXPECT_EQ(TimeZoneOptions.UseDst, c.ExpectUseDst);
  EXPECT_EQ(LocalTime(dialog)->isChecked(), c.ExpectLocalTime);
  EXPECT_EQ(Dst(dialog)->isChecked(), c.ExpectUseDst);
}

INSTANTIATE_TEST_SUITE_P(
    Values, TimezoneDialogBools,
    ::testing::Values(TStoredBools{QStringLiteral("1"), QStringLiteral("0"), true, false},
                      TStoredBools{QStringLiteral("0"), QStringLiteral("1"), false, true},
                      TStoredBools{QStringLiteral("no"), QStringLiteral("yes"), true, false},
                      TStoredBools{QVariant(1), QVariant(7), true, true},
                      TStoredBools{QVariant(0), QVariant(0), false, false},
                      TStoredBools{QStringLiteral(""), QStringLiteral(""), true, false},
                      TStoredBools{QVariant(), QStringLiteral("-1"), true, true}));

TEST_F(TimezoneDialogTest, CancelKeepsTheShownStateButNotTheOptions) {
  TdlgSetTimezone dialog(nullptr, SomeZones);
  dialog.show();
  TimeZone(dialog)->click();
  Zones(dialog)->setCurrentIndex(1);
  Dst(dialog)->click();
  Cancel(dialog)->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_TRUE(TimeZoneOptions.LocalTime);
  EXPECT_EQ(TimeZoneOptions.SelectedZone, "");
  EXPECT_TRUE(Stored().isEmpty());

  // Shown again: the state the user left, and OK stores what is shown.
  dialog.show();
  EXPECT_TRUE(TimeZone(dialog)->isChecked());
  EXPECT_EQ(Zones(dialog)->currentIndex(), 1);
  EXPECT_TRUE(Dst(dialog)->isChecked());
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  dialog.show();
  EXPECT_TRUE(dialog.close());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_TRUE(TimeZoneOptions.LocalTime);

  dialog.show();
  Ok(dialog)->click();
  EXPECT_FALSE(TimeZoneOptions.LocalTime);
  EXPECT_EQ(TimeZoneOptions.SelectedZone, "(UTC+00:00) Europe/London");
  EXPECT_TRUE(TimeZoneOptions.UseDst);
  EXPECT_NE(Stored().indexOf(QStringLiteral("LocalTime=0\nSelectedZone=(UTC+00:00) Europe/London\nUseDst=1\n")), -1)
      << Stored().toStdString();
}

TEST_F(TimezoneDialogTest, OkWithLocalTimeStillStoresTheZoneAndTheTick) {
  TdlgSetTimezone dialog(nullptr, SomeZones);
  dialog.show();
  TimeZone(dialog)->click();
  Zones(dialog)->setCurrentIndex(4);
  Dst(dialog)->click();
  LocalTime(dialog)->click();
  Ok(dialog)->click();
  EXPECT_TRUE(TimeZoneOptions.LocalTime);
  EXPECT_EQ(TimeZoneOptions.SelectedZone, "(UTC+05:30) Asia/Kolkata");
  EXPECT_TRUE(TimeZoneOptions.UseDst);
  EXPECT_NE(Stored().indexOf(QStringLiteral("LocalTime=1\nSelectedZone=(UTC+05:30) Asia/Kolkata\nUseDst=1\n")), -1)
      << Stored().toStdString();

  // A new dialog (the next program start) shows the stored choice.
  TdlgSetTimezone next(nullptr, SomeZones);
  EXPECT_TRUE(LocalTime(next)->isChecked());
  EXPECT_EQ(Zones(next)->currentText(), QStringLiteral("(UTC+05:30) Asia/Kolkata"));
  EXPECT_TRUE(Dst(next)->isChecked());
}

TEST_F(TimezoneDialogTest, ARefusedStoreShowsTheErrorBoxAndStillEndsWithOk) {
  TdlgSetTimezone dialog(nullptr, SomeZones);
  const QString blocker = FreshSettingsFolder() + QStringLiteral("/blocker");
  QFile(blocker).open(QIODevice::WriteOnly);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker + QStringLiteral("/config"));

  dialog.show();
  TimeZone(dialog)->click();
  Zones(dialog)->setCurrentIndex(0);
  Ok(dialog)->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  ASSERT_EQ(Recorded.Shown.size(), 1u);
  EXPECT_EQ(Recorded.Shown[0].Kind, TMsgKind::Error);
  EXPECT_TRUE(Recorded.Shown[0].Text.contains(QStringLiteral("LocalTime"))) << Recorded.Shown[0].Text.toStdString();
  EXPECT_FALSE(TimeZoneOptions.LocalTime) << "the options hold the new choice for this run";
  EXPECT_EQ(TimeZoneOptions.SelectedZone, "(UTC-05:00) America/New_York");
}

TEST_F(TimezoneDialogTest, ModalDialogEndsWithOkOrCancel) {
  TdlgSetTimezone dialog(nullptr, SomeZones);
  QTimer::singleShot(0, [&] { QTest::keyClick(&dialog, Qt::Key_Return); });
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  QTimer::singleShot(0, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
}

TEST_F(TimezoneDialogTest, TheOpenListShowsSixteenRows) {
  TdlgSetTimezone dialog;
  dialog.show();
  QComboBox* zones = Zones(dialog);
  ASSERT_GT(zones->count(), 16);
  TimeZone(dialog)->click();
  zones->showPopup();
  const QAbstractItemView* view = zones->view();
  ASSERT_TRUE(view->isVisible());
  const int row = view->sizeHintForRow(0);
  EXPECT_GE(view->height(), 15 * row);
  EXPECT_LE(view->height(), 17 * row);
  zones->hidePopup();
}

TEST_F(TimezoneDialogTest, TabOrderButtonsFirst) {
  TdlgSetTimezone dialog(nullptr, SomeZones);
  const QStringList wanted = {"btnCancel", "btnOk", "rbLocalTime", "rbTimeZone", "cbTimeZone", "cbDst"};
  QStringList chain;
  QWidget* w = dialog.findChild<QWidget*>(QStringLiteral("btnCancel"));
  for (int i = 0; i < 40 && chain.size() < wanted.size(); ++i, w = w->nextInFocusChain())
    if (wanted.contains(w->objectName()) && !chain.contains(w->objectName())) chain << w->objectName();
  EXPECT_EQ(chain, wanted);
}

TEST_F(TimezoneDialogTest, ScreenshotIsNotBlank) {
  Store("LocalTime", QStringLiteral("0"));
  Store("SelectedZone", QStringLiteral("(UTC+05:30) Asia/Kolkata"));
  TdlgSetTimezone dialog(nullptr, SomeZones);
  dialog.show();
  const QImage shot = dialog.grab().toImage();
  EXPECT_EQ(shot.size(), QSize(392, 202));
  EXPECT_GT(DistinctColours(shot), 8);
  KeepScreenshot(shot, QStringLiteral("timezonedialog"));
}

}  // namespace
