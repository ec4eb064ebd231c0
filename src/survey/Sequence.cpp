#include "survey/Sequence.h"

#include "base/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

namespace {

// Line numbers of the lines left out for one reason, in the file's order.
class TIgnored {
public:
    void Add(const QString &reason, std::size_t line)
    {
        for (auto &[r, lines] : Reasons)
            if (r == reason) {
                lines.push_back(int(line) + 1);
                return;
            }
        Reasons.push_back({reason, {int(line) + 1}});
    }
    QStringList Texts() const
    {
        // A long list says how many; the first lines are enough to find the fault.
        constexpr std::size_t Shown = 20;
        QStringList texts;
        for (const auto &[reason, lines] : Reasons) {
            QStringList numbers;
            for (std::size_t k = 0; k < lines.size() && k < Shown; ++k)
                numbers << QString::number(lines[k]);
            if (lines.size() > Shown)
                numbers << QStringLiteral("…");
            texts << QStringLiteral("%1 %2 ignored: %3 — %4")
                         .arg(lines.size())
                         .arg(lines.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"), numbers.join(QStringLiteral(", ")),
                              reason);
        }
        return texts;
    }

private:
    std::vector<std::pair<QString, std::vector<int>>> Reasons;
};

QString LineText(std::size_t line) { return QStringLiteral("line %1").arg(line + 1); }

// Lines end with LF, CR LF or a lone CR; a final line end adds no empty line.
std::vector<QStringView> SplitLines(QStringView text)
{
    std::vector<QStringView> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c != u'\n' && c != u'\r')
            continue;
        lines.push_back(text.sliced(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.push_back(text.sliced(start));
    return lines;
}

// Comma-text fields: commas always separate, runs of blanks (any control
// character or space) separate too, double quotes enclose a field with ""
// standing for a quote. A comma ending the line adds an empty field.
class TFields {
public:
    void Split(QStringView line)
    {
        Views.clear();
        Owned.clear();
        const qsizetype n = line.size();
        qsizetype i = 0;
        const auto blank = [&](qsizetype k) { return k < n && line[k].unicode() <= u' '; };
        // In a line whose fields are set apart by blanks, a comma inside a
        // field ("12,5") is a decimal separator, as files written on a
        // machine with a decimal comma have it; elsewhere it separates fields.
        bool blankSeparated = false;
        for (qsizetype k = 1; k + 1 < n && !blankSeparated; ++k)
            blankSeparated = blank(k) && !blank(k - 1) && line[k - 1] != u',' && !blank(k + 1) && line[k + 1] != u',';
        while (blank(i))
            ++i;
        while (i < n) {
            if (line[i] == u'"')
                i = Quoted(line, i);
            else {
                const qsizetype start = i;
                while (i < n && line[i].unicode() > u' ' &&
                       (line[i] != u',' || (blankSeparated && i > start && i + 1 < n && !blank(i + 1) && line[i + 1] != u',')))
                    ++i;
                Views.push_back(line.sliced(start, i - start));
            }
            while (blank(i))
                ++i;
            if (i < n && line[i] == u',') {
                if (i + 1 == n)
                    Views.push_back(QStringView());
                ++i;
                while (blank(i))
                    ++i;
            }
        }
    }

    qsizetype Count() const { return qsizetype(Views.size()); }
    QStringView operator[](qsizetype k) const { return Views[std::size_t(k)]; }

private:
    // i is at the opening quote; returns the index after the closing one. An
    // unclosed quote runs to the end of the line.
    qsizetype Quoted(QStringView line, qsizetype i)
    {
        const qsizetype n = line.size();
        const qsizetype start = ++i;
        qsizetype end = n;
        QString unescaped;
        bool escaped = false;
        while (true) {
            const qsizetype q = line.indexOf(u'"', i);
            if (q < 0) {
                if (escaped)
                    unescaped += line.sliced(i);
                i = n;
                break;
            }
            if (q + 1 < n && line[q + 1] == u'"') {
                unescaped += line.sliced(i, q - i);
                unescaped += u'"';
                escaped = true;
                i = q + 2;
                continue;
            }
            if (escaped)
                unescaped += line.sliced(i, q - i);
            end = q;
            i = q + 1;
            break;
        }
        if (escaped) {
            Owned.push_back(std::move(unescaped));
            Views.push_back(Owned.back());
        } else {
            Views.push_back(line.sliced(start, end - start));
        }
        return i;
    }

    std::vector<QStringView> Views;
    std::deque<QString> Owned;  // unescaped quoted fields; a deque keeps the views valid
};

// Decimal integer with an optional sign, nothing else around it.
bool ParseInt(QStringView s, int &value)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (i == s.size())
        return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    v = negative ? -v : v;
    if (v > INT_MAX || v < INT_MIN)
        return false;
    value = static_cast<int>(v);
    return true;
}

int IntOr(QStringView s, int fallback)
{
    int v = 0;
    return ParseInt(s, v) ? v : fallback;
}

// An electrode field: "I" or "R" anywhere marks the remote electrode (node 0).
// Empty when it reads, else why the line is left out.
QString ParseElectrode(QStringView s, int &node)
{
    if (s.contains(u'I') || s.contains(u'R')) {
        node = 0;
        return {};
    }
    bool digits = !s.isEmpty();
    for (qsizetype k = 0; k < s.size() && digits; ++k)
        digits = (s[k] >= u'0' && s[k] <= u'9') || (k == 0 && (s[k] == u'-' || s[k] == u'+') && s.size() > 1);
    if (!digits)
        return QStringLiteral("not an electrode number");
    if (!ParseInt(s, node) || node < 0 || node > TSequence::MaxNodeNumber)
        return QStringLiteral("electrode number out of range");
    return {};
}

// Why a quadripole cannot be measured, or empty. The remote electrode stands
// for two distinct far electrodes, so B = N = 0 (pole-pole) is sound.
QString Degenerate(const Quadripole &q)
{
    const auto text = [&](const QString &what) {
        return QStringLiteral("quadripole %1 %2 %3 %4: %5").arg(q.A).arg(q.B).arg(q.M).arg(q.N).arg(what);
    };
    if (q.A == q.B)
        return text(QStringLiteral("A and B are the same electrode"));
    if (q.M == q.N)
        return text(QStringLiteral("M and N are the same electrode"));
    for (int e : {q.A, q.B})
        if (e != 0 && (e == q.M || e == q.N))
            return text(QStringLiteral("electrode %1 is used twice").arg(e));
    return {};
}

// A coordinate must be a finite single-precision value; "nan", "inf" or an
// overflowing exponent would poison every geometric factor.
bool ParseReal(QStringView s, float &value)
{
    // "." or "," as decimal separator whatever the machine's locale: a file
    // reads back the same everywhere.
    bool ok = false;
    const double v = ParseFileReal(s, &ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) > FLT_MAX)
        return false;
    value = static_cast<float>(v);
    return true;
}

} // namespace

QString TLoadReport::Message(const QString &title, const QString &path) const
{
    if (path.isEmpty())
        return title + QLatin1Char('\n') + Error;
    return title + QLatin1Char('\n') + QDir::toNativeSeparators(path) + QStringLiteral(": ") + Error;
}

TSequence::TSequence() noexcept
{
    ResetNodes();
    std::memset(Quads.data(), 0xFF, sizeof(Quads));
}

void TSequence::ResetNodes() noexcept
{
    Nodes.fill(Node{0.0f, 0.0f, 0.0f, 0});
    Nodes[0] = Node{RemoteCoord, RemoteCoord, 0.0f, 0};
}

TLoadReport TSequence::ReadQuadripoleFile(const QString &path)
{
    TLoadReport report;
    if (!QFileInfo::exists(path)) {
        QuadCount = 0;
        return report;
    }
    QByteArray data;
    if (QString why; !ReadInputFile(path, MaxFileBytes, data, why)) {
        std::memset(Quads.data(), 0xFF, sizeof(Quads));
        QuadCount = 0;
        report.Found = report.Failed = true;
        report.Error = why;
        return report;
    }
    return ReadQuadripoleText(data);
}

TLoadReport TSequence::ReadQuadripoleText(QByteArrayView bytes)
{
    TLoadReport report;
    report.Found = true;
    std::memset(Quads.data(), 0xFF, sizeof(Quads));
    const QString text = DecodeText(bytes);
    const std::vector<QStringView> lines = SplitLines(text);
    const auto fail = [&](const QString &why) {
        std::memset(Quads.data(), 0xFF, sizeof(Quads));
        QuadCount = 0;
        report.Failed = true;
        report.Count = 0;
        report.Error = why;
        return report;
    };

    // Skip comments and a coordinate section's header up to the column header.
    std::size_t pos = 0;
    bool header = false;
    bool kColumn = false;
    while (pos < lines.size()) {
        const QStringView line = lines[pos];
        if (!line.contains(u'#')) {
            ++pos;
            continue;
        }
        if (line.contains(u'A')) {
            kColumn = line.contains(u'K');
            header = true;
            ++pos;
            break;
        }
        if (!line.contains(u'X'))
            return fail(LineText(pos) + QStringLiteral(": a line with \"#\" that is not the column header (# A B M N)"));
        ++pos;
    }
    if (!header)
        return fail(QStringLiteral("no column header (a line with # A B M N)"));
    if (pos >= lines.size())
        return fail(QStringLiteral("no quadripole after the column header"));

    TFields fields;
    TIgnored ignored;
    // Counts every quadripole of the file; the table takes MaxQuadCount.
    qint64 read = 0;
    // Short lines are left out silently once another section ("# Level", a
    // coordinate section) has begun: theirs are short by nature.
    bool quadSection = true;
    std::vector<int> e;
    for (std::size_t l = pos; l < lines.size(); ++l) {
        const bool comment = lines[l].contains(u'#');
        if (comment)
            quadSection = false;
        fields.Split(lines[l]);
        const qsizetype f = fields.Count();
        const qsizetype last = kColumn ? f - 1 : f;
        if (f < 5 || last < 5) {
            if (quadSection && f > 0)
                ignored.Add(QStringLiteral("too few fields for a quadripole"), l);
            continue;
        }
        e.resize(std::size_t(last));
        QString why;
        for (qsizetype k = 1; k < last && why.isEmpty(); ++k)
            why = ParseElectrode(fields[k], e[std::size_t(k)]);
        if (!why.isEmpty()) {
            if (!comment)
                ignored.Add(why, l);
            continue;
        }
        // Number, A, B, P1 ... Pk: the chained dipoles (P1, P2), (P2, P3), ...
        for (qsizetype j = 3; j + 1 < last; ++j) {
            const Quadripole q{e[1], e[2], e[std::size_t(j)], e[std::size_t(j + 1)], 0};
            if (const QString bad = Degenerate(q); !bad.isEmpty())
                return fail(LineText(l) + QStringLiteral(": ") + bad);
            // The surplus is counted to be refused, never measured cut short.
            if (read < MaxQuadCount)
                Quads[std::size_t(read)] = q;
            ++read;
        }
    }
    if (read > MaxQuadCount)
        return fail(QStringLiteral("%1 quadripoles, more than the %2 that can be measured; nothing was loaded")
                        .arg(read)
                        .arg(MaxQuadCount));
    const int count = int(read);

    // Levels are given by position after the "Level" line, one per quadripole.
    std::size_t l = pos;
    while (l < lines.size() && !(lines[l].contains(u'#') && lines[l].contains(u"Level")))
        ++l;
    ++l;  // past the "Level" line, or past the end when there is none
    for (std::size_t k = 0; l + k < lines.size() && k < std::size_t(count); ++k) {
        fields.Split(lines[l + k]);
        if (fields.Count() == 2)
            Quads[k].Level = IntOr(fields[1], 0);
    }

    QuadCount = count;
    report.Count = count;
    report.Ignored = ignored.Texts();
    return report;
}

TLoadReport TSequence::ReadCoordinateFile(const QString &path)
{
    TLoadReport report;
    ResetNodes();
    if (!QFileInfo::exists(path)) {
        NodeCount = 0;
        return report;
    }
    QByteArray data;
    if (QString why; !ReadInputFile(path, MaxFileBytes, data, why)) {
        NodeCount = 0;
        report.Found = report.Failed = true;
        report.Error = why;
        return report;
    }
    return ReadCoordinateText(data);
}

TLoadReport TSequence::ReadCoordinateText(QByteArrayView bytes)
{
    TLoadReport report;
    report.Found = true;
    ResetNodes();
    const QString text = DecodeText(bytes);
    const std::vector<QStringView> lines = SplitLines(text);

    // Skip comments and a quadripole section's header up to the column header.
    std::size_t pos = 0;
    bool header = false;
    QString headerError;
    while (pos < lines.size()) {
        const QStringView line = lines[pos];
        if (!line.contains(u'#')) {
            ++pos;
            continue;
        }
        if (line.contains(u'X')) {
            header = true;
            ++pos;
            break;
        }
        if (!line.contains(u'A')) {
            headerError = LineText(pos) + QStringLiteral(": a line with \"#\" that is not the column header (# X Y Z)");
            break;
        }
        ++pos;
    }
    int count = 0;
    const auto fail = [&](const QString &why) {
        NodeCount = count;
        report.Failed = true;
        report.Count = count;
        report.Error = why;
        return report;
    };
    if (!headerError.isEmpty())
        return fail(headerError);
    if (!header)
        return fail(QStringLiteral("no column header (a line with # X Y Z)"));
    if (pos >= lines.size())
        return fail(QStringLiteral("no node after the column header"));

    TFields fields;
    TIgnored ignored;
    // The line that gave each node, to name both when one is given twice.
    std::vector<std::size_t> givenAt(NodeTableSize, lines.size());
    // A quadripole or level section (a header with "A" or "Level") may
    // follow, with lines of its own; another coordinate header starts a
    // coordinate section again. Other "#" lines are comments.
    bool nodeSection = true;
    for (std::size_t l = pos; l < lines.size(); ++l) {
        const QStringView line = lines[l];
        if (line.contains(u'#')) {
            if (line.contains(u'X'))
                nodeSection = true;
            else if (line.contains(u'A') || line.contains(u"Level"))
                nodeSection = false;
            continue;
        }
        if (!nodeSection)
            continue;
        fields.Split(line);
        if (fields.Count() == 0)
            continue;
        if (fields.Count() != 4)
            return fail(LineText(l) + QStringLiteral(": %1 field(s) where a coordinate line has 4 (number, X, Y, Z)")
                                          .arg(fields.Count()));
        int number = 0;
        if (!ParseInt(fields[0], number))
            return fail(LineText(l) + QStringLiteral(": \"%1\" is not an electrode number").arg(fields[0]));
        if (number < 0 || number > MaxNodeNumber) {
            ignored.Add(QStringLiteral("electrode number out of range"), l);
            continue;
        }
        Node node{0.0f, 0.0f, 0.0f, number};
        const char *axes[] = {"X", "Y", "Z"};
        float *values[] = {&node.X, &node.Y, &node.Z};
        for (int k = 0; k < 3; ++k)
            if (!ParseReal(fields[k + 1], *values[k]))
                return fail(LineText(l) + QStringLiteral(": %1 \"%2\" is not a number").arg(QLatin1String(axes[k]), fields[k + 1]));
        std::size_t &first = givenAt[std::size_t(number)];
        if (first < lines.size())
            return fail(QStringLiteral("%1 and %2 both give electrode %3").arg(LineText(first), LineText(l)).arg(number));
        first = l;
        Nodes[std::size_t(number)] = node;
        ++count;
    }
    NodeCount = count;
    report.Count = count;
    report.Ignored = ignored.Texts();
    return report;
}

QString TSequence::UndefinedElectrodes() const
{
    constexpr int Shown = 20;
    QStringList missing;
    int total = 0;
    int node = 0;  // from 0: the remote electrode always has its place
    for (Node out{}; NextUsedNode(node, out);)
        if (Nodes[std::size_t(node)].Number != node) {
            if (++total <= Shown)
                missing << QString::number(node);
        }
    if (total == 0)
        return {};
    if (total > Shown)
        missing << QStringLiteral("… (%1 in all)").arg(total);
    return total == 1 ? QStringLiteral("electrode %1 is used by the quadripoles but not in the coordinate file").arg(missing[0])
                      : QStringLiteral("electrodes %1 are used by the quadripoles but not in the coordinate file")
                            .arg(missing.join(QStringLiteral(", ")));
}

void TSequence::GroupChannels(int first, int &channels, ElectrodeList &electrodes) const noexcept
{
    electrodes.fill(0);
    const int held = std::clamp(int(QuadCount), 0, QuadTableSize);
    if (first < 0 || first >= held) {
        channels = 0;
        return;
    }
    // The list holds ten potential dipoles at most.
    const int most = std::clamp(channels, 1, MaxChannels);
    const Quadripole &q0 = Quads[std::size_t(first)];
    int length = 0;
    for (int v : {q0.A, q0.B, q0.M, q0.N})
        electrodes[std::size_t(length++)] = static_cast<std::int16_t>(v);
    int lastN = q0.N;
    int i = 1;
    for (; i < most && first + i < held; ++i) {
        const Quadripole &q = Quads[std::size_t(first + i)];
        if (q.A != q0.A || q.B != q0.B || q.M != lastN)
            break;
        // Each channel needs its own N, except the remote electrode.
        if (q.N != 0 && std::find(electrodes.begin(), electrodes.begin() + length,
                                  static_cast<std::int16_t>(q.N)) != electrodes.begin() + length)
            break;
        electrodes[std::size_t(length++)] = static_cast<std::int16_t>(q.N);
        lastN = q.N;
    }
    channels = i;
}

bool TSequence::NextUsedNode(int &node, Node &out) const noexcept
{
    const int held = std::clamp(int(QuadCount), 0, QuadTableSize);
    constexpr int Remote = 99999;
    int best = Remote;
    for (int k = 0; k < held; ++k) {
        const Quadripole &q = Quads[std::size_t(k)];
        for (int v : {q.A, q.B, q.M, q.N})
            if (v > node && v < best)
                best = v;
    }
    if (best == Remote)
        return false;
    node = best;
    out = NodeAt(best);
    out.Number = best;
    return true;
}

bool TSequence::NextDefinedNode(int &node, Node &out) const noexcept
{
    if (node >= MaxNodeNumber - 1)
        return false;
    for (int n = std::max(node + 1, 0); n < MaxNodeNumber; ++n) {
        if (Nodes[std::size_t(n)].Number > node) {
            node = n;
            out = Nodes[std::size_t(n)];
            return true;
        }
    }
    return false;
}

bool TSequence::GetNode(int number, Node &out) const noexcept
{
    if (number < 0 || number >= NodeTableSize)
        return false;
    out = Nodes[std::size_t(number)];
    out.Number = number;
    return true;
}

const Node &TSequence::NodeAt(int number) const noexcept
{
    static const Node Undefined{0.0f, 0.0f, 0.0f, 0};
    if (number < 0 || number >= NodeTableSize)
        return Undefined;
    return Nodes[std::size_t(number)];
}
