#pragma once
// The one rule for the text files the program reads and writes (configuration,
// script, event log): files from existing installations hold Windows-1252, paths
// on Linux are UTF-8.
//   reading: UTF-8 when the bytes are valid UTF-8 and hold non-ASCII text,
//            otherwise Windows-1252;
//   writing: Windows-1252 when every character fits, otherwise UTF-8 (no BOM).
// A text written by EncodeText reads back identically through DecodeText.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

QString DecodeText(QByteArrayView bytes);
// True when DecodeText takes bytes for UTF-8 (valid UTF-8 holding non-ASCII
// text): such a file is written back in UTF-8.
bool IsUtf8Text(QByteArrayView bytes);
QByteArray EncodeText(const QString &text);
// True when every character of text has a Windows-1252 byte.
bool FitsCp1252(const QString &text);

// Numbers in files never follow the process locale: reals are written with "."
// and no group separator; on reading "." or "," is the decimal separator and
// anything else (group separators, units, blanks inside) is not a number.
QString FormatFileReal(double value, int significantDigits = 15);
double ParseFileReal(QStringView text, bool *ok);
// Integers: optional sign and digits, surrounding blanks allowed.
qint64 ParseFileInteger(QStringView text, bool *ok);
