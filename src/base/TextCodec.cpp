#include "base/TextCodec.h"

#include "base/Cp1252.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

TTextEncoding DetectEncoding(QByteArrayView bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return TTextEncoding::Utf16LE;
    if (bytes.startsWith("\xFE\xFF"))
        return TTextEncoding::Utf16BE;
    if (!IsUtf8Text(bytes))
        return TTextEncoding::Cp1252;
    return bytes.startsWith("\xEF\xBB\xBF") ? TTextEncoding::Utf8Bom : TTextEncoding::Utf8;
}

QString DecodeText(QByteArrayView bytes)
{
    switch (DetectEncoding(bytes)) {
    case TTextEncoding::Utf16LE:
    case TTextEncoding::Utf16BE: {
        // An odd last byte (a torn file) becomes a replacement character.
        QStringDecoder decoder(bytes.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Stateless);
        return decoder.decode(bytes.sliced(2));
    }
    case TTextEncoding::Utf8Bom:
        return QString::fromUtf8(bytes.sliced(3));
    case TTextEncoding::Utf8:
        return QString::fromUtf8(bytes);
    case TTextEncoding::Cp1252:
        break;
    }
    return FromCp1252(bytes);
}

QByteArray EncodeText(const QString &text, TTextEncoding encoding)
{
    switch (encoding) {
    case TTextEncoding::Utf16LE:
    case TTextEncoding::Utf16BE: {
        const bool little = encoding == TTextEncoding::Utf16LE;
        QStringEncoder encoder(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        return QByteArray(little ? "\xFF\xFE" : "\xFE\xFF") + QByteArray(encoder.encode(text));
    }
    case TTextEncoding::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case TTextEncoding::Utf8:
        return text.toUtf8();
    case TTextEncoding::Cp1252:
        break;
    }
    return EncodeText(text);
}

bool ReadInputFile(const QString &path, qint64 maxBytes, QByteArray &bytes, QString &error)
{
    const auto failed = [&](const QString &why) {
        error = why;
        return false;
    };
    const auto systemError = [&] { return failed(QString::fromLocal8Bit(std::strerror(errno))); };
    // O_NONBLOCK: opening a FIFO without a writer must not hang the program;
    // what is not a regular file is refused before a single read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return systemError();
    struct TCloser {
        int Fd;
        ~TCloser() { ::close(Fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return systemError();
    if (S_ISDIR(st.st_mode))
        return failed(QStringLiteral("is a folder, not a file"));
    if (!S_ISREG(st.st_mode))
        return failed(QStringLiteral("is not a regular file (a pipe or a device); nothing was read"));
    if (st.st_size > maxBytes)
        return failed(QStringLiteral("%1 bytes, larger than any such file can be (%2 bytes at most); nothing was read")
                          .arg(qint64(st.st_size))
                          .arg(maxBytes));
    bytes.clear();
    bytes.reserve(qsizetype(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return systemError();
        }
        if (n == 0)
            break;
        // A file that grows while it is read is still held to the limit.
        if (bytes.size() + n > maxBytes)
            return failed(QStringLiteral("larger than any such file can be (%1 bytes at most); nothing was read").arg(maxBytes));
        bytes.append(buffer, qsizetype(n));
    }
    return true;
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
