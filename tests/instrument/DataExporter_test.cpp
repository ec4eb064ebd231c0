// Each export read back by a reader written from the tools' own description
// of their format, never from the writer.
#include "base/TarnelError.h"
#include "instrument/DataExporter.h"
#include "instrument/DataFile.h"
#include "support/SmallFs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <limits>
#include <map>
#include <numbers>

namespace {
TExportOptions Opt(bool line, TIpColumn ip = TIpColumn::None, double phasePerChargeability = 0)
{
    TExportOptions o;
    o.Line = line;
    o.Ip = ip;
    o.PhasePerChargeability = phasePerChargeability;
    return o;
}

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
    const auto remote = [](const TPos &p) { return std::fabs(p[0]) >= Far || std::fabs(p[1]) >= Far; };
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
    // In a uniform ground the potential difference has the sign of K, so Rho > 0.
    const double k = K(s.A, s.B, s.M, s.N);
    r.Vp = k < 0 ? -s.Vp : s.Vp;
    r.In = s.In;
    r.M = s.M_;
    r.Rho = s.In != 0 ? float(k * r.Vp / s.In) : 0.0f;
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
    return std::fabs(p[0]) >= Far || std::fabs(p[1]) >= Far;
}


// The strict number pattern of a widely used reader: a real has digits on
// both sides of the point, an optional minus, and no exponent.
bool PlainReal(const QByteArray &t)
{
    static const QRegularExpression pattern(QStringLiteral("^-?[0-9]+\\.[0-9]+$"));
    return pattern.match(QString::fromLatin1(t)).hasMatch();
}

double Real(const QByteArray &t)
{
    EXPECT_TRUE(PlainReal(t)) << "not a plain real: \"" << t.toStdString() << '"';
    return Num(t);
}

double KOf(const std::vector<TPos> &electrodes, const std::vector<bool> &remote)
{
    // electrodes: A B M N, remote ones contributing nothing.
    const auto inv = [&](int p, int q) {
        if (remote[std::size_t(p)] || remote[std::size_t(q)])
            return 0.0;
        const TPos &a = electrodes[std::size_t(p)], &b = electrodes[std::size_t(q)];
        return 1.0 / std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
    };
    return 2 * std::numbers::pi / (inv(0, 2) - inv(1, 2) - inv(0, 3) + inv(1, 3));
}

double DataK(const TDataRecord &r)
{
    return K(PosOf(r, 0), PosOf(r, 1), PosOf(r, 2), PosOf(r, 3));
}

// --- Unified data format: the electrode count, one position a line (x z in
// 2-D, x y z in 3-D), the data count, a token line naming the columns, one
// datum a line with electrode numbers (0 = remote); "#" starts a comment.
struct TUnified {
    std::vector<TPos> Electrodes;
    int Dimensions = 0;
    QList<QByteArray> Tokens;
    std::vector<std::map<QByteArray, QByteArray>> Data;
    std::vector<QByteArray> Comments; // end-of-line comments of the data
};

TUnified ReadUnified(const QByteArray &text)
{
    TUnified u;
    QList<QByteArray> lines = Lines(text);
    qsizetype at = 0;
    const auto next = [&](QByteArray *comment = nullptr) {
        while (at < lines.size()) {
            QByteArray line = lines[at++];
            const qsizetype hash = line.indexOf('#');
            if (hash == 0 && u.Tokens.isEmpty() && u.Electrodes.size() > 0 && !u.Data.empty())
                continue;
            QByteArray body = hash >= 0 ? line.left(hash) : line;
            if (comment)
                *comment = hash >= 0 ? line.mid(hash + 1).trimmed() : QByteArray();
            if (!body.trimmed().isEmpty())
                return body.simplified().split(' ');
            if (hash >= 0 && line.trimmed().startsWith('#'))
                continue;
        }
        return QList<QByteArray>{};
    };
    const int count = int(Num(next()[0]));
    for (int e = 0; e < count; ++e) {
        const QList<QByteArray> cells = next();
        u.Dimensions = int(cells.size());
        TPos p{0, 0, 0};
        if (cells.size() == 2)
            p = {Real(cells[0]), 0, Real(cells[1])};
        else
            p = {Real(cells[0]), Real(cells[1]), Real(cells[2])};
        u.Electrodes.push_back(p);
    }
    const int data = int(Num(next()[0]));
    // The token line is the comment line right after the data count.
    while (at < lines.size() && !lines[at].trimmed().startsWith('#'))
        ++at;
    u.Tokens = lines[at++].trimmed().mid(1).simplified().split(' ');
    for (int d = 0; d < data; ++d) {
        QByteArray comment;
        const QList<QByteArray> cells = next(&comment);
        EXPECT_EQ(cells.size(), u.Tokens.size());
        std::map<QByteArray, QByteArray> row;
        for (qsizetype c = 0; c < std::min(cells.size(), u.Tokens.size()); ++c)
            row[u.Tokens[c]] = cells[c];
        u.Data.push_back(row);
        u.Comments.push_back(comment);
    }
    EXPECT_EQ(next(), QList<QByteArray>{"0"});
    return u;
}

// --- R2 protocol, as its manual describes it: the data count, then
// "index e1 e2 e3 e4 R" for a 2-D line, or "index s1 e1 s2 e2 s3 e3 s4 e4 R"
// (a string and an electrode number each) in the 3-D layout. The electrode
// list written beside it is a CSV whose columns are read by name: label
// (what the protocol's electrode columns hold: "e", or "s e" in 3-D), x, y,
// z and remote.
struct TProtocolRow {
    int Electrode[4];
    double R;
};

// Labels as numbers: string s, electrode e is 1000 s + e.
int LabelKey(const QByteArray &label)
{
    const QList<QByteArray> parts = label.simplified().split(' ');
    return parts.size() == 2 ? 1000 * int(Num(parts[0])) + int(Num(parts[1])) : int(Num(label));
}

std::vector<TProtocolRow> ReadProtocol(const QByteArray &text, bool *threeD = nullptr)
{
    const auto lines = Lines(text);
    const int count = int(Num(lines[0]));
    EXPECT_EQ(lines.size(), qsizetype(count + 1));
    std::vector<TProtocolRow> rows;
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cells = lines[i].simplified().split(' ');
        EXPECT_TRUE(cells.size() == 6 || cells.size() == 10) << lines[i].toStdString();
        const bool layout3d = cells.size() == 10;
        if (threeD)
            *threeD = layout3d;
        EXPECT_EQ(Num(cells[0]), i);
        TProtocolRow row {};
        for (int e = 0; e < 4; ++e)
            row.Electrode[e] = layout3d ? 1000 * int(Num(cells[1 + 2 * e])) + int(Num(cells[2 + 2 * e]))
                                        : int(Num(cells[1 + e]));
        row.R = Real(cells.back());
        rows.push_back(row);
    }
    return rows;
}

struct TElectrodeList {
    std::map<int, TPos> Position;
    std::map<int, bool> Remote;
    std::map<int, QByteArray> Field; // the field electrode number, as written
};

TElectrodeList ReadElectrodes(const QByteArray &csv)
{
    TElectrodeList list;
    const auto lines = Lines(csv);
    const QList<QByteArray> names = lines[0].split(',');
    const auto column = [&names](const char *name) {
        const qsizetype i = names.indexOf(name);
        EXPECT_GE(i, 0) << "no column " << name;
        return i;
    };
    const qsizetype label = column("label"), x = column("x"), y = column("y"), z = column("z"),
                    remote = column("remote"), field = names.indexOf("electrode");
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cells = lines[i].split(',');
        EXPECT_EQ(cells.size(), names.size());
        const int number = LabelKey(cells[label]);
        EXPECT_EQ(list.Position.count(number), 0u) << "electrode " << number << " listed twice";
        const TPos p = {Real(cells[x]), Real(cells[y]), Real(cells[z])};
        for (const auto &[other, q] : list.Position)
            EXPECT_NE(p, q) << "electrodes " << other << " and " << number << " at one place";
        list.Position[number] = p;
        list.Remote[number] = cells[remote] == "1";
        if (field >= 0)
            list.Field[number] = cells[field];
    }
    return list;
}

// --- Res2DInv general array: title, unit spacing, 11, a sub-type, a text
// line, 0 (apparent resistivity), count, x-location type (2: true
// horizontal distance), IP flag [+ 3 lines], then per datum "n x z ..." with
// n electrodes in the order C1 C2 P1 P2 where 3 means C1 P1 P2 (C2 remote)
// and 2 means C1 P1, then the value [and IP]; then "Topography in separate
// list", its x-location type, the count and one "x,z" a line.
struct TRes2dRow {
    std::vector<std::array<double, 2>> Electrodes; // (x, z)
    double Rho = 0;
};

struct TRes2d {
    double Spacing = 0;
    std::vector<TRes2dRow> Rows;
    std::vector<std::array<double, 2>> Topography;
};

TRes2d ReadRes2dinv(const QByteArray &text)
{
    TRes2d file;
    const auto lines = Lines(text);
    qsizetype at = 1;
    file.Spacing = Real(lines[at++]);
    EXPECT_EQ(Num(lines[at++]), 11);
    ++at;
    EXPECT_TRUE(lines[at++].startsWith("Type of measurement"));
    EXPECT_EQ(Num(lines[at++]), 0);
    const int count = int(Num(lines[at++]));
    EXPECT_EQ(Num(lines[at++]), 2) << "x-location type";
    const bool ip = Num(lines[at++]) == 1;
    if (ip)
        at += 3;
    for (int d = 0; d < count; ++d) {
        const QList<QByteArray> cells = lines[at++].simplified().split(' ');
        const int n = int(Num(cells[0]));
        EXPECT_TRUE(n >= 2 && n <= 4);
        EXPECT_EQ(cells.size(), 1 + 2 * n + 1 + (ip ? 1 : 0));
        TRes2dRow row;
        for (int e = 0; e < n; ++e)
            row.Electrodes.push_back({Real(cells[1 + 2 * e]), Real(cells[2 + 2 * e])});
        row.Rho = Real(cells[1 + 2 * n]);
        file.Rows.push_back(row);
    }
    EXPECT_EQ(lines[at++], "Topography in separate list");
    EXPECT_EQ(Num(lines[at++]), 2) << "topography x-location type";
    const int topo = int(Num(lines[at++]));
    for (int t = 0; t < topo; ++t) {
        const QList<QByteArray> xz = lines[at++].split(',');
        file.Topography.push_back({Real(xz[0]), Real(xz[1])});
    }
    // Every electrode of the data stands on the topography.
    for (const TRes2dRow &row : file.Rows)
        for (const auto &e : row.Electrodes)
            EXPECT_TRUE(std::any_of(file.Topography.begin(), file.Topography.end(),
                                    [&](const auto &t) { return t == e; }))
                << "electrode at " << e[0] << ", " << e[1] << " not in the topography";
    return file;
}

// K of a Res2DInv general-array datum, in the (x, z) plane of the line.
double Res2dK(const TRes2dRow &row)
{
    const auto inv = [&](std::size_t p, std::size_t q) {
        const auto &a = row.Electrodes[p], &b = row.Electrodes[q];
        return 1.0 / std::hypot(a[0] - b[0], a[1] - b[1]);
    };
    switch (row.Electrodes.size()) {
    case 4:
        return 2 * std::numbers::pi / (inv(0, 2) - inv(1, 2) - inv(0, 3) + inv(1, 3));
    case 3:
        return 2 * std::numbers::pi / (inv(0, 1) - inv(0, 2));
    default:
        return 2 * std::numbers::pi / inv(0, 1);
    }
}

void ExpectSameK(double got, double want, double tolerance, const std::string &what)
{
    EXPECT_NEAR(got, want, tolerance * std::fabs(want)) << what;
}

// Every export of records, read back with the readers above: the geometric
// factor from what each reader got equals the data file's.
void CheckLayout(const std::vector<TDataRecord> &records, bool line, double tolerance = 1e-5)
{
    const TDataExporter exporter(records, QStringLiteral("Layout"));

    // Unified keeps the positions as they are; K and rhoa = k * r agree.
    const TUnified u = ReadUnified(exporter.Export(TExportFormat::Unified).Text);
    EXPECT_EQ(u.Dimensions, 3);
    ASSERT_EQ(u.Data.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const TDataRecord &r = records[i];
        std::vector<TPos> p;
        std::vector<bool> remote;
        for (const char *t : {"a", "b", "m", "n"}) {
            const int n = int(Num(u.Data[i].at(t)));
            remote.push_back(n == 0);
            p.push_back(n == 0 ? TPos{0, 0, 0} : u.Electrodes.at(std::size_t(n - 1)));
        }
        for (int e = 0; e < 4; ++e)
            EXPECT_EQ(remote[std::size_t(e)], IsRemote(PosOf(r, e))) << "record " << i;
        ExpectSameK(KOf(p, remote), DataK(r), 1e-5, "unified k of record " + std::to_string(i));
        ExpectSameK(Real(u.Data[i].at("k")), DataK(r), 1e-5, "unified k column");
        ExpectClose(Real(u.Data[i].at("rhoa")), r.Rho, "rhoa");
    }

    // Protocol: numbers and the electrode list beside it; pole-pole keeps the
    // remote current and the remote potential electrode apart.
    const TExportText protocol = exporter.Export(TExportFormat::Protocol);
    bool threeD = false;
    const auto rows = ReadProtocol(protocol.Text, &threeD);
    EXPECT_EQ(threeD, !line) << "a grid in the 3-D layout, a line in the 2-D one";
    EXPECT_EQ(protocol.Electrodes, exporter.ProtocolElectrodes());
    const TElectrodeList list = ReadElectrodes(exporter.ProtocolElectrodes());
    std::size_t row = 0;
    for (const TDataRecord &r : records) {
        if (!TDataExporter::Usable(r))
            continue;
        ASSERT_LT(row, rows.size());
        const TProtocolRow &pr = rows[row++];
        std::vector<TPos> p;
        std::vector<bool> remote;
        for (const int n : pr.Electrode) {
            p.push_back(list.Position.at(n));
            remote.push_back(list.Remote.at(n));
        }
        EXPECT_NE(pr.Electrode[0], pr.Electrode[1]);
        EXPECT_NE(pr.Electrode[2], pr.Electrode[3]);
        const double k = KOf(p, remote);
        ExpectSameK(k, DataK(r), 1e-5, "protocol k");
        ExpectSameK(k * pr.R, r.Rho, 1e-5, "protocol rho from R");
    }
    EXPECT_EQ(row, rows.size());

    if (!line) {
        EXPECT_THROW(exporter.Export(TExportFormat::Res2dinv), ETarnelError);
        return;
    }
    // Res2DInv: distances along the line; |K| as the data file's (an electrode
    // pair taken in the other order flips its sign and leaves Rho alone).
    const TRes2d res = ReadRes2dinv(exporter.Export(TExportFormat::Res2dinv).Text);
    row = 0;
    for (const TDataRecord &r : records) {
        if (!TDataExporter::Usable(r))
            continue;
        ASSERT_LT(row, res.Rows.size());
        const TRes2dRow &rr = res.Rows[row++];
        ExpectSameK(std::fabs(Res2dK(rr)), std::fabs(DataK(r)), tolerance, "res2dinv k");
        ExpectClose(rr.Rho, r.Rho, "res2dinv rho");
    }
    EXPECT_EQ(row, res.Rows.size());
    EXPECT_GT(res.Spacing, 0);
}

// Dipole-dipole groups over a list of electrode positions.
std::vector<TDataRecord> Survey(const std::vector<TPos> &e)
{
    std::vector<TDataRecord> out;
    for (std::size_t a = 0; a + 3 < e.size(); ++a)
        for (std::size_t k = 0; a + 3 + k < e.size() && k < 3; ++k)
            out.push_back(Make({e[a], e[a + 1], e[a + 2 + k], e[a + 3 + k], 40, 100}, int(k), 3));
    // Wenner and Schlumberger too, the widest over the whole line.
    out.push_back(Make({e[0], e[3], e[1], e[2], 40, 100}, 0, 1));
    if (e.size() >= 6)
        out.push_back(Make({e[0], e[5], e[2], e[3], 40, 100}, 0, 1));
    const std::size_t a = (e.size() - 1) / 3, last = e.size() - 1;
    out.push_back(Make({e[0], e[3 * a], e[a], e[2 * a], 40, 100}, 0, 1));
    out.push_back(Make({e[0], e[last], e[last / 2], e[last / 2 + 1], 40, 100}, 0, 1));
    return out;
}

std::vector<TPos> Line(TPos start, double dx, double dy, double dz, int count)
{
    std::vector<TPos> e;
    for (int i = 0; i < count; ++i)
        e.push_back({start[0] + i * dx, start[1] + i * dy, start[2] + i * dz});
    return e;
}
} // namespace

TEST(DataExporter, linesInAnyDirectionGiveTheirTrueGeometricFactors)
{
    const double c = std::cos(std::numbers::pi / 3), s = std::sin(std::numbers::pi / 3);
    std::vector<TPos> arc;
    // 2 m apart on a circle of 105 m, 46 m long: the way along it is 0.8 %
    // longer than the straight distance between its ends, near the limit.
    for (int i = 0; i < 24; ++i)
        arc.push_back({105 * std::sin(i * 2.0 / 105), 105 - 105 * std::cos(i * 2.0 / 105), 0.1 * i});
    const struct TCase {
        const char *Name;
        std::vector<TPos> Electrodes;
        double Tolerance;
    } cases[] = {
        {"along x", Line({0, 0, 0}, 2, 0, 0, 10), 1e-5},
        {"along y", Line({5, 0, 0}, 0, 2, 0, 10), 1e-5},
        {"at 60 degrees, sloping", Line({3, -4, 100}, 2 * c, 2 * s, -0.3, 10), 1e-5},
        {"negative positions", Line({-20, -3, 0}, 2, 0, 0, 10), 1e-5},
        // Along a bend, Res2DInv gets distances along the cable, not chords:
        // its factors stay within the line's tolerance.
        {"curved", arc, TLineLayout::MaxStretch},
    };
    for (const TCase &tc : cases) {
        SCOPED_TRACE(tc.Name);
        const auto records = Survey(tc.Electrodes);
        CheckLayout(records, true, tc.Tolerance);
        const TDataExporter exporter(records, "x");
        EXPECT_TRUE(exporter.Layout().IsLine()) << exporter.Layout().NotALine().toStdString();
        // Unified --line: distance along the line and elevation.
        const TDataExporter alongLine(records, "x", Opt(true));
        const TUnified u = ReadUnified(alongLine.Export(TExportFormat::Unified).Text);
        EXPECT_EQ(u.Dimensions, 2);
        EXPECT_EQ(u.Electrodes.front()[0], 0.0);
        EXPECT_NEAR(u.Electrodes[1][0], 2.0, 1e-3) << "second electrode along the line";
    }
}

TEST(DataExporter, remoteElectrodesGiveEachToolTheRightArray)
{
    const TPos far{Far, Far, 0}, farNegative{-Far, 0, 0};
    const auto e = Line({0, 0, 0}, 0, 2, 0, 8); // a line along y
    const struct TCase {
        const char *Name;
        TPos A, B, M, N;
        int Res2dElectrodes;
    } cases[] = {
        {"pole-pole", e[0], far, e[2], far, 2},
        {"pole-dipole", e[0], far, e[2], e[3], 3},
        {"dipole-pole", e[0], e[1], e[3], far, 3},
        {"dipole with remote M", e[0], e[1], far, e[4], 3},
        {"remote A", far, e[1], e[3], e[4], 3},
        {"remote at -99999", e[2], farNegative, e[4], e[5], 3},
    };
    for (const TCase &tc : cases) {
        SCOPED_TRACE(tc.Name);
        std::vector<TDataRecord> records = Survey(e);
        records.push_back(Make({tc.A, tc.B, tc.M, tc.N, 30, 80}, 0, 1));
        CheckLayout(records, true);
        // A tool that places each electrode where the list says, remote ones
        // too, gets the pole's K: the remotes stand far apart, not on one spot.
        const TDataExporter exporter(records, "x");
        const TExportText protocol = exporter.Export(TExportFormat::Protocol);
        const TElectrodeList list = ReadElectrodes(protocol.Electrodes);
        const TProtocolRow last = ReadProtocol(protocol.Text).back();
        std::vector<TPos> placed;
        for (const int n : last.Electrode)
            placed.push_back(list.Position.at(n));
        const double k = KOf(placed, {false, false, false, false});
        EXPECT_TRUE(std::isfinite(k));
        EXPECT_NEAR(k, DataK(records.back()), 1e-3 * std::fabs(DataK(records.back())));
        const TRes2d res = ReadRes2dinv(TDataExporter(records, "x").Export(TExportFormat::Res2dinv).Text);
        EXPECT_EQ(res.Rows.back().Electrodes.size(), std::size_t(tc.Res2dElectrodes));
        EXPECT_EQ(TDataExporter(records, "x").Electrodes().size(), e.size());
    }
}

TEST(DataExporter, layoutsThatAreNotOneLineAreRefusedForRes2dinvAndKeptIn3dByUnified)
{
    std::vector<TPos> grid, parallel, corner, tightArc, borehole;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            grid.push_back({2.0 * x, 3.0 * y, 0});
    for (int x = 0; x < 8; ++x)
        parallel.push_back({2.0 * x, x % 2 ? 5.0 : 0.0, 0});
    for (int i = 0; i < 6; ++i)
        corner.push_back(i < 3 ? TPos{2.0 * i, 0, 0} : TPos{4, 2.0 * (i - 2), 0});
    // 2 m apart on a circle of 20 m: 2.3 % longer along it than straight.
    for (int i = 0; i < 12; ++i)
        tightArc.push_back({20 * std::sin(i * 0.1), 20 - 20 * std::cos(i * 0.1), 0});
    for (int i = 0; i < 8; ++i)
        borehole.push_back(i < 4 ? TPos{2.0 * i, 0, 0} : TPos{6, 0, -2.0 * (i - 3)});
    // A borehole electrode between two surface electrodes across the line.
    std::vector<TPos> crossing = {{0, -2.2, 0}, {0, 0, 0}, {1, 0, 0}, {0, 0, -3.1}, {0, 3.3, 0}, {0, 7.5, 0}};
    const struct {
        const char *Name;
        const std::vector<TPos> &Electrodes;
    } cases[] = {{"grid", grid},
                 {"two parallel lines", parallel},
                 {"a corner", corner},
                 {"a tight bend", tightArc},
                 {"a borehole", borehole},
                 {"a borehole and a cross line", crossing}};
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.Name);
        const auto records = Survey(tc.Electrodes);
        CheckLayout(records, false);
        const TDataExporter exporter(records, "x");
        try {
            exporter.Export(TExportFormat::Res2dinv);
            ADD_FAILURE() << "written as a line";
        } catch (const ETarnelError &err) {
            EXPECT_TRUE(err.Message().contains("unified")) << err.Message().toStdString();
        }
        EXPECT_THROW(TDataExporter(records, "x", Opt(true)).Export(TExportFormat::Unified), ETarnelError);
    }
}

TEST(DataExporter, projectedCoordinatesAndEmptyFilesAreRefused)
{
    const auto utm = Survey(Line({512345.5, 5123456.25, 300}, 2, 0, 0, 6));
    for (const auto format : {TExportFormat::Unified, TExportFormat::Protocol, TExportFormat::Res2dinv}) {
        try {
            TDataExporter(utm, "x").Export(format);
            FAIL() << "projected coordinates exported";
        } catch (const ETarnelError &err) {
            EXPECT_TRUE(err.Message().contains("99999")) << err.Message().toStdString();
        }
        EXPECT_THROW(TDataExporter({}, "x").Export(format), ETarnelError);
    }
    EXPECT_THROW(TDataExporter({}, "x").Export(TExportFormat::Csv), ETarnelError);
}

TEST(DataExporter, recordsWithoutCurrentOrPositiveRhoStayOutOfTheInversionFiles)
{
    auto records = Survey(Line({0, 0, 0}, 2, 0, 0, 8));
    const std::size_t total = records.size();
    records[1].In = 0;
    records[1].Rho = 0;
    records[2].Rho = -5;
    // A damaged record: numbers that are no numbers.
    records[3].Coords[4] = std::numeric_limits<float>::quiet_NaN();
    records[4].Rho = std::numeric_limits<float>::infinity();
    const TDataExporter exporter(records, "x");
    for (const auto format : {TExportFormat::Protocol, TExportFormat::Res2dinv}) {
        const TExportText t = exporter.Export(format);
        EXPECT_EQ(t.LeftOut, 4);
        EXPECT_EQ(t.Written, qint64(total - 4));
        EXPECT_FALSE(t.Text.contains("nan") || t.Text.contains("inf"));
    }
    const TUnified u = ReadUnified(exporter.Export(TExportFormat::Unified).Text);
    EXPECT_EQ(u.Data.size(), total);
    EXPECT_EQ(u.Comments[1], "in=0");
    EXPECT_EQ(u.Comments[2], "rho<=0");
    EXPECT_EQ(u.Comments[3], "no-geometry");
    EXPECT_EQ(u.Comments[4], "not-finite");
    EXPECT_EQ(exporter.Electrodes().size(), 8u);
    records.erase(records.begin() + 3, records.begin() + 5);
    CheckLayout(records, true);
}

TEST(DataExporter, numbersAreFixedNotationWithAPoint)
{
    const struct {
        double Value;
        const char *Text;
    } cases[] = {{-10, "-10.0"}, {1e-5, "0.00001"}, {12345678, "12345678.0"}, {0, "0.0"},
                 {0.1f, "0.1"}, {10.3f, "10.3"}, {-0.0, "0.0"}, {99999, "99999.0"}, {2.5, "2.5"},
                 {2 * std::numbers::pi, "6.28318531"}, {1.0 / 3.0, "0.333333333"}};
    for (const auto &c : cases)
        EXPECT_EQ(TDataExporter::Real(c.Value), c.Text) << c.Value;
    for (const float f : {1.2345678e7f, 3.3333333e-6f, -7.1f, 123.456f}) {
        const QByteArray t = TDataExporter::Real(f);
        EXPECT_TRUE(PlainReal(t)) << t.toStdString();
        EXPECT_EQ(t.toFloat(), f) << t.toStdString();
    }
}

TEST(DataExporter, unifiedIpColumnSaysWhatItHolds)
{
    auto records = Survey(Line({0, 0, 0}, 2, 0, 0, 6));
    for (auto &r : records)
        r.M = 12.5f;
    const struct {
        TExportOptions Options;
        const char *Ip; // nullptr: no ip column
        const char *Note;
    } cases[] = {
        {{}, nullptr, "ip left out"},
        {Opt(false, TIpColumn::Chargeability), "12.5", "chargeability M in mV/V"},
        {Opt(false, TIpColumn::Phase, 0.5), "6.25", "phase in mrad"},
    };
    for (const auto &c : cases) {
        const QByteArray text = TDataExporter(records, "x", c.Options).Export(TExportFormat::Unified).Text;
        EXPECT_TRUE(text.contains(c.Note)) << text.toStdString();
        const TUnified u = ReadUnified(text);
        if (c.Ip)
            EXPECT_EQ(u.Data[0].at("ip"), c.Ip);
        else
            EXPECT_FALSE(u.Tokens.contains("ip"));
    }
}

TEST(DataExporter, csvHoldsEveryStoredFieldWithUnits)
{
    auto records = Survey(Line({0, 0, 0}, 2, 0, 0, 6));
    records[0].Value = 3.25f;
    records[0].Flags = 2 | 8 | 0x40;
    records[0].LineResistance = 1.5f;
    records[0].Latitude = -4523.456f; // 45° 23.456' S
    records[0].Longitude = 1234.5f;   // 12° 34.5' E
    records[1].In = 0;
    const QByteArray text = TDataExporter(records, "x").Export(TExportFormat::Csv).Text;
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), qsizetype(records.size() + 1));
    const QList<QByteArray> names = lines[0].split(',');
    std::map<QByteArray, QByteArray> row;
    const QList<QByteArray> cells = lines[1].split(',');
    ASSERT_EQ(cells.size(), names.size());
    for (qsizetype c = 0; c < names.size(); ++c)
        row[names[c]] = cells[c];
    for (const char *name : {"a_x_m", "n_z_m", "vp_mV", "in_mA", "rho_ohmm", "line_resistance_kohm", "w20_ms",
                             "m20_mVV"})
        EXPECT_TRUE(row.count(name)) << name;
    // The position as stored (degrees × 100 + minutes) and in decimal degrees.
    EXPECT_NEAR(Real(row["latitude_ddmm"]), -4523.456, 1e-3);
    EXPECT_NEAR(Real(row["latitude_deg"]), -(45 + 23.456 / 60), 1e-6);
    EXPECT_NEAR(Real(row["longitude_deg"]), 12 + 34.5 / 60, 1e-6);
    EXPECT_EQ(row["instrument_value"], "3.25");
    EXPECT_EQ(row["flags"], "74");
    EXPECT_EQ(row["level_negative"], "1");
    EXPECT_EQ(row["line_resistance_kohm"], "1.5");
    EXPECT_EQ(row["version"], "3");
    std::map<QByteArray, QByteArray> second;
    const QList<QByteArray> cells2 = lines[2].split(',');
    ASSERT_EQ(cells2.size(), names.size());
    for (qsizetype c = 0; c < names.size(); ++c)
        second[names[c]] = cells2[c];
    EXPECT_EQ(second["flag"], "in=0");
    EXPECT_EQ(second["qc"], "low_current");
    EXPECT_EQ(row["qc"], "");
}

TEST(DataExporter, qcColumnAndTheReciprocalsErrorModel)
{
    const auto x = [](double m) { return TPos{m, 0, 0}; };
    // Two normal readings and their reciprocals: 2 % apart, then 26 % apart.
    const TSpec specs[] = {{x(0), x(5), x(10), x(15), 50}, {x(10), x(15), x(0), x(5), 51},
                           {x(0), x(5), x(20), x(25), 20}, {x(20), x(25), x(0), x(5), 26}};
    std::vector<TDataRecord> records;
    for (const TSpec &sp : specs)
        records.push_back(Make(sp, 0, 1));
    TDataExporter exporter(records, "x");
    const auto csv = Lines(exporter.Export(TExportFormat::Csv).Text);
    const qsizetype qc = csv[0].split(',').indexOf("qc");
    ASSERT_GE(qc, 0);
    const QByteArray expected[] = {"", "", "reciprocal", "reciprocal"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(csv[i + 1].split(',')[qc], expected[i]) << i;

    // err is the judge's resistance model at each |R|, as qc states it.
    TQualityControl judge;
    for (const TDataRecord &rec : records)
        judge.Add(rec);
    const auto model = judge.ResistanceModel();
    const double r[] = {0.50, 0.51, 0.20, 0.26};
    const TUnified u = ReadUnified(exporter.Export(TExportFormat::Unified).Text);
    ASSERT_TRUE(u.Tokens.contains("err"));
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(Real(u.Data[std::size_t(i)].at("err")), model.Error(r[i]), 1e-6) << i;
        // Never below the pair's own disagreement: 2 % and 26 %.
        EXPECT_GE(Real(u.Data[std::size_t(i)].at("err")), i < 2 ? 0.0198 : 0.26) << i;
    }
    // Without reciprocals there is no error model and no column.
    records.resize(1);
    EXPECT_FALSE(ReadUnified(TDataExporter(records, "x").Export(TExportFormat::Unified).Text).Tokens.contains("err"));
}

TEST(DataExporter, fileExportNamesDefaultsAndNeverReplacesItsInput)
{
    QTemporaryDir tmp;
    const QString data = tmp.path() + "/Line.bin";
    WriteDataFileHeader(data, "Profile A\r\nwet", QDateTime::currentDateTime());
    const auto records = Survey(Line({0, 0, 0}, 2, 0, 0, 8));
    AppendDataRecords(data, records);
    QFile tail(data);
    ASSERT_TRUE(tail.open(QIODevice::Append));
    tail.write(QByteArray(2 * 304 + 17, '\0')); // a power cut's zero-filled tail
    tail.close();
    const QByteArray original = [&] {
        QFile f(data);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    const struct {
        TExportFormat Format;
        const char *Name;
    } defaults[] = {{TExportFormat::Csv, "/Line.csv"},
                    {TExportFormat::Unified, "/Line.ohm"},
                    {TExportFormat::Protocol, "/Line_protocol.dat"},
                    {TExportFormat::Res2dinv, "/Line_res2dinv.dat"}};
    for (const auto &d : defaults) {
        const QString out = DefaultExportPath(data, d.Format);
        EXPECT_EQ(out, tmp.path() + d.Name);
        const TExportResult result = ExportDataFile(data, d.Format, out);
        EXPECT_EQ(result.Records, qint64(records.size()));
        EXPECT_EQ(result.TornBytes, 2 * 304 + 17);
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), TDataExporter(records, "Profile A").Export(d.Format).Text);
        // A second export does not replace the first without being asked.
        EXPECT_THROW(ExportDataFile(data, d.Format, out), ETarnelError);
        EXPECT_NO_THROW(ExportDataFile(data, d.Format, out, true));
    }
    EXPECT_TRUE(QFile::exists(tmp.path() + "/Line_electrodes.csv"));
    EXPECT_EQ(ElectrodesPathFor("d/Line.bin", "d/Line_protocol.dat"), "d/Line_electrodes.csv");
    EXPECT_EQ(ElectrodesPathFor("d/Line.bin", "e/Other.dat"), "e/Other_electrodes.csv");
    EXPECT_EQ(ElectrodesPathFor("d/Line.bin", "-"), "d/Line_electrodes.csv");

    // The data file itself, by name, through a link and through "./".
    ASSERT_TRUE(QFile::link(data, tmp.path() + "/link.bin"));
    for (const QString &target : {data, tmp.path() + "/link.bin", tmp.path() + "/./Line.bin"})
        for (const auto &d : defaults) {
            try {
                ExportDataFile(data, d.Format, target, true);
                ADD_FAILURE() << "exported onto " << target.toStdString();
            } catch (const ETarnelError &err) {
                EXPECT_TRUE(err.Message().contains("data file being exported")) << err.Message().toStdString();
            }
        }
    QFile f(data);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), original);

    const QString notData = tmp.path() + "/notes.txt";
    QFile n(notData);
    ASSERT_TRUE(n.open(QIODevice::WriteOnly));
    n.write("hello");
    n.close();
    EXPECT_THROW(ExportDataFile(notData, TExportFormat::Csv, tmp.path() + "/notes.csv"), ETarnelError);
    EXPECT_FALSE(QFile::exists(tmp.path() + "/notes.csv"));
    EXPECT_THROW(ExportDataFile(data, TExportFormat::Csv, tmp.path() + "/no/dir/x.csv"), ETarnelError);
}

TEST(DataExporter, aFullDiskKeepsEveryPreviousExport)
{
    TSmallFs fs(256 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    const QString data = fs.File("Line.bin");
    WriteDataFileHeader(data, "Profile A", QDateTime::currentDateTime());
    AppendDataRecords(data, Survey(Line({0, 0, 0}, 2, 0, 0, 8)));
    const auto write = [](const QString &path) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an earlier export\n");
    };
    const QStringList earlier = {"Line.csv", "Line.ohm", "Line_protocol.dat", "Line_electrodes.csv",
                                 "Line_res2dinv.dat"};
    for (const QString &name : earlier)
        write(fs.File(name));
    fs.Fill();
    for (const QString &name : TDataExporter::FormatNames()) {
        SCOPED_TRACE(name.toStdString());
        const auto format = *TDataExporter::FormatOf(name);
        try {
            ExportDataFile(data, format, DefaultExportPath(data, format), true);
            ADD_FAILURE() << "export on a full disk reported success";
        } catch (const ETarnelError &err) {
            EXPECT_TRUE(err.Message().contains("No space left on device")) << err.Message().toStdString();
        }
    }
    for (const QString &name : earlier) {
        QFile f(fs.File(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), "an earlier export\n") << name.toStdString();
    }
    // No temporary file is left behind.
    EXPECT_EQ(QDir(fs.Path()).entryList(QDir::Files).size(), earlier.size() + 2);
}

TEST(DataExporter, aProtocolExportThatDoesNotFitKeepsBothPreviousFiles)
{
    TSmallFs fs(256 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    const QString data = fs.File("Line.bin");
    WriteDataFileHeader(data, "Profile A", QDateTime::currentDateTime());
    // Enough records for a protocol file of two pages; its electrode list
    // takes one.
    std::vector<TDataRecord> records;
    for (int i = 0; i < 20; ++i)
        for (const TDataRecord &r : Survey(Line({0, 0, 0}, 2, 0, 0, 8)))
            records.push_back(r);
    AppendDataRecords(data, records);
    const QString protocol = fs.File("Line_protocol.dat"), electrodes = fs.File("Line_electrodes.csv");
    for (const QString &path : {protocol, electrodes}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the earlier pair\n");
    }
    // Room for one page: the electrode list would fit, the protocol file not.
    fs.Fill();
    QFile ballast(fs.File("ballast"));
    ASSERT_TRUE(ballast.resize(ballast.size() - 4096));
    try {
        ExportDataFile(data, TExportFormat::Protocol, protocol, true);
        ADD_FAILURE() << "export on a nearly full disk reported success";
    } catch (const ETarnelError &err) {
        EXPECT_TRUE(err.Message().contains(protocol) && err.Message().contains(electrodes)) << err.Message().toStdString();
    }
    for (const QString &path : {protocol, electrodes}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), "the earlier pair\n") << path.toStdString();
    }
    EXPECT_EQ(QDir(fs.Path()).entryList(QDir::Files | QDir::Hidden).size(), 4) << "no staging file left";
}

TEST(DataExporter, aLineKeepsItsDirectionWhateverTheNoiseAcrossIt)
{
    // A north-south line, eastings with centimetres of GPS noise; the second
    // survey's noise mirrored, so that the end that comes first in x changes.
    const float noise[] = {0.01f, -0.02f, 0.0f, 0.015f, -0.01f, 0.02f, -0.005f, -0.012f};
    const auto survey = [&noise](float sign) {
        std::vector<TPos> e;
        for (int i = 0; i < 8; ++i)
            e.push_back({500.0 + sign * noise[i], 1000.0 + 5.0 * i, 0});
        return Survey(e);
    };
    const auto first = survey(1), second = survey(-1);
    ASSERT_NE(first[0].Coords[0] < first[0].Coords[1], second[0].Coords[0] < second[0].Coords[1]);
    for (const bool reverse : {false, true}) {
        TExportOptions options = Opt(true);
        options.Reverse = reverse;
        for (const auto format : {TExportFormat::Protocol, TExportFormat::Res2dinv, TExportFormat::Unified}) {
            const QByteArray a = TDataExporter(first, "x", options).Export(format).Text;
            EXPECT_EQ(a, TDataExporter(second, "x", options).Export(format).Text) << TDataExporter::NameOf(format).toStdString();
        }
        // Without a survey the line starts where the first reading is.
        const TDataExporter exporter(first, "x", options);
        EXPECT_EQ(exporter.Electrodes().front()[1], reverse ? 1035.0f : 1000.0f);
    }

    // With the survey's numbers, electrode 1 at the north end: the line
    // starts there, and the list keeps each field number.
    TExportOptions numbered;
    for (int i = 0; i < 8; ++i)
        numbered.Numbers.push_back({{float(500.0 + noise[i]), float(1000.0 + 5.0 * i), 0.0f}, 8 - i});
    numbered.NumbersFrom = "Line.txt";
    const TDataExporter exporter(first, "x", numbered);
    EXPECT_TRUE(exporter.FieldNumbered());
    EXPECT_EQ(exporter.Electrodes().front()[1], 1035.0f);
    EXPECT_TRUE(exporter.Numbering().contains("Line.txt")) << exporter.Numbering().toStdString();
    const TElectrodeList list = ReadElectrodes(exporter.Export(TExportFormat::Protocol).Electrodes);
    for (int label = 1; label <= 8; ++label)
        EXPECT_EQ(list.Field.at(label), QByteArray::number(label)) << label;
    const auto csv = Lines(exporter.Export(TExportFormat::Csv).Text);
    const qsizetype a = csv[0].split(',').indexOf("a_electrode");
    ASSERT_GE(a, 0);
    EXPECT_EQ(csv[1].split(',')[a], "8") << "the first reading injects at the south end";
    EXPECT_EQ(Lines(exporter.Export(TExportFormat::Unified).Text)[2], "499.988 1035.0 0.0 # electrode 1");
}
