#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>
#include <optional>

// The current moment and the user's short date and long time formats, as the
// journal's stamp lines and the caption show them. Tests make one that stands still.
class ClockText
{
public:
    // The system's clock and formats.
    ClockText() = default;
    // A clock that always tells the moment given, in the formats given.
    static ClockText fixed(const QDateTime& moment, const QString& dateFormat, const QString& timeFormat);
    // A clock that always tells the moment given, in a locale's own formats.
    static ClockText fixed(const QDateTime& moment, const QLocale& locale);

    QDateTime now() const;
    QString shortDate(const QDate& date) const;
    QString longTime(const QTime& time) const;
    // The moment a stamp line tells: date, "-", time.
    QString stampText() const;
    // The moment the caption tells after "Save": date and time, the date alone at midnight.
    QString captionText() const;

    // The locale's long time format without its time-zone part ("HH:mm:ss t" -> "HH:mm:ss").
    static QString withoutTimeZone(const QString& format);

private:
    QLocale locale() const { return m_locale.value_or(QLocale::system()); }

    std::function<QDateTime()> m_clock;
    std::optional<QLocale> m_locale;
    QString m_dateFormat;
    QString m_timeFormat;
};
