#pragma once
#include <QByteArray>
#include <QDialog>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Ui {
class dlgSetTimezone;
}

// Inserts `text` directly before the first entry whose offset (ZoneOffsetMinutes)
// is greater than or equal to its own, else at the end: the list stays ordered
// by offset and a text goes before those of the same offset.
void InsertZoneSorted(std::string_view text, std::vector<std::string>& entries);

// "(UTC+hh:mm) Area/City": the zone's standard offset, taken as the smaller of
// its January and July offsets in `year`.
std::string ZoneDisplayText(const QByteArray& zoneId, int year);
// The display texts of the system's zones, in reverse alphabetical order of
// their names, so that InsertZoneSorted leaves each offset's zones alphabetical.
std::vector<std::string> SystemZoneTexts();

// The time zone dialog: "Use local time" or a fixed zone with an optional
// daylight saving hour. Created once, hidden; its controls are set from the
// stored options only at creation.
class TdlgSetTimezone : public QDialog {
  Q_OBJECT

 public:
  // `zoneTexts` in the order the system lists its zones.
  explicit TdlgSetTimezone(QWidget* parent = nullptr, const std::vector<std::string>& zoneTexts = SystemZoneTexts());
  ~TdlgSetTimezone() override;

  void FormCreate(const std::vector<std::string>& zoneTexts);
  void rbTimeZoneClick();
  void cbTimeZoneChange();
  void btnOkClick();

 private:
  void UpdateOkButton();

  std::unique_ptr<Ui::dlgSetTimezone> ui;
};

// The program-wide instance, created at start-up after the main window.
extern TdlgSetTimezone* dlgSetTimezone;
