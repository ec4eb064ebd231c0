#include "survey/Sequence.h"

#include "base/Cp1252.h"
#include "base/TextCodec.h"
#include "base/UserInterface.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <vector>

namespace {

const QString QuadripoleFileError = QStringLiteral("Quadripole file error");
const QString CoordinateFileError = QStringLiteral("Coordinate file error");

// A real survey file is well under a megabyte; the cap keeps a wrong pick
// (a disk image, a device) from exhausting memory.
constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

// False for a directory, an unreadable or an oversized file, with why in
// error (the file's name and the system's reason) for the operator.
bool ReadWholeFile(const QString &path, QByteArray &data, QString &error)
{
    const QString name = QDir::toNativeSeparators(path);
    if (QFileInfo(path).isDir()) {
        error = QStringLiteral("%1: is a folder, not a file").arg(name);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(name, file.errorString());
        return false;
    }
    data = file.read(MaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("%1: %2").arg(name, file.errorString());
        return false;
    }
    if (data.size() > MaxFileBytes) {
        error = QStringLiteral("%1: larger than %2 MB, not a survey file").arg(name).arg(MaxFileBytes / (1024 * 1024));
        return false;
    }
    return true;
}

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
bool ParseElectrode(QStringView s, int &node)
{
    if (s.contains(u'I') || s.contains(u'R')) {
        node = 0;
        return true;
    }
    return ParseInt(s, node) && node >= 0 && node <= TSequence::MaxNodeNumber;
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

void Report(TLoadReport *report, bool found, bool failed, int count)
{
    if (report)
        *report = TLoadReport{found, failed, count};
}

} // namespace

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

int TSequence::LoadQuadripoleFile(const QString &path, TUserInterface &ui, TLoadReport *report)
{
    if (!QFileInfo::exists(path)) {
        QuadCount = 0;
        Report(report, false, false, 0);
        return 0;
    }
    TBusyScope busy(ui);
    QByteArray data;
    if (QString why; !ReadWholeFile(path, data, why)) {
        std::memset(Quads.data(), 0xFF, sizeof(Quads));
        QuadCount = 0;
        ui.Message(QuadripoleFileError + QStringLiteral("\n") + why);
        Report(report, true, true, 0);
        return 0;
    }
    return ReadQuadripoleText(data, ui, report);
}

int TSequence::ReadQuadripoleText(QByteArrayView bytes, TUserInterface &ui, TLoadReport *report)
{
    std::memset(Quads.data(), 0xFF, sizeof(Quads));
    const QString text = DecodeText(bytes);
    const std::vector<QStringView> lines = SplitLines(text);

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
            break;
        ++pos;
    }
    if (!header || pos >= lines.size()) {
        QuadCount = 0;
        ui.Message(QuadripoleFileError);
        Report(report, true, true, 0);
        return 0;
    }

    TFields fields;
    int count = 0;
    std::vector<int> e;
    for (std::size_t l = pos; l < lines.size(); ++l) {
        fields.Split(lines[l]);
        const qsizetype f = fields.Count();
        if (f < 5)
            continue;
        const qsizetype last = kColumn ? f - 1 : f;
        e.resize(std::size_t(last));
        bool valid = true;
        for (qsizetype k = 1; k < last && valid; ++k)
            valid = ParseElectrode(fields[k], e[std::size_t(k)]);
        if (!valid)
            continue;
        // Number, A, B, P1 ... Pk: the chained dipoles (P1, P2), (P2, P3), ...
        for (qsizetype j = 3; j + 1 < last; ++j) {
            Quads[std::size_t(count)] = Quadripole{e[1], e[2], e[std::size_t(j)], e[std::size_t(j + 1)], 0};
            if (count < MaxQuadCount)
                ++count;
        }
    }

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
    Report(report, true, false, count);
    return count;
}

int TSequence::LoadCoordinateFile(const QString &path, TUserInterface &ui, TLoadReport *report)
{
    TBusyScope busy(ui);
    ResetNodes();
    if (!QFileInfo::exists(path)) {
        NodeCount = 0;
        Report(report, false, false, 0);
        return 0;
    }
    QByteArray data;
    if (QString why; !ReadWholeFile(path, data, why)) {
        NodeCount = 0;
        ui.Message(CoordinateFileError + QStringLiteral("\n") + why);
        Report(report, true, true, 0);
        return 0;
    }
    return ReadCoordinateText(data, ui, report);
}

int TSequence::ReadCoordinateText(QByteArrayView bytes, TUserInterface &ui, TLoadReport *report)
{
    ResetNodes();
    const QString text = DecodeText(bytes);
    const std::vector<QStringView> lines = SplitLines(text);

    // Skip comments and a quadripole section's header up to the column header.
    std::size_t pos = 0;
    bool header = false;
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
        if (!line.contains(u'A'))
            break;
        ++pos;
    }
    const auto fail = [&](int count) {
        NodeCount = count;
        ui.Message(CoordinateFileError);
        Report(report, true, true, count);
        return count;
    };
    if (!header || pos >= lines.size())
        return fail(0);

    TFields fields;
    int count = 0;
    for (std::size_t l = pos; l < lines.size(); ++l) {
        fields.Split(lines[l]);
        if (fields.Count() != 4)
            continue;
        const int number = IntOr(fields[0], MaxNodeNumber + 1);
        if (number < 0 || number > MaxNodeNumber)
            continue;
        Node node{0.0f, 0.0f, 0.0f, number};
        if (!ParseReal(fields[1], node.X) || !ParseReal(fields[2], node.Y) || !ParseReal(fields[3], node.Z))
            return fail(count);
        Nodes[std::size_t(number)] = node;
        ++count;
    }
    NodeCount = count;
    Report(report, true, false, count);
    return count;
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
