#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// The current moment and the user's short date and long time formats, as the
// journal's stamp lines and the caption show them. Tests make one that stands still.
class ClockText
{
public:
    // The system's clock and formats.
    ClockText() = default;
    // A clock that always tells the moment given, in the formats given.
    static ClockText fixed(const QDateTime& moment, const QString& dateFormat, const QString& timeFormat);

    QDateTime now() const;
    QString shortDate(const QDate& date) const;
    QString longTime(const QTime& time) const;

    // The locale's long time format without its time-zone part ("HH:mm:ss t" -> "HH:mm:ss").
    static QString withoutTimeZone(const QString& format);

private:
    std::function<QDateTime()> m_clock;
    QString m_dateFormat;
    QString m_timeFormat;
};
