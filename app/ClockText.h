#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// The current moment and the user's short date and long time formats, as the
// journal's stamp lines and the caption show them. Tests fix all three.
namespace ClockText
{
QDateTime now();
QString shortDate(const QDate& date);
QString longTime(const QTime& time);

// The locale's long time format without its time-zone part ("HH:mm:ss t" -> "HH:mm:ss").
QString withoutTimeZone(const QString& format);

// An empty function or format restores the system's own.
void setForTesting(std::function<QDateTime()> clock, const QString& dateFormat, const QString& timeFormat);
} // namespace ClockText
