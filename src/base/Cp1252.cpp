#include "base/Cp1252.h"

#include <QList>

#include <array>

namespace {
// 0x80..0x9F; 0 marks the five bytes the code page leaves undefined, which
// are passed through as the matching C1 control characters.
constexpr std::array<char16_t, 32> High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};
} // namespace

QString FromCp1252(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F && High[b - 0x80] != 0)
            out.append(QChar(High[b - 0x80]));
        else
            out.append(QChar(static_cast<char16_t>(b)));
    }
    return out;
}

namespace {
// The code page's byte for u, or -1.
int Cp1252Byte(char32_t u)
{
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return int(u);
    for (std::size_t i = 0; i < High.size(); ++i)
        if (High[i] != 0 && High[i] == u)
            return int(0x80 + i);
    if (u >= 0x80 && u <= 0x9F && High[u - 0x80] == 0)
        return int(u);
    return -1;
}
} // namespace

QByteArray ToCp1252Escaped(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const uint u : text.toUcs4()) {
        if (const int b = Cp1252Byte(u); b >= 0)
            out.append(static_cast<char>(b));
        else
            out.append("\\u{" + QByteArray::number(static_cast<qulonglong>(u), 16).toUpper() + '}');
    }
    return out;
}

QByteArray ToCp1252(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.append(static_cast<char>(u));
            continue;
        }
        char mapped = '?';
        for (std::size_t i = 0; i < High.size(); ++i) {
            if (High[i] != 0 && High[i] == u) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        if (mapped == '?' && u >= 0x80 && u <= 0x9F && High[u - 0x80] == 0)
            mapped = static_cast<char>(u);
        out.append(mapped);
    }
    return out;
}
