#pragma once
#include <QSettings>
#include <QString>
#include <memory>

// The settings accessor: a key path such as "Software\\Tarvek\\Lumivale" is
// organization "Tarvek", application "Lumivale"; a section is a group whose
// backslashes become slashes. Opened, used and closed within one handler.
class TSettingsAccessor {
 public:
  explicit TSettingsAccessor(const QString& keyPath);
  QString ReadString(const QString& section, const QString& name, const QString& def) const;
  // Throws std::runtime_error when the store refuses the write.
  void WriteString(const QString& section, const QString& name, const QString& value);
  bool ReadBool(const QString& section, const QString& name, bool def) const;
  void WriteBool(const QString& section, const QString& name, bool value);
  // The section exists and holds at least one value.
  bool SectionExists(const QString& section) const;

 private:
  std::unique_ptr<QSettings> FSettings;
};
