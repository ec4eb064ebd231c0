#pragma once
// The one rule for the text files the program reads and writes (configuration,
// script, survey, event log): files from existing installations hold
// Windows-1252, paths on Linux are UTF-8, and Windows shell redirection writes
// UTF-16 with a byte order mark.
//   reading: UTF-16 after its byte order mark; UTF-8 when the bytes are valid
//            UTF-8 and hold non-ASCII text (a byte order mark is dropped);
//            otherwise Windows-1252;
//   writing: Windows-1252 when every character fits, otherwise UTF-8 (no BOM).
// A text written by EncodeText reads back identically through DecodeText.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// How a file's bytes were read, so that a file saved back keeps its encoding.
enum class TTextEncoding { Cp1252, Utf8, Utf8Bom, Utf16LE, Utf16BE };

TTextEncoding DetectEncoding(QByteArrayView bytes);
QString DecodeText(QByteArrayView bytes);
// Text in the encoding a file was read in (with its byte order mark); a file
// read as Windows-1252 follows EncodeText, so a character that does not fit
// turns it into UTF-8 rather than a question mark.
QByteArray EncodeText(const QString &text, TTextEncoding encoding);
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

// Reads a whole input file (survey, script, configuration) without ever
// blocking: a FIFO, a device or a folder is refused without being read, and
// so is a file larger than maxBytes. False with the file's name and why in
// error.
bool ReadInputFile(const QString &path, qint64 maxBytes, QByteArray &bytes, QString &error);
