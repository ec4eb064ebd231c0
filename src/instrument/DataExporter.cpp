#include "instrument/DataExporter.h"

#include "base/SafeFile.h"
#include "base/TarnelError.h"
#include "instrument/DataFileReader.h"
#include "instrument/ResistanceTable.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <sys/stat.h>

namespace {
constexpr double RemoteMark = 99999.0;

QByteArray Int(qint64 v)
{
    return QByteArray::number(v);
}

// Days since 1899-12-30 as local time, to the second; empty without a date.
QByteArray IsoDate(double days)
{
    if (days == 0.0 || !std::isfinite(days) || std::fabs(days) > 3e6)
        return {};
    // Wall-clock arithmetic: the stored number is local time, no zone or
    // daylight-saving shift applies.
    const qint64 seconds = std::llround(days * 86400.0);
    const qint64 day = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const int second = int(seconds - day * 86400);
    const QDate date = QDate(1899, 12, 30).addDays(day);
    return (date.toString(Qt::ISODate) + QLatin1Char('T') + QTime(0, 0).addSecs(second).toString(QStringLiteral("HH:mm:ss")))
        .toLatin1();
}

// Degree-minute notation (±(degrees × 100 + minutes)) as decimal degrees.
double Degrees(float ddmm)
{
    const double v = std::fabs(double(ddmm));
    const double degrees = std::floor(v / 100.0);
    const double decimal = degrees + (v - 100.0 * degrees) / 60.0;
    return ddmm < 0 ? -decimal : decimal;
}

bool Less(const TDataExporter::TPosition &a, const TDataExporter::TPosition &b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

double Distance(const TDataExporter::TPosition &p, const TDataExporter::TPosition &q)
{
    return std::hypot(double(p[0]) - double(q[0]), double(p[1]) - double(q[1]), double(p[2]) - double(q[2]));
}

// A damaged record may hold a NaN or an infinity: such a position has no
// place in any list and no number.
bool Finite(const TDataExporter::TPosition &p)
{
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

std::vector<TDataExporter::TPosition> LinePositions(const std::vector<TDataRecord> &records)
{
    std::vector<TDataExporter::TPosition> list;
    for (const TDataRecord &r : records)
        for (int e = 0; e < 4; ++e) {
            const auto p = TDataExporter::Position(r, e);
            if (Finite(p) && !TDataExporter::IsRemote(p))
                list.push_back(p);
        }
    return list;
}

// Why a record is left out of the inversion formats; empty when it is kept.
QByteArray Fault(const TDataRecord &r)
{
    if (r.In == 0.0f)
        return "in=0";
    if (!std::isfinite(r.Vp) || !std::isfinite(r.In) || !std::isfinite(r.Rho) || !std::isfinite(r.M))
        return "not-finite";
    if (!(r.Rho > 0.0f))
        return "rho<=0";
    if (TDataExporter::GeometricFactor(r) == 0.0)
        return "no-geometry";
    return {};
}
} // namespace

TDataExporter::TDataExporter(const std::vector<TDataRecord> &records, QString title, TExportOptions options,
                             const TExportQuality &quality)
    : Records(records), Title(std::move(title)), Options(options), Line(LinePositions(records))
{
    for (const TDataRecord &r : Records)
        for (int e = 0; e < 4; ++e) {
            const TPosition p = Position(r, e);
            if (Finite(p))
                (IsRemote(p) ? Remotes : Positions).push_back(p);
        }
    TQualityControl qc(quality.Settings);
    qc.SetBadElectrodes(quality.BadElectrodes);
    for (const TDataRecord &r : Records)
        qc.Add(r);
    for (int i = 0; i < qc.Records(); ++i)
        QcFlags.push_back(qc.FlagsOf(i));
    HasErrorModel = qc.ErrorModel(ErrorA, ErrorB);
    for (auto *list : {&Positions, &Remotes}) {
        std::sort(list->begin(), list->end(), Less);
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
    // Along the line when there is one: the numbers then follow the cable.
    if (Line.IsLine())
        Positions = Line.Ordered();
}

std::optional<TExportFormat> TDataExporter::FormatOf(const QString &name)
{
    for (const TExportFormat f :
         {TExportFormat::Csv, TExportFormat::Unified, TExportFormat::Protocol, TExportFormat::Res2dinv})
        if (NameOf(f) == name)
            return f;
    return std::nullopt;
}

QString TDataExporter::NameOf(TExportFormat format)
{
    switch (format) {
    case TExportFormat::Csv:
        return QStringLiteral("csv");
    case TExportFormat::Unified:
        return QStringLiteral("unified");
    case TExportFormat::Protocol:
        return QStringLiteral("protocol");
    case TExportFormat::Res2dinv:
        return QStringLiteral("res2dinv");
    }
    return {};
}

QString TDataExporter::ExtensionOf(TExportFormat format)
{
    switch (format) {
    case TExportFormat::Csv:
        return QStringLiteral(".csv");
    case TExportFormat::Unified:
        return QStringLiteral(".ohm");
    case TExportFormat::Protocol:
    case TExportFormat::Res2dinv:
        return QStringLiteral(".dat");
    }
    return {};
}

QStringList TDataExporter::FormatNames()
{
    return {QStringLiteral("csv"), QStringLiteral("unified"), QStringLiteral("protocol"), QStringLiteral("res2dinv")};
}

bool TDataExporter::IsRemote(const TPosition &p)
{
    return std::fabs(double(p[0])) >= RemoteMark || std::fabs(double(p[1])) >= RemoteMark;
}

TDataExporter::TPosition TDataExporter::Position(const TDataRecord &r, int electrode)
{
    return {r.Coords[std::size_t(electrode)], r.Coords[std::size_t(4 + electrode)],
            r.Coords[std::size_t(8 + electrode)]};
}

double TDataExporter::GeometricFactor(const TDataRecord &r)
{
    const TPosition a = Position(r, 0), b = Position(r, 1), m = Position(r, 2), n = Position(r, 3);
    if (!Finite(a) || !Finite(b) || !Finite(m) || !Finite(n))
        return 0.0;
    // +1/AM -1/BM -1/AN +1/BN; a term with a remote electrode is 0.
    const auto term = [](const TPosition &p, const TPosition &q) {
        if (IsRemote(p) || IsRemote(q))
            return 0.0;
        const double d = Distance(p, q);
        return d > 0 ? 1.0 / d : 0.0;
    };
    const double g = term(a, m) - term(b, m) - term(a, n) + term(b, n);
    return g != 0 && std::isfinite(g) ? 2.0 * std::numbers::pi / g : 0.0;
}

bool TDataExporter::Usable(const TDataRecord &r)
{
    return Fault(r).isEmpty();
}

QByteArray TDataExporter::Real(double v)
{
    if (!std::isfinite(v))
        return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
    if (v == 0)
        return "0.0";
    // Readers that know only plain decimals (no exponent, a point in every
    // real) read every number written here.
    QByteArray text;
    if (const float f = float(v); double(f) == v) {
        // A stored single-precision value: the shortest decimal that reads
        // back as the same float (10.3, not 10.3000002).
        char buffer[64];
        const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, f, std::chars_format::fixed);
        if (error == std::errc())
            text = QByteArray(buffer, int(end - buffer));
    }
    if (text.isEmpty()) {
        // A computed value: nine significant digits, more than a float holds.
        const int magnitude = int(std::floor(std::log10(std::fabs(v)))) + 1;
        text = QByteArray::number(v, 'f', std::clamp(9 - magnitude, 1, 30));
    }
    if (text.contains('.')) {
        while (text.endsWith('0') && !text.endsWith(".0"))
            text.chop(1);
    } else {
        text += ".0";
    }
    if (text == "-0.0")
        text = "0.0";
    return text;
}

int TDataExporter::Number(const TPosition &p) const
{
    if (IsRemote(p) || !Finite(p))
        return 0;
    if (Line.IsLine())
        return Line.IndexOf(p) + 1;
    const auto it = std::lower_bound(Positions.begin(), Positions.end(), p, Less);
    return int(it - Positions.begin()) + 1;
}

int TDataExporter::ProtocolNumber(const TPosition &p, bool current) const
{
    if (!IsRemote(p))
        return Number(p);
    const auto it = std::lower_bound(Remotes.begin(), Remotes.end(), p, Less);
    const int remote = int(it - Remotes.begin());
    return int(Positions.size()) + 2 * remote + (current ? 1 : 2);
}

void TDataExporter::RequireElectrodes() const
{
    if (Records.empty())
        throw ETarnelError(QStringLiteral("no records to export"));
    if (Positions.empty())
        throw ETarnelError(QStringLiteral(
            "every electrode has |x| or |y| of 99999 m or more, the mark of a remote electrode: "
            "give projected coordinates (UTM) relative to a local origin before exporting"));
}

void TDataExporter::RequireLine(const QString &format) const
{
    if (!Line.IsLine())
        throw ETarnelError(QStringLiteral("the electrodes are not one line (%1): %2 holds a 2-D line only; "
                                          "the unified format keeps 3-D positions")
                               .arg(Line.NotALine(), format));
}

TExportText TDataExporter::Export(TExportFormat format) const
{
    switch (format) {
    case TExportFormat::Csv:
        return Csv();
    case TExportFormat::Unified:
        return Unified();
    case TExportFormat::Protocol:
        return Protocol();
    case TExportFormat::Res2dinv:
        return Res2dinv();
    }
    return {};
}

std::vector<TDataExporter::TColumn> TDataExporter::CsvColumns() const
{
    using R = const TDataRecord &;
    using I = std::size_t;
    std::vector<TColumn> c = {
        {"record", [](R, I i) { return Int(qint64(i)); }},
        {"channel", [](R r, I) { return Int((r.Channel & 0x0F) + 1); }},
        {"channels", [](R r, I) { return Int(r.Channel >> 4); }},
    };
    const char *electrodes[] = {"a", "b", "m", "n"};
    for (int e = 0; e < 4; ++e)
        for (int axis = 0; axis < 3; ++axis)
            c.push_back({QByteArray(electrodes[e]) + '_' + "xyz"[axis] + "_m",
                         [e, axis](R r, I) { return Real(Position(r, e)[std::size_t(axis)]); }});
    const auto real = [&c](const char *name, float TDataRecord::*field) {
        c.push_back({name, [field](R r, I) { return Real(r.*field); }});
    };
    real("sp_mV", &TDataRecord::Sp);
    real("vp_mV", &TDataRecord::Vp);
    real("in_mA", &TDataRecord::In);
    real("rho_ohmm", &TDataRecord::Rho);
    real("m_mVV", &TDataRecord::M);
    real("q_pct", &TDataRecord::Q);
    real("pulse_ms", &TDataRecord::PulseTime);
    real("delay_ms", &TDataRecord::WindowDelay);
    real("vab_V", &TDataRecord::Vab);
    real("tx_battery_V", &TDataRecord::TxBattery);
    real("rx_battery_V", &TDataRecord::RxBattery);
    real("temperature_C", &TDataRecord::Temperature);
    // As stored: ±(degrees × 100 + minutes), north and east positive.
    real("latitude_ddmm", &TDataRecord::Latitude);
    real("longitude_ddmm", &TDataRecord::Longitude);
    c.push_back({"stacks", [](R r, I) { return Int(r.Counter); }});
    real("line_resistance_kohm", &TDataRecord::LineResistance);
    c.push_back({"level_negative", [](R r, I) { return Int((r.Flags & TDataRecord::LevelFlag) ? 1 : 0); }});
    c.push_back({"date", [](R r, I) { return IsoDate(r.Date); }});
    for (std::size_t w = 0; w < 20; ++w)
        c.push_back({"w" + Int(qint64(w) + 1) + "_ms", [w](R r, I) { return Real(r.Windows[w]); }});
    for (std::size_t w = 0; w < 20; ++w)
        c.push_back({"m" + Int(qint64(w) + 1) + "_mVV", [w](R r, I) { return Real(r.Chargeabilities[w]); }});
    real("instrument_value", &TDataRecord::Value); // offset 272
    c.push_back({"flags", [](R r, I) { return Int(r.Flags); }});
    c.push_back({"version", [](R r, I) { return Int(r.Version); }});
    c.push_back({"latitude_deg", [](R r, I) { return Real(Degrees(r.Latitude)); }});
    c.push_back({"longitude_deg", [](R r, I) { return Real(Degrees(r.Longitude)); }});
    c.push_back({"flag", [](R r, I) { return Fault(r); }});
    c.push_back({"qc", [this](R, I i) { return TQualityControl::FlagNames(QcFlags[i]).toLatin1(); }});
    return c;
}

std::vector<TDataExporter::TColumn> TDataExporter::UnifiedColumns() const
{
    using R = const TDataRecord &;
    using I = std::size_t;
    std::vector<TColumn> c;
    const char *electrodes[] = {"a", "b", "m", "n"};
    for (int e = 0; e < 4; ++e)
        c.push_back({electrodes[e], [this, e](R r, I) { return Int(Number(Position(r, e))); }});
    c.push_back({"rhoa", [](R r, I) { return Real(r.Rho); }});
    c.push_back({"r", [](R r, I) { return Real(r.In != 0.0f ? double(r.Vp) / double(r.In) : 0.0); }});
    c.push_back({"k", [](R r, I) { return Real(GeometricFactor(r)); }});
    c.push_back({"i", [](R r, I) { return Real(double(r.In) / 1000.0); }});
    c.push_back({"u", [](R r, I) { return Real(double(r.Vp) / 1000.0); }});
    if (Options.Ip == TIpColumn::Chargeability)
        c.push_back({"ip", [](R r, I) { return Real(r.M); }});
    else if (Options.Ip == TIpColumn::Phase)
        c.push_back({"ip", [factor = Options.PhasePerChargeability](R r, I) { return Real(double(r.M) * factor); }});
    if (HasErrorModel)
        c.push_back({"err", [this](R r, I) {
                         // Relative, as the format reads it; a fit that reaches below zero
                         // for small readings still gives each reading some weight.
                         const double resistance = r.In != 0.0f ? std::abs(double(r.Vp) / double(r.In)) : 0.0;
                         const double absolute = ErrorA + ErrorB * resistance;
                         return Real(resistance > 0 ? std::max(absolute / resistance, 0.001) : 1.0);
                     }});
    return c;
}

TExportText TDataExporter::Csv() const
{
    if (Records.empty())
        throw ETarnelError(QStringLiteral("no records to export"));
    const std::vector<TColumn> columns = CsvColumns();
    QByteArrayList names;
    for (const TColumn &column : columns)
        names << column.Name;
    QByteArray out = names.join(',') + '\n';
    for (std::size_t i = 0; i < Records.size(); ++i) {
        QByteArrayList cells;
        for (const TColumn &column : columns)
            cells << column.Cell(Records[i], i);
        out += cells.join(',') + '\n';
    }
    return {out, qint64(Records.size()), 0};
}

TExportText TDataExporter::Unified() const
{
    RequireElectrodes();
    if (Options.Line)
        RequireLine(QStringLiteral("--line"));
    QByteArray out = Int(qint64(Positions.size())) + " # electrodes, positions in m\n";
    if (Options.Line) {
        out += "# x z\n";
        for (std::size_t i = 0; i < Positions.size(); ++i)
            out += Real(Line.Distances()[i]) + ' ' + Real(Positions[i][2]) + '\n';
    } else {
        out += "# x y z\n";
        for (const TPosition &p : Positions)
            out += Real(p[0]) + ' ' + Real(p[1]) + ' ' + Real(p[2]) + '\n';
    }
    QByteArray note;
    switch (Options.Ip) {
    case TIpColumn::None:
        note = "; ip left out (the chargeability M in mV/V is not a phase)";
        break;
    case TIpColumn::Chargeability:
        note = "; ip holds the chargeability M in mV/V, not a phase in mrad";
        break;
    case TIpColumn::Phase:
        note = "; ip holds a phase in mrad: " + Real(Options.PhasePerChargeability) + " x the chargeability M in mV/V";
        break;
    }
    const std::vector<TColumn> columns = UnifiedColumns();
    QByteArrayList tokens;
    for (const TColumn &column : columns)
        tokens << column.Name;
    if (HasErrorModel)
        note += "; err relative, (" + Real(ErrorA) + " ohm + " + Real(ErrorB) + " |r|) / |r| from the reciprocals";
    out += Int(qint64(Records.size())) + " # data; rhoa in ohm.m, r in ohm, k in m, i in A, u in V" + note + '\n';
    out += "# " + tokens.join(' ') + '\n';
    for (std::size_t i = 0; i < Records.size(); ++i) {
        QByteArrayList cells;
        for (const TColumn &column : columns)
            cells << column.Cell(Records[i], i);
        QByteArray line = cells.join(' ');
        const QByteArray fault = Fault(Records[i]);
        if (!fault.isEmpty())
            line += " # " + fault;
        out += line + '\n';
    }
    out += "0\n";
    return {out, qint64(Records.size()), 0};
}

TExportText TDataExporter::Protocol() const
{
    RequireElectrodes();
    TExportText result;
    QByteArray body;
    for (const TDataRecord &r : Records) {
        if (!Usable(r)) {
            ++result.LeftOut;
            continue;
        }
        const double resistance = double(r.Vp) / double(r.In);
        body += Int(++result.Written);
        for (int e = 0; e < 4; ++e)
            body += ' ' + Int(ProtocolNumber(Position(r, e), e < 2));
        body += ' ' + Real(resistance) + '\n';
    }
    if (result.Written == 0)
        throw ETarnelError(QStringLiteral("no record with a current, a positive Rho and a geometric factor"));
    result.Text = Int(result.Written) + '\n' + body;
    return result;
}

QByteArray TDataExporter::ProtocolElectrodes() const
{
    const bool line = Line.IsLine();
    QByteArray out = line ? "number,x_m,y_m,z_m,distance_m,note\n" : "number,x_m,y_m,z_m,note\n";
    for (std::size_t i = 0; i < Positions.size(); ++i) {
        const TPosition &p = Positions[i];
        out += Int(qint64(i) + 1) + ',' + Real(p[0]) + ',' + Real(p[1]) + ',' + Real(p[2]);
        if (line)
            out += ',' + Real(Line.Distances()[i]);
        out += ",\n";
    }
    for (std::size_t i = 0; i < Remotes.size(); ++i)
        for (const bool current : {true, false}) {
            const TPosition &p = Remotes[i];
            out += Int(ProtocolNumber(p, current)) + ',' + Real(p[0]) + ',' + Real(p[1]) + ',' + Real(p[2]);
            if (line)
                out += ',';
            out += current ? ",remote current electrode\n" : ",remote potential electrode\n";
        }
    return out;
}

TExportText TDataExporter::Res2dinv() const
{
    RequireElectrodes();
    RequireLine(QStringLiteral("Res2DInv"));
    const auto along = [this](const TPosition &p) {
        const int i = Line.IndexOf(p);
        return Real(Line.Distances()[std::size_t(i)]) + ' ' + Real(p[2]);
    };
    TExportText result;
    const bool ip = std::any_of(Records.begin(), Records.end(), [](const TDataRecord &r) { return r.M != 0.0f; });
    QByteArray body;
    for (const TDataRecord &r : Records) {
        if (!Usable(r)) {
            ++result.LeftOut;
            continue;
        }
        // The general array names C1 C2 P1 P2, and with fewer electrodes the
        // missing ones are remote currents first: "3" is C1 P1 P2 and "2" C1
        // P1. A remote potential electrode with two real current electrodes
        // is written through reciprocity (current and potential pairs
        // swapped), which leaves the resistance and Rho as they are.
        std::array<TPosition, 2> current = {Position(r, 0), Position(r, 1)};
        std::array<TPosition, 2> potential = {Position(r, 2), Position(r, 3)};
        const auto remotes = [](const std::array<TPosition, 2> &pair) {
            return int(IsRemote(pair[0])) + int(IsRemote(pair[1]));
        };
        if (remotes(potential) > 0 && remotes(current) == 0)
            std::swap(current, potential);
        QByteArrayList f;
        int count = 0;
        for (const auto *pair : {&current, &potential})
            for (const TPosition &p : *pair)
                if (!IsRemote(p)) {
                    f << along(p);
                    ++count;
                }
        QByteArray line = Int(count) + ' ' + f.join(' ') + ' ' + Real(r.Rho);
        if (ip)
            line += ' ' + Real(r.M);
        body += line + '\n';
        ++result.Written;
    }
    if (result.Written == 0)
        throw ETarnelError(QStringLiteral("no record with a current, a positive Rho and a geometric factor"));

    QString title = Title;
    title.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QByteArray out = title.toLatin1() + '\n';
    out += Real(Line.MinSpacing()) + "\n11\n0\nType of measurement (0=app. resistivity,1=resistance)\n0\n";
    // 2: the x of each electrode is its true horizontal distance along the
    // line (not the distance over the ground), as in the topography list.
    out += Int(result.Written) + "\n2\n" + Int(ip ? 1 : 0) + '\n';
    if (ip) {
        // Time of the chargeability: first window delay and the window total, in seconds.
        const TDataRecord &first = *std::find_if(Records.begin(), Records.end(),
                                                 [](const TDataRecord &r) { return r.M != 0.0f; });
        double total = 0;
        for (const float w : first.Windows)
            total += double(w);
        out += "Chargeability\nmV/V\n" + Real(double(first.WindowDelay) / 1000.0) + ',' + Real(total / 1000.0) + '\n';
    }
    out += body;
    // Topography: distance along the line (true horizontal distances) and elevation.
    out += "Topography in separate list\n2\n" + Int(qint64(Positions.size())) + '\n';
    for (std::size_t i = 0; i < Positions.size(); ++i)
        out += Real(Line.Distances()[i]) + ',' + Real(Positions[i][2]) + '\n';
    out += "1\n0\n0\n0\n0\n";
    result.Text = out;
    return result;
}

namespace {
QString Beside(const QString &dataFile, const QString &suffix)
{
    const QFileInfo info(dataFile);
    const QString dir = info.path() == QLatin1String(".") && !dataFile.startsWith(QLatin1String("./"))
                            ? QString()
                            : info.path() + QLatin1Char('/');
    return dir + info.completeBaseName() + suffix;
}

// Refuses to write over the data file or, without overwrite, over any file.
void CheckTarget(const QString &dataFile, const QString &path, bool overwrite)
{
    if (SameFile(dataFile, path))
        throw ETarnelError(QStringLiteral("%1: this is the data file being exported; choose another output").arg(path));
    if (!overwrite && QFileInfo(path).exists())
        throw ETarnelError(QStringLiteral("%1 already exists (--overwrite replaces it)").arg(path));
}
} // namespace

QString DefaultExportPath(const QString &dataFile, TExportFormat format)
{
    switch (format) {
    case TExportFormat::Protocol:
        return Beside(dataFile, QStringLiteral("_protocol.dat"));
    case TExportFormat::Res2dinv:
        return Beside(dataFile, QStringLiteral("_res2dinv.dat"));
    default:
        return Beside(dataFile, TDataExporter::ExtensionOf(format));
    }
}

QString ElectrodesPathFor(const QString &dataFile, const QString &outPath)
{
    // FILE_protocol.dat gets FILE_electrodes.csv; any other name its own.
    QString path = Beside(outPath == QLatin1String("-") ? dataFile : outPath, QStringLiteral("_electrodes.csv"));
    const QString protocol = QStringLiteral("_protocol_electrodes.csv");
    if (path.endsWith(protocol))
        path.replace(path.size() - protocol.size(), protocol.size(), QStringLiteral("_electrodes.csv"));
    return path;
}

bool SameFile(const QString &a, const QString &b)
{
    struct stat sa {}, sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

TExportResult ExportDataFile(const QString &dataFile, TExportFormat format, const QString &outPath, bool overwrite,
                             const TExportOptions &options, const TExportQuality &quality)
{
    TDataFileReader reader;
    reader.Read(dataFile);
    QString title = QString::fromLatin1(reader.Comment()).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (title.isEmpty())
        title = QFileInfo(dataFile).completeBaseName();
    const bool toStdout = outPath == QLatin1String("-");
    const QString electrodes =
        format == TExportFormat::Protocol ? ElectrodesPathFor(dataFile, outPath) : QString();
    if (!toStdout)
        CheckTarget(dataFile, outPath, overwrite);
    if (!electrodes.isEmpty())
        CheckTarget(dataFile, electrodes, overwrite);

    TExportResult result;
    result.Records = qint64(reader.Records().size());
    result.TornBytes = reader.TornBytes();
    TExportQuality judged = quality;
    const QString table = TResistanceTable::FileFor(dataFile);
    if (judged.BadElectrodes.empty() && QFileInfo::exists(table)) {
        TResistanceTable t;
        if (const QString error = t.Read(table); !error.isEmpty())
            throw ETarnelError(QStringLiteral("%1: %2").arg(table, error));
        judged.BadElectrodes = t.BadPositions();
    }
    const TDataExporter exporter(reader.Records(), title, options, judged);
    TExportText text;
    try {
        text = exporter.Export(format);
    } catch (const ETarnelError &e) {
        throw ETarnelError(QStringLiteral("%1: %2").arg(dataFile, e.Message()));
    }
    result.Written = text.Written;
    result.LeftOut = text.LeftOut;

    if (!electrodes.isEmpty()) {
        const QString error = TSafeFile::Write(electrodes, exporter.ProtocolElectrodes());
        if (!error.isEmpty())
            throw ETarnelError(QStringLiteral("%1: %2").arg(electrodes, error));
        result.ElectrodesPath = electrodes;
    }
    if (toStdout) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly) || out.write(text.Text) != text.Text.size() || !out.flush())
            throw ETarnelError(QStringLiteral("standard output: %1").arg(out.errorString()));
    } else {
        const QString error = TSafeFile::Write(outPath, text.Text);
        if (!error.isEmpty())
            throw ETarnelError(QStringLiteral("%1: %2").arg(outPath, error));
    }
    return result;
}
