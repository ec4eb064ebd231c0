#pragma once
// Windows-1252, the 8-bit code page of survey, configuration and log files and
// of the texts on the instrument wire.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

QString FromCp1252(QByteArrayView bytes);
// Characters outside the code page become '?'.
QByteArray ToCp1252(const QString &text);
// Characters outside the code page become their code point in hex, "ł" the
// six characters \u{142}, so an 8-bit file keeps what it cannot hold readable.
QByteArray ToCp1252Escaped(QStringView text);
