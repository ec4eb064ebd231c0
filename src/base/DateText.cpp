#include "base/DateText.h"

#include <cmath>

QString LocalDateTimeText(const QDateTime &when, const QLocale &locale)
{
    // The long time format of some locales carries the time zone; logs and
    // file headers show hours, minutes and seconds only.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    timeFormat = timeFormat.trimmed();
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') + locale.toString(when.time(), timeFormat);
}

double DayNumber(const QDateTime &when)
{
    static const QDate origin(1899, 12, 30);
    return static_cast<double>(origin.daysTo(when.date())) +
           static_cast<double>(when.time().msecsSinceStartOfDay()) / 86400000.0;
}

QDateTime FromDayNumber(double day)
{
    static const QDate origin(1899, 12, 30);
    const double whole = std::floor(day);
    auto ms = static_cast<qint64>(std::llround((day - whole) * 86400000.0));
    qint64 days = static_cast<qint64>(whole);
    if (ms >= 86400000) {
        ms -= 86400000;
        ++days;
    }
    return QDateTime(origin.addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}
