#include "app/ClockText.h"

#include <QLocale>

ClockText ClockText::fixed(const QDateTime& moment, const QString& dateFormat, const QString& timeFormat)
{
    ClockText clock;
    clock.m_clock = [moment] { return moment; };
    clock.m_dateFormat = dateFormat;
    clock.m_timeFormat = timeFormat;
    return clock;
}

QDateTime ClockText::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

QString ClockText::shortDate(const QDate& date) const
{
    const QLocale locale = QLocale::system();
    return locale.toString(date, m_dateFormat.isEmpty() ? locale.dateFormat(QLocale::ShortFormat) : m_dateFormat);
}

QString ClockText::longTime(const QTime& time) const
{
    const QLocale locale = QLocale::system();
    const QString format
        = m_timeFormat.isEmpty() ? withoutTimeZone(locale.timeFormat(QLocale::LongFormat)) : m_timeFormat;
    return locale.toString(time, format);
}

QString ClockText::withoutTimeZone(const QString& format)
{
    QString result;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        }
        if (!quoted && c == QLatin1Char('t')) {
            continue;
        }
        result.append(c);
    }
    return result.trimmed();
}
