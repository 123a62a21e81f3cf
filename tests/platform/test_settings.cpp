#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <stdexcept>

#include "guitestenv.h"
#include "platform/settings.h"

namespace {

const QString ProductKey = QStringLiteral("Software\\Tarvek\\Lumivale");
const QString MakerKey = QStringLiteral("Software\\Tarvek");

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { Folder = FreshSettingsFolder(); }
  // Writes a settings file by hand, as another program or an older version would have.
  void WriteFile(const QString& relativePath, const QByteArray& content) {
    const QString path = Folder + QLatin1Char('/') + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  QString Folder;
};

TEST_F(SettingsTest, KeyPathNamesOrganizationApplicationAndGroup) {
  TSettingsAccessor(ProductKey).WriteString(QStringLiteral("Restore"), QStringLiteral("ImageFolder"),
                                            QStringLiteral("/photos/2012"));
  TSettingsAccessor(ProductKey).WriteString(QStringLiteral("Deep\\Down"), QStringLiteral("Value"),
                                            QStringLiteral("x"));
  const QString text = SettingsFileText(QStringLiteral("Tarvek/Lumivale.conf"));
  EXPECT_NE(text.indexOf(QStringLiteral("[Restore]\nImageFolder=/photos/2012")), -1) << text.toStdString();
  EXPECT_NE(text.indexOf(QStringLiteral("[Deep]\nDown\\Value=x")), -1) << text.toStdString();

  QSettings independent(QStringLiteral("Tarvek"), QStringLiteral("Lumivale"));
  EXPECT_EQ(independent.value(QStringLiteral("Restore/ImageFolder")).toString(), QStringLiteral("/photos/2012"));
  EXPECT_EQ(independent.value(QStringLiteral("Deep/Down/Value")).toString(), QStringLiteral("x"));
}

TEST_F(SettingsTest, OnTheMakersKeyTheSectionNamesTheApplication) {
  TSettingsAccessor(MakerKey).WriteString(QStringLiteral("VTR\\Restore"), QStringLiteral("Folder"),
                                          QStringLiteral("a"));
  EXPECT_NE(SettingsFileText(QStringLiteral("Tarvek/VTR.conf")).indexOf(QStringLiteral("[Restore]\nFolder=a")), -1);
  EXPECT_EQ(TSettingsAccessor(MakerKey).ReadString(QStringLiteral("VTR\\Restore"), QStringLiteral("Folder"), {}),
            QStringLiteral("a"));
  // Not visible under the product's own key.
  EXPECT_FALSE(TSettingsAccessor(ProductKey).SectionExists(QStringLiteral("Restore")));
}

TEST_F(SettingsTest, TextsRoundTripAndTheEmptyTextIsStored) {
  TSettingsAccessor settings(ProductKey);
  settings.WriteString(QStringLiteral("Options"), QStringLiteral("SelectedZone"), QString());
  settings.WriteString(QStringLiteral("Restore"), QStringLiteral("ImageFolder"),
                       QStringLiteral("/home/ana/Fotos Ærø, 東京"));
  EXPECT_NE(SettingsFileText(QStringLiteral("Tarvek/Lumivale.conf")).indexOf(QStringLiteral("SelectedZone=\n")), -1);

  TSettingsAccessor reread(ProductKey);
  EXPECT_EQ(reread.ReadString(QStringLiteral("Options"), QStringLiteral("SelectedZone"), QStringLiteral("default")),
            QString());
  EXPECT_EQ(reread.ReadString(QStringLiteral("Restore"), QStringLiteral("ImageFolder"), {}),
            QStringLiteral("/home/ana/Fotos Ærø, 東京"));
  EXPECT_EQ(reread.ReadString(QStringLiteral("Options"), QStringLiteral("Missing"), QStringLiteral("default")),
            QStringLiteral("default"));
  EXPECT_EQ(reread.ReadString(QStringLiteral("Nowhere"), QStringLiteral("Missing"), QStringLiteral("d")),
            QStringLiteral("d"));
}

TEST_F(SettingsTest, BooleansAreWrittenAsOneAndZero) {
  TSettingsAccessor settings(ProductKey);
  settings.WriteBool(QStringLiteral("Options"), QStringLiteral("LocalTime"), true);
  settings.WriteBool(QStringLiteral("Options"), QStringLiteral("UseDst"), false);
  const QString text = SettingsFileText(QStringLiteral("Tarvek/Lumivale.conf"));
  EXPECT_NE(text.indexOf(QStringLiteral("LocalTime=1\n")), -1) << text.toStdString();
  EXPECT_NE(text.indexOf(QStringLiteral("UseDst=0\n")), -1) << text.toStdString();
  EXPECT_TRUE(settings.ReadBool(QStringLiteral("Options"), QStringLiteral("LocalTime"), false));
  EXPECT_FALSE(settings.ReadBool(QStringLiteral("Options"), QStringLiteral("UseDst"), true));
}

struct TBoolCase {
  const char* Stored;  // nullptr: the value is missing
  bool Default;
  bool Expected;
};

void PrintTo(const TBoolCase& c, std::ostream* os) {
  *os << (c.Stored ? c.Stored : "(missing)") << " default " << c.Default;
}

class SettingsBoolRule : public SettingsTest, public ::testing::WithParamInterface<TBoolCase> {};

TEST_P(SettingsBoolRule, StoredTextReadsByTheBooleanRule) {
  const TBoolCase c = GetParam();
  QByteArray content = "[Options]\nOther=1\n";
  if (c.Stored) content += QByteArray("LocalTime=") + c.Stored + "\n";
  WriteFile(QStringLiteral("Tarvek/Lumivale.conf"), content);
  EXPECT_EQ(TSettingsAccessor(ProductKey).ReadBool(QStringLiteral("Options"), QStringLiteral("LocalTime"), c.Default),
            c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, SettingsBoolRule,
                         ::testing::Values(TBoolCase{"1", false, true}, TBoolCase{"0", true, false},
                                           TBoolCase{"7", false, true}, TBoolCase{"-1", false, true},
                                           TBoolCase{"no", true, true}, TBoolCase{"no", false, false},
                                           TBoolCase{"yes", false, false}, TBoolCase{"true", false, false},
                                           TBoolCase{"1.0", false, false}, TBoolCase{"", true, true},
                                           TBoolCase{"", false, false}, TBoolCase{"4294967296", false, false},
                                           TBoolCase{nullptr, true, true}, TBoolCase{nullptr, false, false}));

TEST(SettingToBool, NumberValuesAreTakenUnchanged) {
  EXPECT_TRUE(SettingToBool(QVariant(1), false));
  EXPECT_TRUE(SettingToBool(QVariant(-5), false));
  EXPECT_FALSE(SettingToBool(QVariant(0), true));
  EXPECT_TRUE(SettingToBool(QVariant(quint32(0xFFFFFFFFu)), false));
  // Neither text nor number: the default.
  EXPECT_TRUE(SettingToBool(QVariant(0.0), true));
  EXPECT_FALSE(SettingToBool(QVariant(), false));
}

TEST_F(SettingsTest, NumberWrittenByAnotherProgramReadsAsNumber) {
  QSettings(QStringLiteral("Tarvek"), QStringLiteral("Lumivale")).setValue(QStringLiteral("Options/LocalTime"), 0);
  QSettings(QStringLiteral("Tarvek"), QStringLiteral("Lumivale")).setValue(QStringLiteral("Options/UseDst"), 2);
  TSettingsAccessor settings(ProductKey);
  EXPECT_FALSE(settings.ReadBool(QStringLiteral("Options"), QStringLiteral("LocalTime"), true));
  EXPECT_TRUE(settings.ReadBool(QStringLiteral("Options"), QStringLiteral("UseDst"), false));
}

TEST_F(SettingsTest, ASectionExistsOnlyWithValuesOfItsOwn) {
  WriteFile(QStringLiteral("Tarvek/VTR.conf"), "[Restore]\nFolder=\n");
  WriteFile(QStringLiteral("Tarvek/VTR-Max.conf"), "[Restore]\nSub\\Folder=/x\n");
  TSettingsAccessor maker(MakerKey);
  EXPECT_TRUE(maker.SectionExists(QStringLiteral("VTR\\Restore")));
  EXPECT_FALSE(maker.SectionExists(QStringLiteral("VTR-Max\\Restore")));
  EXPECT_TRUE(maker.SectionExists(QStringLiteral("VTR-Max\\Restore\\Sub")));
  EXPECT_FALSE(maker.SectionExists(QStringLiteral("Other\\Restore")));
  EXPECT_FALSE(maker.SectionExists(QStringLiteral("VTR\\Missing")));
}

TEST_F(SettingsTest, OrganizationWideValuesDoNotShowThrough) {
  WriteFile(QStringLiteral("Tarvek.conf"), "[Options]\nLocalTime=0\n");
  EXPECT_TRUE(TSettingsAccessor(ProductKey).ReadBool(QStringLiteral("Options"), QStringLiteral("LocalTime"), true));
  EXPECT_FALSE(TSettingsAccessor(ProductKey).SectionExists(QStringLiteral("Options")));
}

// A settings folder below a plain file cannot be made, whoever runs the test.
QString UnwritableSettingsFolder() {
  const QString blocker = FreshSettingsFolder() + QStringLiteral("/blocker");
  QFile file(blocker);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  const QString folder = blocker + QStringLiteral("/config");
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
  return folder;
}

TEST_F(SettingsTest, ARefusedWriteThrowsAndLeavesNothingPending) {
  UnwritableSettingsFolder();
  TSettingsAccessor settings(ProductKey);
  EXPECT_THROW(settings.WriteString(QStringLiteral("Restore"), QStringLiteral("ImageFolder"), QStringLiteral("/x")),
               std::runtime_error);
  EXPECT_THROW(settings.WriteBool(QStringLiteral("Options"), QStringLiteral("LocalTime"), false), std::runtime_error);
  TSettingsAccessor reread(ProductKey);
  EXPECT_EQ(reread.ReadString(QStringLiteral("Restore"), QStringLiteral("ImageFolder"), QStringLiteral("none")),
            QStringLiteral("none"));
  EXPECT_TRUE(reread.ReadBool(QStringLiteral("Options"), QStringLiteral("LocalTime"), true));
}

TEST_F(SettingsTest, TheRefusalNamesTheSetting) {
  UnwritableSettingsFolder();
  try {
    TSettingsAccessor(ProductKey).WriteString(QStringLiteral("Options"), QStringLiteral("SelectedZone"), {});
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("SelectedZone"), std::string::npos) << e.what();
  }
}

}  // namespace
