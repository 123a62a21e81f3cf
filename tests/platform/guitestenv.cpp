#include "guitestenv.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "platform/fonts.h"

namespace {

QTemporaryDir* Root = nullptr;
QString CurrentSettings;
int SettingsCount = 0;

class TGuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Root = new QTemporaryDir;
    ASSERT_TRUE(Root->isValid());
    const QByteArray home = Root->filePath(QStringLiteral("home")).toUtf8();
    QDir().mkpath(QString::fromUtf8(home));
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_RUNTIME_DIR", Root->path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    FApp = std::make_unique<QApplication>(FArgc, FArgv);
    // The fonts the program's windows are laid out for.
    LoadApplicationFonts();
    QApplication::setFont(WindowFont());
    FreshSettingsFolder();
  }
  void TearDown() override {
    FApp.reset();
    delete Root;
    Root = nullptr;
  }

 private:
  int FArgc = 1;
  char FName[16] = "lumivale_tests";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QApplication> FApp;
};

[[maybe_unused]] const auto* Registered = ::testing::AddGlobalTestEnvironment(new TGuiEnvironment);

}  // namespace

QString TestTempRoot() { return Root->path(); }

QString FreshSettingsFolder() {
  CurrentSettings = Root->filePath(QStringLiteral("settings%1").arg(++SettingsCount));
  QDir().mkpath(CurrentSettings);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, CurrentSettings);
  return CurrentSettings;
}

QString SettingsFileText(const QString& relativePath) {
  QFile file(CurrentSettings + QLatin1Char('/') + relativePath);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

int DistinctColours(const QImage& image) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  return static_cast<int>(colours.size());
}

void KeepScreenshot(const QImage& image, const QString& name) {
  const QString folder = qEnvironmentVariable("LUMIVALE_SCREENSHOT_DIR");
  if (!folder.isEmpty()) image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}
