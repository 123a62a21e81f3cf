#include "platform/settings.h"

#include <QStringList>
#include <stdexcept>

namespace {

QStringList PathComponents(const QString& path) {
  return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

QString JoinGroup(const QStringList& parts) { return parts.join(QLatin1Char('/')); }

QString ValueKey(const QString& group, const QString& name) {
  return group.isEmpty() ? name : group + QLatin1Char('/') + name;
}

}  // namespace

TSettingsAccessor::TSettingsAccessor(const QString& keyPath) {
  QStringList parts = PathComponents(keyPath);
  if (!parts.isEmpty() && parts.first().compare(QLatin1String("Software"), Qt::CaseInsensitive) == 0)
    parts.removeFirst();
  FOrganization = parts.value(0);
  FApplication = parts.value(1);
  FGroupPrefix = JoinGroup(parts.mid(2));
}

TSettingsAccessor::~TSettingsAccessor() = default;

TSettingsAccessor::TLocation TSettingsAccessor::Locate(const QString& section) const {
  QStringList parts = PathComponents(section);
  QString application = FApplication;
  if (application.isEmpty() && !parts.isEmpty()) application = parts.takeFirst();
  if (!FGroupPrefix.isEmpty()) parts.prepend(FGroupPrefix);

  auto& store = FStores[application];
  if (!store) {
    store = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, FOrganization,
                                        application);
    // Values of the organization or the system must not show through.
    store->setFallbacksEnabled(false);
  }
  return {store.get(), JoinGroup(parts)};
}

QVariant TSettingsAccessor::ReadValue(const QString& section, const QString& name) const {
  const TLocation where = Locate(section);
  return where.Store->value(ValueKey(where.Group, name));
}

QString TSettingsAccessor::ReadString(const QString& section, const QString& name,
                                      const QString& def) const {
  const QVariant value = ReadValue(section, name);
  if (!value.isValid()) return def;
  // An unquoted text with commas comes back as a list.
  if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(QLatin1String(", "));
  return value.toString();
}

void TSettingsAccessor::WriteString(const QString& section, const QString& name,
                                    const QString& value) {
  const TLocation where = Locate(section);
  const auto refused = [&] {
    return std::runtime_error("Could not store the setting \"" + name.toStdString() + "\" in " +
                              where.Store->fileName().toStdString());
  };
  // Checked first: a refused change would otherwise stay pending in Qt's shared
  // cache and be read back for the rest of the run as if it had been stored.
  if (!where.Store->isWritable()) throw refused();
  // A null text would read back as missing; the empty text is a value.
  where.Store->setValue(ValueKey(where.Group, name), value.isNull() ? QString(QLatin1String("")) : value);
  where.Store->sync();
  if (where.Store->status() == QSettings::AccessError) throw refused();
}

bool SettingToBool(const QVariant& value, bool def) {
  switch (value.typeId()) {
    case QMetaType::QString: {
      bool ok = false;
      const int number = value.toString().toInt(&ok, 10);
      return ok ? number != 0 : def;
    }
    case QMetaType::QByteArray: {
      bool ok = false;
      const int number = value.toByteArray().toInt(&ok, 10);
      return ok ? number != 0 : def;
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      return value.toLongLong() != 0;
    default:
      return def;
  }
}

bool TSettingsAccessor::ReadBool(const QString& section, const QString& name, bool def) const {
  return SettingToBool(ReadValue(section, name), def);
}

void TSettingsAccessor::WriteBool(const QString& section, const QString& name, bool value) {
  WriteString(section, name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TSettingsAccessor::SectionExists(const QString& section) const {
  const TLocation where = Locate(section);
  if (where.Store->status() != QSettings::NoError) return false;
  if (where.Group.isEmpty()) return !where.Store->childKeys().isEmpty();
  where.Store->beginGroup(where.Group);
  const bool hasValues = !where.Store->childKeys().isEmpty();
  where.Store->endGroup();
  return hasValues;
}
