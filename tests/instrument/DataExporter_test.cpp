// Each export read back by a reader written from the tools' own description
// of their format, never from the writer.
#include "base/TarnelError.h"
#include "instrument/DataExporter.h"
#include "instrument/DataFile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <map>
#include <numbers>

namespace {
using TPos = std::array<double, 3>;
constexpr float Far = 99999.0f;

struct TSpec {
    TPos A, B, M, N;
    float Vp = 50, In = 100, M_ = 0;
    bool NegativeLevel = false;
    bool Gen1 = false;
};

double K(const TPos &a, const TPos &b, const TPos &m, const TPos &n)
{
    const auto remote = [](const TPos &p) { return p[0] >= Far || p[1] >= Far; };
    const auto inv = [&](const TPos &p, const TPos &q) {
        return remote(p) || remote(q) ? 0.0 : 1.0 / std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
    };
    return 2 * std::numbers::pi / (inv(a, m) - inv(b, m) - inv(a, n) + inv(b, n));
}

TDataRecord Make(const TSpec &s, int channel, int channels)
{
    TDataRecord r;
    r.Ten = 10;
    r.Version = s.Gen1 ? 2 : 3;
    r.One = 1;
    const TPos *p[] = {&s.A, &s.B, &s.M, &s.N};
    for (int e = 0; e < 4; ++e)
        for (int axis = 0; axis < 3; ++axis)
            r.Coords[std::size_t(4 * axis + e)] = float((*p[e])[std::size_t(axis)]);
    r.Vp = s.Vp;
    r.In = s.In;
    r.M = s.M_;
    r.Rho = s.In != 0 ? float(K(s.A, s.B, s.M, s.N) * s.Vp / s.In) : 0.0f;
    r.Channel = std::uint8_t((channels << 4) | channel);
    r.Flags = std::uint8_t(2 | (s.NegativeLevel ? TDataRecord::LevelFlag : 0));
    r.PulseTime = 2000;
    r.WindowDelay = 240;
    for (int w = 0; w < 20; ++w)
        r.Windows[std::size_t(w)] = float(10 * (w + 1));
    r.Counter = 4;
    r.Date = s.Gen1 ? 0.0 : 46365.5 + channel / 86400.0;
    r.TxBattery = s.Gen1 ? 0.0f : 12.5f;
    return r;
}

// A demo line: 12 electrodes every 2 m, dipole-dipole groups of up to 6 channels.
std::vector<TDataRecord> DemoLine()
{
    std::vector<TDataRecord> out;
    for (int a = 1; a <= 9; ++a) {
        const int channels = std::min(6, 11 - a - 1);
        for (int k = 0; k < channels; ++k) {
            TSpec s{{2.0 * a, 0, 0}, {2.0 * a - 2, 0, 0}, {2.0 * (a + k + 1), 0, 0}, {2.0 * (a + k + 2), 0, 0},
                    float(40 - 5 * k), 110, 8.5f - 0.5f * float(k)};
            out.push_back(Make(s, k, channels));
        }
    }
    return out;
}

// The edge cases: a remote B and N, 3-D positions with elevations, a negative
// level, first-generation records without date, no current.
std::vector<TDataRecord> EdgeCases()
{
    const TPos remote{Far, Far, 0};
    return {
        Make({{0, 0, 100}, remote, {5, 0, 99.5}, remote, 30, 80}, 0, 2),
        Make({{0, 0, 100}, remote, {10, 0, 99}, {15, 0, 98.25}, 20, 80}, 1, 2),
        Make({{0, 5, 100}, {5, 5, 99.5}, {0, 10, 101}, {5, 10, 100.5}, 7, 90, 0, true}, 0, 1),
        Make({{0, 0, 100}, {15, 0, 98.25}, {5, 0, 99.5}, {10, 0, 99}, 12, 50, 0, false, true}, 0, 1),
        Make({{0, 0, 100}, {15, 0, 98.25}, {5, 0, 99.5}, {10, 0, 99}, 12, 0, 0, false, true}, 0, 1),
    };
}

QList<QByteArray> Lines(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.pop_back();
    return lines;
}

double Num(const QByteArray &t)
{
    bool ok = false;
    const double v = t.trimmed().toDouble(&ok);
    EXPECT_TRUE(ok) << "not a number: \"" << t.toStdString() << '"';
    return v;
}

void ExpectClose(double got, double want, const std::string &what)
{
    EXPECT_NEAR(got, want, 1e-6 * std::max(1.0, std::fabs(want))) << what;
}

TPos PosOf(const TDataRecord &r, int e)
{
    return {r.Coords[std::size_t(e)], r.Coords[std::size_t(4 + e)], r.Coords[std::size_t(8 + e)]};
}

bool IsRemote(const TPos &p)
{
    return p[0] >= Far || p[1] >= Far;
}

// CSV with a header row: one row per record, looked up by column name.
void CheckCsv(const std::vector<TDataRecord> &records, const QByteArray &text)
{
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), qsizetype(records.size() + 1));
    const QList<QByteArray> names = lines[0].split(',');
    ASSERT_EQ(names.size(), 33 + 40 + 1);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const TDataRecord &r = records[i];
        const QList<QByteArray> cells = lines[qsizetype(i + 1)].split(',');
        ASSERT_EQ(cells.size(), names.size()) << i;
        std::map<QByteArray, QByteArray> row;
        for (qsizetype c = 0; c < names.size(); ++c)
            row[names[c]] = cells[c];
        const std::string at = "record " + std::to_string(i);
        EXPECT_EQ(Num(row["record"]), double(i));
        EXPECT_EQ(Num(row["channel"]), (r.Channel & 15) + 1) << at;
        EXPECT_EQ(Num(row["channels"]), r.Channel >> 4) << at;
        const char *electrodes[] = {"a", "b", "m", "n"};
        for (int e = 0; e < 4; ++e)
            for (int axis = 0; axis < 3; ++axis)
                ExpectClose(Num(row[QByteArray(electrodes[e]) + '_' + "xyz"[axis]]),
                            PosOf(r, e)[std::size_t(axis)], at);
        ExpectClose(Num(row["vp_mV"]), r.Vp, at);
        ExpectClose(Num(row["in_mA"]), r.In, at);
        ExpectClose(Num(row["rho_ohmm"]), r.Rho, at);
        ExpectClose(Num(row["m_mVV"]), r.M, at);
        ExpectClose(Num(row["pulse_ms"]), r.PulseTime, at);
        ExpectClose(Num(row["tx_battery_V"]), r.TxBattery, at);
        ExpectClose(Num(row["w20_ms"]), r.Windows[19], at);
        EXPECT_EQ(Num(row["level_negative"]), (r.Flags & 8) ? 1 : 0) << at;
        EXPECT_EQ(Num(row["stacks"]), r.Counter) << at;
        if (r.Date == 0) {
            EXPECT_TRUE(row["date"].isEmpty()) << at;
        } else {
            // Local wall-clock time to the second, as stored (channel k: k seconds later).
            EXPECT_EQ(row["date"], "2026-12-09T12:00:0" + QByteArray::number(r.Channel & 15)) << at;
        }
        EXPECT_EQ(row["flag"], r.In == 0 ? "in=0" : "") << at;
    }
}

// Unified data format: electrode count, positions, data count, a token line
// naming the columns, the data; "#" starts a comment.
void CheckUnified(const std::vector<TDataRecord> &records, const QByteArray &text)
{
    QList<QList<QByteArray>> rows;
    QList<QByteArray> columns;
    for (const QByteArray &line : Lines(text)) {
        if (line.trimmed().startsWith('#')) {
            columns = line.trimmed().mid(1).simplified().split(' ');
            continue;
        }
        rows << line.simplified().split(' ');
    }
    qsizetype at = 0;
    const int electrodeCount = int(Num(rows[at++][0]));
    std::vector<TPos> electrodes;
    for (int e = 0; e < electrodeCount; ++e, ++at)
        electrodes.push_back({Num(rows[at][0]), Num(rows[at][1]), Num(rows[at][2])});
    EXPECT_TRUE(std::is_sorted(electrodes.begin(), electrodes.end()));
    ASSERT_EQ(columns, (QList<QByteArray>{"a", "b", "m", "n", "rhoa", "r", "k", "i", "u", "ip"}));
    ASSERT_EQ(Num(rows[at++][0]), double(records.size()));
    for (const TDataRecord &r : records) {
        const QList<QByteArray> &cells = rows[at++];
        ASSERT_EQ(cells.size(), 10);
        for (int e = 0; e < 4; ++e) {
            const int number = int(Num(cells[e]));
            if (IsRemote(PosOf(r, e))) {
                EXPECT_EQ(number, 0);
                continue;
            }
            ASSERT_GE(number, 1);
            ASSERT_LE(number, electrodeCount);
            for (int axis = 0; axis < 3; ++axis)
                ExpectClose(electrodes[std::size_t(number - 1)][std::size_t(axis)], PosOf(r, e)[std::size_t(axis)], "position");
        }
        const double rhoa = Num(cells[4]), res = Num(cells[5]), k = Num(cells[6]), i = Num(cells[7]), u = Num(cells[8]);
        ExpectClose(rhoa, r.Rho, "rhoa");
        ExpectClose(i, r.In / 1000.0, "i");
        ExpectClose(u, r.Vp / 1000.0, "u");
        ExpectClose(Num(cells[9]), r.M, "ip");
        if (r.In == 0) {
            EXPECT_EQ(res, 0);
        } else {
            ExpectClose(res, u / i, "r");
            // The tool recomputes rhoa as k * r: both must agree.
            EXPECT_NEAR(k * res, rhoa, 1e-4 * std::fabs(rhoa));
        }
    }
    ASSERT_EQ(at, rows.size() - 1);
    EXPECT_EQ(rows[at], QList<QByteArray>{"0"});
}

// R2 protocol: the count, then "index a b m n R".
void CheckProtocol(const std::vector<TDataRecord> &records, const QByteArray &text)
{
    const auto lines = Lines(text);
    ASSERT_EQ(Num(lines[0]), double(records.size()));
    ASSERT_EQ(lines.size(), qsizetype(records.size() + 1));
    std::map<int, TPos> seen; // one position per electrode number, one number per position
    for (std::size_t i = 0; i < records.size(); ++i) {
        const QList<QByteArray> cells = lines[qsizetype(i + 1)].simplified().split(' ');
        ASSERT_EQ(cells.size(), 6);
        EXPECT_EQ(Num(cells[0]), double(i + 1));
        const TDataRecord &r = records[i];
        for (int e = 0; e < 4; ++e) {
            const int number = int(Num(cells[1 + e]));
            EXPECT_GE(number, 1);
            const auto [it, fresh] = seen.emplace(number, PosOf(r, e));
            EXPECT_EQ(it->second, PosOf(r, e)) << "electrode " << number;
        }
        ExpectClose(Num(cells[5]), r.In != 0 ? double(r.Vp) / double(r.In) : 0.0, "R");
    }
    // Numbers follow the sorted positions; remote electrodes come last.
    TPos previous{-1e30, -1e30, -1e30};
    bool remoteSeen = false;
    for (const auto &[number, pos] : seen) {
        if (IsRemote(pos))
            remoteSeen = true;
        else
            EXPECT_FALSE(remoteSeen) << "electrode " << number << " after a remote one";
        EXPECT_LT(previous, pos) << number;
        previous = pos;
    }
}

// Res2DInv general array: title, spacing, 11, 0, a text line, 0 (apparent
// resistivity), count, 1 (true horizontal distances), IP flag [+ 3 lines],
// "n x z ... value [ip]" lines, then the topography list.
void CheckRes2dinv(const std::vector<TDataRecord> &records, const QByteArray &text)
{
    const auto lines = Lines(text);
    qsizetype at = 1;
    EXPECT_GT(Num(lines[at++]), 0.0);
    EXPECT_EQ(Num(lines[at++]), 11);
    EXPECT_EQ(Num(lines[at++]), 0);
    EXPECT_TRUE(lines[at++].startsWith("Type of measurement"));
    EXPECT_EQ(Num(lines[at++]), 0);
    ASSERT_EQ(Num(lines[at++]), double(records.size()));
    EXPECT_EQ(Num(lines[at++]), 1);
    const bool ip = Num(lines[at++]) == 1;
    EXPECT_EQ(ip, std::any_of(records.begin(), records.end(), [](const TDataRecord &r) { return r.M != 0; }));
    if (ip) {
        EXPECT_EQ(lines[at++], "Chargeability");
        EXPECT_EQ(lines[at++], "mV/V");
        const QList<QByteArray> times = lines[at++].split(',');
        ASSERT_EQ(times.size(), 2);
        ExpectClose(Num(times[0]), 0.24, "delay");
        ExpectClose(Num(times[1]), 2.1, "integration");
    }
    for (const TDataRecord &r : records) {
        const QList<QByteArray> cells = lines[at++].simplified().split(' ');
        const int n = int(Num(cells[0]));
        ASSERT_EQ(cells.size(), 1 + 2 * n + 1 + (ip ? 1 : 0));
        int c = 1;
        for (int e = 0; e < 4; ++e) {
            if (IsRemote(PosOf(r, e)))
                continue;
            ExpectClose(Num(cells[c++]), PosOf(r, e)[0], "x");
            ExpectClose(Num(cells[c++]), PosOf(r, e)[2], "z");
        }
        EXPECT_EQ(c, 1 + 2 * n);
        ExpectClose(Num(cells[c++]), r.Rho, "rho");
        if (ip)
            ExpectClose(Num(cells[c]), r.M, "ip");
    }
    EXPECT_EQ(lines[at++], "Topography in separate list");
    EXPECT_EQ(Num(lines[at++]), 2);
    const int topo = int(Num(lines[at++]));
    for (int t = 0; t < topo; ++t)
        EXPECT_EQ(lines[at++].split(',').size(), 2);
    EXPECT_EQ(Num(lines[at++]), 1);
    for (; at < lines.size(); ++at)
        EXPECT_EQ(Num(lines[at]), 0);
}

void CheckAll(const std::vector<TDataRecord> &records)
{
    const TDataExporter exporter(records, QStringLiteral("Line 1"));
    CheckCsv(records, exporter.Export(TExportFormat::Csv));
    CheckUnified(records, exporter.Export(TExportFormat::Unified));
    CheckProtocol(records, exporter.Export(TExportFormat::Protocol));
    CheckRes2dinv(records, exporter.Export(TExportFormat::Res2dinv));
}
} // namespace

TEST(DataExporter, demoLineReadsBackInEveryFormat)
{
    const auto records = DemoLine();
    CheckAll(records);
    const TDataExporter exporter(records, QStringLiteral("Line 1"));
    EXPECT_EQ(exporter.Electrodes().size(), 12u);
    // A Wenner-like dipole-dipole factor for the first quadripole: n = 1, a = 2 m.
    EXPECT_NEAR(TDataExporter::GeometricFactor(records[0]), std::numbers::pi * 2 * 2 * 3, 1e-4);
}

TEST(DataExporter, edgeCasesReadBackInEveryFormat)
{
    const auto records = EdgeCases();
    CheckAll(records);
    const TDataExporter exporter(records, QStringLiteral("x"));
    for (const auto &p : exporter.Electrodes())
        EXPECT_FALSE(TDataExporter::IsRemote(p));
    // Pole-pole: only the A-M term remains.
    EXPECT_NEAR(TDataExporter::GeometricFactor(records[0]), 2 * std::numbers::pi * std::hypot(5.0, 0.5), 1e-3);
    // The unified file names the remote electrode 0; the protocol file gives it the last number.
    const QList<QByteArray> unified = exporter.Export(TExportFormat::Unified).split('\n');
    EXPECT_TRUE(unified.contains("1 0 4 0 " + QByteArray::number(records[0].Rho, 'g', 7) + " 0.375 " +
                                 QByteArray::number(TDataExporter::GeometricFactor(records[0]), 'g', 7) +
                                 " 0.08 0.03 0"));
    const int last = int(exporter.Electrodes().size()) + 1;
    EXPECT_TRUE(exporter.Export(TExportFormat::Protocol).contains("\n1 1 " + QByteArray::number(last) + " 4 " + QByteArray::number(last) + " "));
}

TEST(DataExporter, headerOnlyFileGivesEmptyLists)
{
    CheckAll({});
    EXPECT_EQ(TDataExporter({}, "t").Export(TExportFormat::Unified), "0\n# x y z\n0\n# a b m n rhoa r k i u ip\n0\n");
}

TEST(DataExporter, fileExportChoosesTheExtensionAndLeavesNoHalfFileOnError)
{
    QTemporaryDir tmp;
    const QString data = tmp.path() + "/Line.bin";
    WriteDataFileHeader(data, "Profile A\r\nwet", QDateTime::currentDateTime(), QLocale::c());
    const auto records = DemoLine();
    AppendDataRecords(data, records);
    QFile torn(data);
    ASSERT_TRUE(torn.open(QIODevice::Append));
    torn.write(QByteArray(100, '\1'));
    torn.close();

    for (const QString &name : TDataExporter::FormatNames()) {
        const auto format = *TDataExporter::FormatOf(name);
        const QString out = DefaultExportPath(data, format);
        EXPECT_EQ(out, tmp.path() + "/Line" + TDataExporter::ExtensionOf(format));
        const TExportResult result = ExportDataFile(data, format, out);
        EXPECT_EQ(result.Records, qint64(records.size()));
        EXPECT_EQ(result.TornBytes, 100);
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), TDataExporter(records, "Profile A").Export(format));
    }
    EXPECT_EQ(DefaultExportPath("Line.bin", TExportFormat::Unified), "Line.ohm");
    EXPECT_FALSE(TDataExporter::FormatOf("xls"));

    const QString notData = tmp.path() + "/notes.txt";
    QFile n(notData);
    ASSERT_TRUE(n.open(QIODevice::WriteOnly));
    n.write("hello");
    n.close();
    EXPECT_THROW(ExportDataFile(notData, TExportFormat::Csv, tmp.path() + "/notes.csv"), ETarnelError);
    EXPECT_FALSE(QFile::exists(tmp.path() + "/notes.csv"));
    EXPECT_THROW(ExportDataFile(data, TExportFormat::Csv, tmp.path() + "/no/dir/x.csv"), ETarnelError);
}
