#include "app/ClockText.h"

#include <QLocale>

namespace
{
std::function<QDateTime()> g_clock;
QString g_dateFormat;
QString g_timeFormat;
} // namespace

namespace ClockText
{
QDateTime now()
{
    return g_clock ? g_clock() : QDateTime::currentDateTime();
}

QString shortDate(const QDate& date)
{
    const QLocale locale = QLocale::system();
    return locale.toString(date, g_dateFormat.isEmpty() ? locale.dateFormat(QLocale::ShortFormat) : g_dateFormat);
}

QString longTime(const QTime& time)
{
    const QLocale locale = QLocale::system();
    const QString format
        = g_timeFormat.isEmpty() ? withoutTimeZone(locale.timeFormat(QLocale::LongFormat)) : g_timeFormat;
    return locale.toString(time, format);
}

QString withoutTimeZone(const QString& format)
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

void setForTesting(std::function<QDateTime()> clock, const QString& dateFormat, const QString& timeFormat)
{
    g_clock = std::move(clock);
    g_dateFormat = dateFormat;
    g_timeFormat = timeFormat;
}
} // namespace ClockText
