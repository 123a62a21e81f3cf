#include "platform/displaytext.h"

#include <QRegularExpression>

QString TimeFormatWithoutZone(const QString& format) {
  static const QRegularExpression zoneField(QStringLiteral("[,\\s]*[\\(\\[]?t+[\\)\\]]?"));
  QString result;
  QString plain;  // the run of format letters outside quotes
  const auto flushPlain = [&] {
    result += QString(plain).remove(zoneField);
    plain.clear();
  };
  bool quoted = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) {
      if (!quoted) flushPlain();
      quoted = !quoted;
      result += c;
    } else if (quoted) {
      result += c;
    } else {
      plain += c;
    }
  }
  flushPlain();
  return result.trimmed();
}

QString DateTimeDisplayText(QDate date, QTime time, const QLocale& locale) {
  QString text = locale.toString(date, QLocale::ShortFormat);
  if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
    text += QLatin1Char(' ') + locale.toString(time, TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
  return text;
}
