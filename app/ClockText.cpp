#include "app/ClockText.h"

#include <QLocale>
#include <QRegularExpression>

ClockText ClockText::fixed(const QDateTime& moment, const QString& dateFormat, const QString& timeFormat)
{
    ClockText clock;
    clock.m_clock = [moment] { return moment; };
    clock.m_dateFormat = dateFormat;
    clock.m_timeFormat = timeFormat;
    return clock;
}

ClockText ClockText::fixed(const QDateTime& moment, const QLocale& locale)
{
    ClockText clock;
    clock.m_clock = [moment] { return moment; };
    clock.m_locale = locale;
    return clock;
}

QString ClockText::stampText() const
{
    const QDateTime moment = now();
    return shortDate(moment.date()) + QLatin1Char('-') + longTime(moment.time());
}

QString ClockText::captionText() const
{
    const QDateTime moment = now();
    QString text = shortDate(moment.date());
    if (moment.time() != QTime(0, 0)) {
        text += QLatin1Char(' ') + longTime(moment.time());
    }
    return text;
}

QDateTime ClockText::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

QString ClockText::shortDate(const QDate& date) const
{
    const QLocale locale = this->locale();
    return locale.toString(date, m_dateFormat.isEmpty() ? locale.dateFormat(QLocale::ShortFormat) : m_dateFormat);
}

QString ClockText::longTime(const QTime& time) const
{
    const QLocale locale = this->locale();
    const QString format
        = m_timeFormat.isEmpty() ? withoutTimeZone(locale.timeFormat(QLocale::LongFormat)) : m_timeFormat;
    return locale.toString(time, format);
}

QString ClockText::withoutTimeZone(const QString& format)
{
    // The zone's letters become one mark; literals in quotes are left alone.
    constexpr QChar Zone(0x1);
    QString marked;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        }
        if (!quoted && c == QLatin1Char('t')) {
            if (!marked.endsWith(Zone)) {
                marked.append(Zone);
            }
            continue;
        }
        marked.append(c);
    }
    // With the zone go its brackets ("H:mm:ss (t)"), and the blanks and commas that part it from the time.
    static const QRegularExpression bracketed(QStringLiteral("[\\(\\[\\{]\\s*\\x01\\s*[\\)\\]\\}]"));
    static const QRegularExpression atEnd(QStringLiteral("[\\s,;]*\\x01\\s*$"));
    static const QRegularExpression atStart(QStringLiteral("^\\s*\\x01[\\s,;]*"));
    static const QRegularExpression between(QStringLiteral("\\s*\\x01\\s*"));
    marked.replace(bracketed, QString(Zone));
    marked.remove(atEnd);
    marked.remove(atStart);
    marked.replace(between, QStringLiteral(" "));
    return marked.trimmed();
}
