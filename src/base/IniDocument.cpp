#include "base/IniDocument.h"

#include "base/SafeFile.h"

namespace {
const QString CrLf = QStringLiteral("\r\n");

// A configuration holds a few kilobytes; anything this large was picked by mistake.
constexpr qint64 MaxIniBytes = 16 * 1024 * 1024;

bool IsComment(QStringView trimmed)
{
    return trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#'));
}

std::optional<QStringView> SectionName(QStringView line)
{
    const QStringView t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

// Position of the "=" of a key line, -1 for any other line.
qsizetype EqualsOf(QStringView line)
{
    const QStringView t = line.trimmed();
    if (t.isEmpty() || IsComment(t) || SectionName(line))
        return -1;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0 || line.left(eq).trimmed().isEmpty())
        return -1;
    return eq;
}

bool IsQuote(QChar c) { return c == QLatin1Char('"') || c == QLatin1Char('\''); }

// One line, and quoted when reading would otherwise change it (blanks at
// either end, or surrounding quotes of its own).
QString StoredValue(QString value)
{
    value.replace(CrLf, QStringLiteral(" ")).replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    if (value.isEmpty())
        return value;
    const bool blanks = value.front().isSpace() || value.back().isSpace();
    const bool quoted = value.size() >= 2 && IsQuote(value.front()) && value.front() == value.back();
    return blanks || quoted ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}
} // namespace

TIniDocument TIniDocument::FromText(const QString &text)
{
    TIniDocument doc;
    QStringView rest(text);
    if (rest.startsWith(QChar(0xFEFF)))
        rest = rest.mid(1);
    while (!rest.isEmpty()) {
        const qsizetype nl = rest.indexOf(QLatin1Char('\n'));
        if (nl < 0) {
            doc.Lines.push_back({rest.toString(), QString()});
            break;
        }
        QStringView line = rest.left(nl);
        if (line.endsWith(QLatin1Char('\r')))
            doc.Lines.push_back({line.chopped(1).toString(), CrLf});
        else
            doc.Lines.push_back({line.toString(), QStringLiteral("\n")});
        rest = rest.mid(nl + 1);
    }
    return doc;
}

bool TIniDocument::Load(const QString &path, QString *error)
{
    QByteArray bytes;
    QString why;
    if (!ReadInputFile(path, MaxIniBytes, bytes, why)) {
        if (error)
            *error = why;
        return false;
    }
    *this = FromText(DecodeText(bytes));
    Encoding = DetectEncoding(bytes);
    return true;
}

QString TIniDocument::Text() const
{
    QString text;
    for (const auto &line : Lines)
        text += line.Text + line.End;
    return text;
}

QString TIniDocument::Save(const QString &path) const
{
    return TSafeFile::Write(path, EncodeText(Text(), Encoding));
}

std::vector<TIniDocument::TRange> TIniDocument::FindSections(const QString &section) const
{
    std::vector<TRange> ranges;
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        const auto name = SectionName(Lines[i].Text);
        if (!name || name->compare(section, Qt::CaseInsensitive) != 0)
            continue;
        std::size_t end = i + 1;
        while (end < Lines.size() && !SectionName(Lines[end].Text))
            ++end;
        ranges.push_back({i, i + 1, end});
    }
    return ranges;
}

std::optional<std::size_t> TIniDocument::FindKey(const std::vector<TRange> &ranges, const QString &key) const
{
    for (const TRange &range : ranges)
        for (std::size_t i = range.First; i < range.Last; ++i) {
            const QString &text = Lines[i].Text;
            const qsizetype eq = EqualsOf(text);
            if (eq >= 0 && QStringView(text).left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
                return i;
        }
    return std::nullopt;
}

std::optional<QString> TIniDocument::Value(const QString &section, const QString &key) const
{
    const auto at = FindKey(FindSections(section), key);
    if (!at)
        return std::nullopt;
    const QString &text = Lines[*at].Text;
    QStringView value = QStringView(text).mid(EqualsOf(text) + 1).trimmed();
    if (value.size() >= 2 && IsQuote(value.front()) && value.front() == value.back())
        value = value.mid(1, value.size() - 2);
    return value.toString();
}

void TIniDocument::Insert(std::size_t at, const QString &text)
{
    // New lines end as the file's first line does (CR LF in a new file).
    QString end = CrLf;
    for (const auto &line : Lines)
        if (!line.End.isEmpty()) {
            end = line.End;
            break;
        }
    if (at > 0 && Lines[at - 1].End.isEmpty())
        Lines[at - 1].End = end;
    Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(at), TLine{text, end});
}

void TIniDocument::SetValue(const QString &section, const QString &key, const QString &value)
{
    const QString stored = StoredValue(value);
    const auto ranges = FindSections(section);
    if (ranges.empty()) {
        if (!Lines.empty() && !Lines.back().Text.trimmed().isEmpty())
            Insert(Lines.size(), QString());
        Insert(Lines.size(), QLatin1Char('[') + section + QLatin1Char(']'));
        Insert(Lines.size(), key + QLatin1Char('=') + stored);
        return;
    }
    if (const auto at = FindKey(ranges, key)) {
        // The key keeps its spelling and whatever stands before the "=".
        QString &text = Lines[*at].Text;
        text = text.left(EqualsOf(text) + 1) + stored;
        return;
    }
    // After the section's last key, so that comments and blank lines that
    // close the section stay below it.
    const TRange &first = ranges.front();
    std::size_t after = first.Header;
    for (std::size_t i = first.First; i < first.Last; ++i)
        if (EqualsOf(Lines[i].Text) >= 0)
            after = i;
    Insert(after + 1, key + QLatin1Char('=') + stored);
}

QStringList TIniDocument::Keys(const QString &section) const
{
    QStringList keys;
    for (const TRange &range : FindSections(section))
        for (std::size_t i = range.First; i < range.Last; ++i) {
            const QString &text = Lines[i].Text;
            const qsizetype eq = EqualsOf(text);
            if (eq < 0)
                continue;
            const QString name = QStringView(text).left(eq).trimmed().toString();
            if (!keys.contains(name, Qt::CaseInsensitive))
                keys << name;
        }
    return keys;
}
