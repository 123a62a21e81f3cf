#pragma once
#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

// A time format without its time zone fields (and the separators or brackets
// that only framed them); shown times are plain clock readings.
QString TimeFormatWithoutZone(const QString& format);

// The display form of a date-time: the locale's short date, then a blank and
// its long time without zone; only the date when hour, minute and second are 0.
QString DateTimeDisplayText(QDate date, QTime time, const QLocale& locale = QLocale());
