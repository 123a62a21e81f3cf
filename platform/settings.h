#pragma once
#include <QSettings>
#include <QString>
#include <map>
#include <memory>

// The settings accessor: a key path such as "Software\\Tarvek\\Lumivale" is
// organization "Tarvek", application "Lumivale"; a section is a group whose
// backslashes become slashes. On a key that names only the organization
// ("Software\\Tarvek") the first component of the section names the application
// ("VTR\\Restore" is application "VTR", group "Restore").
// Opened, used and closed within one handler.
class TSettingsAccessor {
 public:
  explicit TSettingsAccessor(const QString& keyPath);
  ~TSettingsAccessor();
  TSettingsAccessor(const TSettingsAccessor&) = delete;
  TSettingsAccessor& operator=(const TSettingsAccessor&) = delete;

  QString ReadString(const QString& section, const QString& name, const QString& def) const;
  // Throws std::runtime_error when the store refuses the write.
  void WriteString(const QString& section, const QString& name, const QString& value);
  bool ReadBool(const QString& section, const QString& name, bool def) const;
  void WriteBool(const QString& section, const QString& name, bool value);
  // The section exists and holds at least one value.
  bool SectionExists(const QString& section) const;

 private:
  struct TLocation {
    QSettings* Store;
    QString Group;  // "" or "Group/Sub"
  };
  TLocation Locate(const QString& section) const;
  QVariant ReadValue(const QString& section, const QString& name) const;

  QString FOrganization;
  QString FApplication;  // empty when the key names only the organization
  QString FGroupPrefix;  // components of the key below the application
  mutable std::map<QString, std::unique_ptr<QSettings>> FStores;  // by application
};

// The Boolean rule: a text must be a whole number (else `def`), a number is
// taken as it is; true when not 0. Other types give `def`.
bool SettingToBool(const QVariant& value, bool def);
