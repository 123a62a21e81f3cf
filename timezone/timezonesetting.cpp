#include "timezone/timezonesetting.h"

#include <QDate>
#include <QDateTime>
#include <QPushButton>
#include <QTimeZone>
#include <algorithm>
#include <cstdlib>

#include "platform/dialogs.h"
#include "platform/settings.h"
#include "track/timeshift.h"
#include "ui_timezonesetting.h"

TdlgSetTimezone* dlgSetTimezone = nullptr;

namespace {

const QString ProductKey = QStringLiteral("Software\\Tarvek\\Lumivale");
const QString OptionsSection = QStringLiteral("Options");

}  // namespace

void InsertZoneSorted(std::string_view text, std::vector<std::string>& entries) {
  const int offset = ZoneOffsetMinutes(text);
  const auto at = std::find_if(entries.begin(), entries.end(),
                               [offset](const std::string& entry) { return ZoneOffsetMinutes(entry) >= offset; });
  entries.emplace(at, text);
}

std::string ZoneDisplayText(const QByteArray& zoneId, int year) {
  const QTimeZone zone(zoneId);
  const auto offsetOn = [&](int month) {
    return zone.offsetFromUtc(QDateTime(QDate(year, month, 1), QTime(12, 0), QTimeZone::utc()));
  };
  // Some zones call their summer time standard and their winter time daylight
  // saving; the smaller offset is the one the zone falls back to.
  const int minutes = std::min(offsetOn(1), offsetOn(7)) / 60;
  const QString text = QStringLiteral("(UTC%1%2:%3) %4")
                           .arg(minutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                           .arg(std::abs(minutes) / 60, 2, 10, QLatin1Char('0'))
                           .arg(std::abs(minutes) % 60, 2, 10, QLatin1Char('0'))
                           .arg(QString::fromUtf8(zoneId));
  return text.toStdString();
}

std::vector<std::string> SystemZoneTexts() {
  QList<QByteArray> ids = QTimeZone::availableTimeZoneIds();
  std::sort(ids.begin(), ids.end(), std::greater<>());
  const int year = QDate::currentDate().year();
  std::vector<std::string> texts;
  texts.reserve(static_cast<size_t>(ids.size()));
  for (const QByteArray& id : ids) texts.push_back(ZoneDisplayText(id, year));
  return texts;
}

TdlgSetTimezone::TdlgSetTimezone(QWidget* parent, const std::vector<std::string>& zoneTexts)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::dlgSetTimezone>()) {
  ui->setupUi(this);
  setFixedSize(size());
  connect(ui->rbLocalTime, &QRadioButton::toggled, this, [this] { RunHandler([this] { rbTimeZoneClick(); }); });
  connect(ui->rbTimeZone, &QRadioButton::toggled, this, [this] { RunHandler([this] { rbTimeZoneClick(); }); });
  connect(ui->cbTimeZone, &QComboBox::currentIndexChanged, this,
          [this] { RunHandler([this] { cbTimeZoneChange(); }); });
  // A refused store is reported, and the dialog still ends with OK: the options
  // already hold the new choice for this run.
  connect(ui->btnOk, &QPushButton::clicked, this, [this] {
    RunHandler([this] { btnOkClick(); });
    accept();
  });
  connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  FormCreate(zoneTexts);
}

TdlgSetTimezone::~TdlgSetTimezone() {
  if (dlgSetTimezone == this) dlgSetTimezone = nullptr;
}

void TdlgSetTimezone::FormCreate(const std::vector<std::string>& zoneTexts) {
  std::vector<std::string> entries;
  entries.reserve(zoneTexts.size());
  for (const std::string& text : zoneTexts) InsertZoneSorted(text, entries);
  {
    const QSignalBlocker quiet(ui->cbTimeZone);
    ui->cbTimeZone->clear();
    for (const std::string& entry : entries) ui->cbTimeZone->addItem(QString::fromStdString(entry));
  }

  {
    const TSettingsAccessor settings(ProductKey);
    TimeZoneOptions.LocalTime = settings.ReadBool(OptionsSection, QStringLiteral("LocalTime"), true);
    TimeZoneOptions.SelectedZone = settings.ReadString(OptionsSection, QStringLiteral("SelectedZone"), {}).toStdString();
    TimeZoneOptions.UseDst = settings.ReadBool(OptionsSection, QStringLiteral("UseDst"), false);
  }

  const QSignalBlocker quietLocal(ui->rbLocalTime);
  const QSignalBlocker quietZone(ui->rbTimeZone);
  const QSignalBlocker quietList(ui->cbTimeZone);
  (TimeZoneOptions.LocalTime ? ui->rbLocalTime : ui->rbTimeZone)->setChecked(true);
  ui->cbDst->setChecked(TimeZoneOptions.UseDst);
  // The whole text, letters in any case; nothing selected when none matches.
  ui->cbTimeZone->setCurrentIndex(
      ui->cbTimeZone->findText(QString::fromStdString(TimeZoneOptions.SelectedZone), Qt::MatchFixedString));
  rbTimeZoneClick();
}

void TdlgSetTimezone::UpdateOkButton() {
  ui->btnOk->setEnabled(ui->rbLocalTime->isChecked() || ui->cbTimeZone->currentIndex() >= 0);
}

void TdlgSetTimezone::rbTimeZoneClick() {
  const bool fixedZone = ui->rbTimeZone->isChecked();
  ui->cbTimeZone->setEnabled(fixedZone);
  ui->cbDst->setEnabled(fixedZone);
  UpdateOkButton();
}

void TdlgSetTimezone::cbTimeZoneChange() { UpdateOkButton(); }

void TdlgSetTimezone::btnOkClick() {
  TimeZoneOptions.LocalTime = ui->rbLocalTime->isChecked();
  TimeZoneOptions.UseDst = ui->cbDst->isChecked();
  TimeZoneOptions.SelectedZone =
      ui->cbTimeZone->currentIndex() >= 0 ? ui->cbTimeZone->currentText().toStdString() : std::string();

  TSettingsAccessor settings(ProductKey);
  settings.WriteBool(OptionsSection, QStringLiteral("LocalTime"), TimeZoneOptions.LocalTime);
  settings.WriteString(OptionsSection, QStringLiteral("SelectedZone"), QString::fromStdString(TimeZoneOptions.SelectedZone));
  settings.WriteBool(OptionsSection, QStringLiteral("UseDst"), TimeZoneOptions.UseDst);
}
