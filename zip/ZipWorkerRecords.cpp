#include "zip/ZipWorkerRecords.h"

#include <QDateTime>
#include <QRegularExpression>

#include <array>
#include <cmath>

namespace
{
constexpr std::array<const char*, 27> kStoreSuffixes { "gif", "png", "z", "zip", "zoo", "arc", "lzh", "arj", "taz",
    "tgz", "lha", "rar", "ace", "cab", "gz", "gzip", "jar", "exe", nullptr, "jpg", "jpeg", "7zp", "mp3", "wmv", "wma",
    "dvr-ms", "avi" };
constexpr qint32 kSpecOn = 0xFFFF;

quint32 dosFrom(const QDateTime& when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    if (!d.isValid() || d.year() < 1980 || d.year() > 2107)
        return 0;
    return (quint32(d.year() - 1980) << 25) | (quint32(d.month()) << 21) | (quint32(d.day()) << 16)
        | (quint32(t.hour()) << 11) | (quint32(t.minute()) << 5) | quint32(t.second() / 2);
}
} // namespace

QString StoreSuffixList(AddStoreExts suffixes, const QString& extraSuffixes)
{
    QString list;
    for (size_t i = 0; i < kStoreSuffixes.size(); ++i) {
        const auto member = AddStoreSuffixEnum(i);
        if (!suffixes.contains(member))
            continue;
        if (member == assEXT)
            list += extraSuffixes;
        else
            list += QLatin1Char('.') + QLatin1String(kStoreSuffixes[i]) + QLatin1Char(':');
    }
    if (list.endsWith(QLatin1Char(':')))
        list.chop(1);
    return list;
}

QString NormaliseStoreSuffixes(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,;:]"));
    QString result;
    for (QString item : text.split(separators)) {
        item = item.trimmed();
        if (item.isEmpty())
            continue;
        if (!item.startsWith(QLatin1Char('.')))
            item.prepend(QLatin1Char('.'));
        result += item + QLatin1Char(':');
    }
    return result.toLower();
}

quint32 DateTimeToDos(double value)
{
    if (!std::isfinite(value) || std::abs(value) > 3.0e6)
        return 0;
    const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0));
    // The whole part counts days, the fraction's size the time of day, also before the epoch.
    const double days = std::trunc(value);
    const auto msecs = qint64(std::llround(std::abs(value - days) * 86400000.0));
    return dosFrom(epoch.addDays(qint64(days)).addMSecs(msecs));
}

quint32 DosNow()
{
    return dosFrom(QDateTime::currentDateTime());
}

ZipFileSpec ParseFileSpec(const QString& item, bool recurse, bool encrypt, const QString& password)
{
    ZipFileSpec spec;
    spec.Recurse = qint32(quint32(EngineFlag(recurse)) & 0xFFFF);
    spec.Encrypt = EngineFlag(encrypt);
    spec.Password = password;
    QString rest = item;
    if (rest.startsWith(QLatin1Char('>'))) {
        spec.Recurse = kSpecOn;
        rest.remove(0, 1);
    } else if (rest.startsWith(QLatin1Char('|'))) {
        spec.Recurse = 0;
        rest.remove(0, 1);
    }
    const qsizetype lt = rest.indexOf(QLatin1Char('<'));
    if (lt >= 0) {
        const QString after = rest.mid(lt + 1);
        rest.truncate(lt);
        if (!after.isEmpty() && after.front() != QLatin1Char(' ')) {
            spec.Password = after;
            spec.Encrypt = kSpecOn;
        } else {
            spec.Password.clear();
            spec.Encrypt = 0;
        }
    }
    spec.Name = rest.trimmed();
    return spec;
}

const char* TEngineTexts::Add(const QByteArray& text)
{
    m_texts.push_back(text);
    // A detached copy: the record keeps its address while other texts are added.
    m_texts.back().detach();
    return m_texts.back().constData();
}

QByteArray EngineBytes(const QString& password, int maxChars)
{
    QByteArray bytes = password.left(maxChars).toUtf8();
    if (bytes.size() > maxChars) {
        qsizetype cut = maxChars;
        while (cut > 0 && (quint8(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    return bytes;
}
