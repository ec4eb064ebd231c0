#include "base/Rtf.h"

#include "base/Cp1252.h"

#include <QHash>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>

namespace {
enum class TDest { Text, FontTable, Skip };

struct TGroupState {
    TDest Dest = TDest::Text;
    int Font = 0;
    int HalfPoints = 24; // RTF's default size, 12 points
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    int Uc = 1;
};

// Groups nested deeper than this are read as if flat: a hostile file cannot
// grow the stack without bound.
constexpr int MaxDepth = 512;

bool IsSkippedDestination(QByteArrayView word)
{
    static const char *const words[] = {
        "colortbl", "stylesheet", "info", "pict", "object", "header", "headerl", "headerr", "headerf",
        "footer", "footerl", "footerr", "footerf", "fldinst", "listtable", "listoverridetable", "rsidtbl",
        "generator", "xmlnstbl", "themedata", "colorschememapping", "datastore", "latentstyles", "revtbl",
        "filetbl", "bkmkstart", "bkmkend", "nonshppict", "shpinst", "footnote", "annotation", "field_inst",
        "template", "author", "title", "subject", "operator", "keywords", "comment", "doccomm",
    };
    return std::any_of(std::begin(words), std::end(words), [&](const char *w) { return word == QByteArrayView(w); });
}

class TReader {
public:
    explicit TReader(QByteArrayView bytes) : In(bytes) {}

    TRtfText Run()
    {
        while (Pos < In.size()) {
            const char c = In[Pos++];
            if (c == '{') {
                OpenGroup();
            } else if (c == '}') {
                CloseGroup();
            } else if (c == '\\') {
                ControlSequence();
            } else if (c == '\r' || c == '\n') {
                // Line ends in RTF source are not text.
            } else {
                Byte(c);
            }
        }
        return std::move(Out);
    }

private:
    QByteArrayView In;
    qsizetype Pos = 0;
    TGroupState State;
    std::vector<TGroupState> Stack;
    int Overflow = 0;
    bool StarPending = false;
    int SkipChars = 0;
    int DefaultFont = 0;
    QHash<int, QString> Fonts;
    int FontBeingNamed = -1;
    QString FontName;
    TRtfText Out;

    void OpenGroup()
    {
        if (static_cast<int>(Stack.size()) >= MaxDepth) {
            ++Overflow;
            return;
        }
        Stack.push_back(State);
        StarPending = false;
    }

    void CloseGroup()
    {
        if (Overflow > 0) {
            --Overflow;
            return;
        }
        if (Stack.empty())
            return;
        if (State.Dest == TDest::FontTable && FontBeingNamed >= 0 && !FontName.trimmed().isEmpty()
            && !Fonts.contains(FontBeingNamed))
            Fonts.insert(FontBeingNamed, FontName.trimmed());
        State = Stack.back();
        Stack.pop_back();
        if (State.Dest == TDest::FontTable) {
            FontBeingNamed = -1;
            FontName.clear();
        }
        SkipChars = 0;
    }

    void Byte(char byte) { Character(FromCp1252(QByteArrayView(&byte, 1)).at(0)); }

    void Character(QChar ch)
    {
        if (SkipChars > 0) {
            --SkipChars;
            return;
        }
        switch (State.Dest) {
        case TDest::Skip:
            return;
        case TDest::FontTable:
            if (ch == ';') {
                if (FontBeingNamed >= 0 && !Fonts.contains(FontBeingNamed))
                    Fonts.insert(FontBeingNamed, FontName.trimmed());
                FontBeingNamed = -1;
                FontName.clear();
            } else if (FontName.size() < 256) {
                FontName.append(ch);
            }
            return;
        case TDest::Text:
            Append(QString(ch));
            return;
        }
    }

    void Append(const QString &text)
    {
        TRtfRun run;
        run.Family = Fonts.value(State.Font);
        run.PointSize = State.HalfPoints / 2.0;
        run.Bold = State.Bold;
        run.Italic = State.Italic;
        run.Underline = State.Underline;
        if (!Out.empty() && Out.back().SameFormat(run)) {
            Out.back().Text += text;
            return;
        }
        run.Text = text;
        Out.push_back(std::move(run));
    }

    void ControlSequence()
    {
        if (Pos >= In.size())
            return;
        const char c = In[Pos];
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++Pos;
            Symbol(c);
            return;
        }
        const qsizetype start = Pos;
        while (Pos < In.size() && Pos - start < 32 && std::isalpha(static_cast<unsigned char>(In[Pos])))
            ++Pos;
        const QByteArrayView word = In.sliced(start, Pos - start);
        bool hasParam = false;
        long long param = 0;
        bool negative = false;
        if (Pos < In.size() && In[Pos] == '-' && Pos + 1 < In.size() && std::isdigit(static_cast<unsigned char>(In[Pos + 1]))) {
            negative = true;
            ++Pos;
        }
        int digits = 0;
        while (Pos < In.size() && std::isdigit(static_cast<unsigned char>(In[Pos]))) {
            if (digits < 10)
                param = param * 10 + (In[Pos] - '0');
            ++digits;
            ++Pos;
            hasParam = true;
        }
        if (negative)
            param = -param;
        param = std::clamp<long long>(param, INT_MIN, INT_MAX);
        if (Pos < In.size() && In[Pos] == ' ')
            ++Pos;
        Word(word, hasParam, static_cast<int>(param));
    }

    void Symbol(char c)
    {
        switch (c) {
        case '\'': {
            if (Pos + 2 <= In.size()) {
                bool ok = false;
                const int value = QByteArray(In.data() + Pos, 2).toInt(&ok, 16);
                Pos += 2;
                if (ok)
                    Byte(static_cast<char>(value));
            } else {
                Pos = In.size();
            }
            return;
        }
        case '\\':
        case '{':
        case '}':
            Character(QChar::fromLatin1(c));
            return;
        case '~':
            Character(QChar(0x00A0));
            return;
        case '_':
            Character(QChar('-'));
            return;
        case '*':
            StarPending = true;
            return;
        case '\r':
        case '\n':
            Paragraph();
            return;
        default:
            // \- (optional hyphen), \: (index entry) and the like carry no text.
            return;
        }
    }

    void Paragraph()
    {
        if (State.Dest == TDest::Text && SkipChars == 0)
            Append(QStringLiteral("\n"));
        else if (SkipChars > 0)
            --SkipChars;
    }

    void Word(QByteArrayView word, bool hasParam, int param)
    {
        if (StarPending) {
            StarPending = false;
            State.Dest = TDest::Skip;
            return;
        }
        if (word == "bin") {
            // Binary data: skip the given number of bytes whatever they are.
            const qsizetype n = hasParam && param > 0 ? param : 0;
            Pos = std::min(In.size(), Pos + n);
            return;
        }
        if (IsSkippedDestination(word)) {
            State.Dest = TDest::Skip;
            return;
        }
        if (word == "fonttbl") {
            State.Dest = TDest::FontTable;
            FontBeingNamed = -1;
            FontName.clear();
            return;
        }
        if (State.Dest == TDest::FontTable) {
            if (word == "f" && hasParam) {
                FontBeingNamed = param;
                FontName.clear();
            }
            return;
        }
        if (State.Dest == TDest::Skip)
            return;
        // A control word stands for one character after \u.
        if (SkipChars > 0 && word != "u") {
            --SkipChars;
            return;
        }
        const bool on = !hasParam || param != 0;
        if (word == "par" || word == "line" || word == "row" || word == "page" || word == "sect")
            Paragraph();
        else if (word == "tab" || word == "cell")
            Append(QStringLiteral("\t"));
        else if (word == "b")
            State.Bold = on;
        else if (word == "i")
            State.Italic = on;
        else if (word == "ul")
            State.Underline = on;
        else if (word == "ulnone")
            State.Underline = false;
        else if (word == "plain") {
            State.Bold = State.Italic = State.Underline = false;
            State.HalfPoints = 24;
            State.Font = DefaultFont;
        } else if (word == "f" && hasParam)
            State.Font = param;
        else if (word == "deff" && hasParam) {
            DefaultFont = param;
            State.Font = param;
        } else if (word == "fs" && hasParam && param > 0)
            State.HalfPoints = std::min(param, 3276);
        else if (word == "uc" && hasParam)
            State.Uc = std::clamp(param, 0, 10);
        else if (word == "u" && hasParam) {
            SkipChars = 0;
            Append(QString(QChar(static_cast<char16_t>(param < 0 ? param + 65536 : param))));
            SkipChars = State.Uc;
        } else if (word == "emdash")
            Append(QString(QChar(0x2014)));
        else if (word == "endash")
            Append(QString(QChar(0x2013)));
        else if (word == "bullet")
            Append(QString(QChar(0x2022)));
        else if (word == "lquote")
            Append(QString(QChar(0x2018)));
        else if (word == "rquote")
            Append(QString(QChar(0x2019)));
        else if (word == "ldblquote")
            Append(QString(QChar(0x201C)));
        else if (word == "rdblquote")
            Append(QString(QChar(0x201D)));
    }
};

void AppendEscaped(QByteArray &out, const QString &text)
{
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u == '\n') {
            out += "\\par\n";
        } else if (u == '\t') {
            out += "\\tab ";
        } else if (u == '\\' || u == '{' || u == '}') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u >= 0x20 && u < 0x7F) {
            out += static_cast<char>(u);
        } else if (u < 0x20) {
            // Other control characters have no place in the text.
        } else {
            const QByteArray b = ToCp1252(QString(ch));
            if (b != "?") {
                out += "\\'" + QByteArray::number(static_cast<unsigned char>(b[0]), 16).rightJustified(2, '0');
            } else {
                // \uN takes a signed 16-bit number; '?' is what readers without Unicode show.
                out += "\\u" + QByteArray::number(static_cast<int>(static_cast<std::int16_t>(u))) + '?';
            }
        }
    }
}
} // namespace

bool LooksLikeRtf(QByteArrayView bytes)
{
    qsizetype i = 0;
    while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n'))
        ++i;
    return bytes.sliced(i).startsWith("{\\rtf");
}

TRtfText ReadRtf(QByteArrayView bytes) { return TReader(bytes).Run(); }

QByteArray WriteRtf(const TRtfText &runs)
{
    QStringList families;
    for (const TRtfRun &r : runs)
        if (!r.Family.isEmpty() && !families.contains(r.Family))
            families.append(r.Family);
    if (families.isEmpty())
        families.append(QStringLiteral("Courier New"));

    QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
    for (qsizetype i = 0; i < families.size(); ++i) {
        out += "{\\f" + QByteArray::number(i) + "\\fnil ";
        QString name = families[i];
        name.remove(';');
        AppendEscaped(out, name);
        out += ";}";
    }
    out += "}\n";
    for (const TRtfRun &r : runs) {
        out += "\\plain\\f" + QByteArray::number(std::max<qsizetype>(0, families.indexOf(r.Family)));
        if (r.PointSize > 0)
            out += "\\fs" + QByteArray::number(std::clamp(qRound(r.PointSize * 2), 1, 3276));
        if (r.Bold)
            out += "\\b";
        if (r.Italic)
            out += "\\i";
        if (r.Underline)
            out += "\\ul";
        out += ' ';
        AppendEscaped(out, r.Text);
    }
    out += "}\n";
    return out;
}

QString PlainText(const TRtfText &runs)
{
    QString text;
    for (const TRtfRun &r : runs)
        text += r.Text;
    return text;
}
