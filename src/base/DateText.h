#pragma once
// Date and time as the operator's system writes them, and the day numbers the
// data file stores.
#include <QDateTime>
#include <QLocale>
#include <QString>

// Short date, a blank and the long time (hours, minutes, seconds; no zone).
QString LocalDateTimeText(const QDateTime &when, const QLocale &locale);

// Days since 1899-12-30 with the time of day as the fraction.
double DayNumber(const QDateTime &when);

// The local date and time of a day number (to the millisecond).
QDateTime FromDayNumber(double day);
