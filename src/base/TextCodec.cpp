#include "base/TextCodec.h"

#include "base/Cp1252.h"

#include <cmath>

namespace {
// Strict UTF-8: no overlongs, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(QByteArrayView bytes, bool *nonAscii)
{
    *nonAscii = false;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        *nonAscii = true;
        int len = 0;
        char32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

QString Normalised(QStringView text)
{
    return text.trimmed().toString();
}
} // namespace

QString DecodeText(QByteArrayView bytes)
{
    bool nonAscii = false;
    if (IsValidUtf8(bytes, &nonAscii) && nonAscii)
        return QString::fromUtf8(bytes);
    return FromCp1252(bytes);
}

bool IsUtf8Text(QByteArrayView bytes)
{
    bool nonAscii = false;
    return IsValidUtf8(bytes, &nonAscii) && nonAscii;
}

bool FitsCp1252(const QString &text)
{
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
            continue;
        // Round trip through the code page decides the 0x80..0x9F range.
        if (FromCp1252(ToCp1252(QString(ch))) != QString(ch))
            return false;
    }
    return true;
}

QByteArray EncodeText(const QString &text)
{
    if (FitsCp1252(text)) {
        const QByteArray cp = ToCp1252(text);
        // Windows-1252 bytes that happen to form valid UTF-8 with non-ASCII text
        // would be read back as UTF-8; such a text is written in UTF-8 instead.
        bool nonAscii = false;
        if (!(IsValidUtf8(cp, &nonAscii) && nonAscii))
            return cp;
    }
    return text.toUtf8();
}

QString FormatFileReal(double value, int significantDigits)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    // 'g' with the C locale: "." and never a group separator.
    return QString::number(value, 'g', significantDigits);
}

double ParseFileReal(QStringView text, bool *ok)
{
    *ok = false;
    QString t = Normalised(text);
    if (t.isEmpty())
        return 0.0;
    // One decimal separator at most, "." or ",".
    const qsizetype dots = t.count(QLatin1Char('.'));
    const qsizetype commas = t.count(QLatin1Char(','));
    if (dots + commas > 1)
        return 0.0;
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    for (QChar ch : t) {
        const char16_t u = ch.unicode();
        const bool allowed = (u >= '0' && u <= '9') || u == '.' || u == '+' || u == '-' || u == 'e' || u == 'E';
        if (!allowed)
            return 0.0;
    }
    // QString::toDouble uses the C locale whatever the process locale is.
    bool qok = false;
    const double v = t.toDouble(&qok);
    if (!qok || !std::isfinite(v))
        return 0.0;
    *ok = true;
    return v;
}

qint64 ParseFileInteger(QStringView text, bool *ok)
{
    *ok = false;
    const QString t = Normalised(text);
    if (t.isEmpty())
        return 0;
    qsizetype i = 0;
    if (t[0] == QLatin1Char('+') || t[0] == QLatin1Char('-'))
        i = 1;
    if (i >= t.size())
        return 0;
    for (qsizetype k = i; k < t.size(); ++k)
        if (t[k] < QLatin1Char('0') || t[k] > QLatin1Char('9'))
            return 0;
    bool qok = false;
    const qint64 v = t.toLongLong(&qok);
    if (!qok)
        return 0;
    *ok = true;
    return v;
}
