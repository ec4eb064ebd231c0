#include "instrument/DataExporter.h"

#include "base/SafeFile.h"
#include "base/TarnelError.h"
#include "instrument/DataFileReader.h"
#include "instrument/ResistanceTable.h"
#include "survey/Sequence.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cerrno>
#include <fcntl.h>
#include <numbers>
#include <sys/stat.h>
#include <unistd.h>

namespace {
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

// Positions matched to the millimetre, as the quality control pairs them:
// a survey's coordinates and the stored floats may differ in the last bit.
TDataExporter::TPosition Millimetre(const TDataExporter::TPosition &p)
{
    const auto r = [](float v) { return std::round(v * 1000.0f) / 1000.0f; };
    return {r(p[0]), r(p[1]), r(p[2])};
}

// How far out the protocol file puts a remote electrode, in metres.
constexpr double RemoteDistance = 99999.0;

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
    if (TDataExporter::GeometricFactor(r) == 0.0)
        return "no-geometry";
    if (!(r.Rho > 0.0f))
        return "rho<=0";
    return {};
}
} // namespace

TDataExporter::TDataExporter(const std::vector<TDataRecord> &records, QString title, TExportOptions options,
                             const TExportQuality &quality)
    : Records(records), Title(std::move(title)), Options(std::move(options)), Line(LinePositions(records))
{
    for (const TDataRecord &r : Records)
        for (int e = 0; e < 4; ++e) {
            const TPosition p = Position(r, e);
            if (Finite(p) && !IsRemote(p))
                Positions.push_back(p);
            if (Finite(p) && IsRemote(p))
                (e < 2 ? RemoteCurrent : RemotePotential) = 1;
        }
    TQualityControl qc(quality.Settings);
    qc.SetBadElectrodes(quality.BadElectrodes);
    for (const TDataRecord &r : Records)
        qc.Add(r);
    for (int i = 0; i < qc.Records(); ++i)
        QcFlags.push_back(qc.FlagsOf(i));
    RModel = qc.ResistanceModel();
    MModel = qc.ChargeabilityModel();
    std::sort(Positions.begin(), Positions.end(), Less);
    Positions.erase(std::unique(Positions.begin(), Positions.end()), Positions.end());

    for (const auto &[p, number] : Options.Numbers)
        Fields.emplace(Millimetre(p), number);
    Numbered = !Positions.empty() && std::all_of(Positions.begin(), Positions.end(), [this](const TPosition &p) {
        return Fields.count(Millimetre(p)) > 0;
    });
    Orient();
    for (std::size_t i = 0; i < Positions.size(); ++i)
        Index[Positions[i]] = int(i);
    // The remote electrodes follow the line's own, numbers without a gap.
    const int n = int(Positions.size());
    if (RemoteCurrent)
        RemoteCurrent = n + 1;
    if (RemotePotential)
        RemotePotential = n + 1 + (RemoteCurrent ? 1 : 0);
}

void TDataExporter::Orient()
{
    if (!Line.IsLine()) {
        // No line to run along: the survey's numbers, else x, y, z.
        if (Numbered)
            std::stable_sort(Positions.begin(), Positions.end(), [this](const TPosition &a, const TPosition &b) {
                return FieldNumber(a) < FieldNumber(b);
            });
        if (Options.Reverse)
            std::reverse(Positions.begin(), Positions.end());
        return;
    }
    bool reverse = false;
    const std::vector<TPosition> &order = Line.Ordered();
    const int last = int(order.size()) - 1;
    if (Numbered && last > 0) {
        // The end where the survey's lowest number stands comes first.
        const auto byNumber = [this](const TPosition &a, const TPosition &b) { return FieldNumber(a) < FieldNumber(b); };
        const auto low = std::min_element(order.begin(), order.end(), byNumber);
        const auto high = std::max_element(order.begin(), order.end(), byNumber);
        reverse = low > high;
    } else if (last > 0) {
        // Without numbers, the records' order is the survey's: the end nearest
        // the first electrode measured that is not at the middle.
        bool decided = false;
        for (const TDataRecord &r : Records) {
            for (int e = 0; e < 4 && !decided; ++e) {
                const int i = Line.IndexOf(Position(r, e));
                if (i < 0 || 2 * i == last)
                    continue;
                reverse = 2 * i > last;
                decided = true;
            }
            if (decided)
                break;
        }
        FirstRecordOrdered = decided;
    }
    if (reverse != Options.Reverse)
        Line.Reverse();
    Positions = Line.Ordered();
}

int TDataExporter::FieldNumber(const TPosition &p) const
{
    const auto it = Fields.find(Millimetre(p));
    return it != Fields.end() ? it->second : -1;
}

QString TDataExporter::Numbering() const
{
    const QString turned = Options.Reverse ? QStringLiteral(", reversed") : QString();
    if (Numbered)
        return QStringLiteral("electrodes numbered by the field numbers of %1%2")
            .arg(Options.NumbersFrom.isEmpty() ? QStringLiteral("the survey") : Options.NumbersFrom, turned);
    if (Line.IsLine() && FirstRecordOrdered)
        return QStringLiteral("electrodes numbered from the end of the line nearest the first measured "
                              "quadripole%1 (no survey names every electrode)")
            .arg(turned);
    return QStringLiteral("electrodes numbered by x, y, z%1 (no survey names every electrode)").arg(turned);
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
    return TQualityControl::IsRemote(p);
}

TDataExporter::TPosition TDataExporter::Position(const TDataRecord &r, int electrode)
{
    return {r.Coords[std::size_t(electrode)], r.Coords[std::size_t(4 + electrode)],
            r.Coords[std::size_t(8 + electrode)]};
}

double TDataExporter::GeometricFactor(const TDataRecord &r)
{
    return TQualityControl::GeometricFactor(r);
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
    const auto it = Index.find(p);
    return it != Index.end() ? it->second + 1 : 0;
}

int TDataExporter::ProtocolNumber(const TPosition &p, bool current) const
{
    if (!IsRemote(p))
        return Number(p);
    return current ? RemoteCurrent : RemotePotential;
}

TDataExporter::TPosition TDataExporter::RemotePlace(bool current, double *distance) const
{
    const double sign = current ? -1.0 : 1.0;
    if (Line.IsLine() && Positions.size() > 1) {
        // On the line's extension: the direction from the first electrode to
        // the last, RemoteDistance before the first or past the last.
        const TPosition &a = Positions.front(), &b = Positions.back();
        const double dx = double(b[0]) - double(a[0]), dy = double(b[1]) - double(a[1]);
        const double length = std::hypot(dx, dy);
        const double along = current ? -RemoteDistance : Line.Distances().back() + RemoteDistance;
        if (distance)
            *distance = along;
        const TPosition &from = current ? a : b;
        const double beyond = current ? -RemoteDistance : RemoteDistance;
        return {float(double(from[0]) + beyond * dx / length), float(double(from[1]) + beyond * dy / length), from[2]};
    }
    double cx = 0, cy = 0, cz = 0;
    for (const TPosition &p : Positions) {
        cx += double(p[0]);
        cy += double(p[1]);
        cz += double(p[2]);
    }
    const double n = std::max<double>(1.0, double(Positions.size()));
    if (distance)
        *distance = sign * RemoteDistance;
    return {float(cx / n + sign * RemoteDistance), float(cy / n), float(cz / n)};
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
    // The field numbers when a survey or the resistance table names the
    // electrode; empty otherwise.
    for (int e = 0; e < 4; ++e)
        c.push_back({QByteArray(electrodes[e]) + "_electrode", [this, e](R r, I) {
                         const int n = FieldNumber(Position(r, e));
                         return n >= 0 ? Int(n) : QByteArray();
                     }});
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
    // The instrument's count at bytes 250-251 numbers the groups measured;
    // the record holds no count of stacks.
    c.push_back({"group_counter", [](R r, I) { return Int(r.Counter); }});
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
    if (RModel.Valid())
        c.push_back({"err", [this](R r, I) {
                         // Relative, as the format reads it.
                         const double resistance = r.In != 0.0f ? std::abs(double(r.Vp) / double(r.In)) : 0.0;
                         return Real(resistance > 0 && std::isfinite(resistance) ? RModel.Error(resistance) : 1.0);
                     }});
    if (MModel.Valid() && Options.Ip != TIpColumn::None)
        c.push_back({"iperr", [this](R r, I) {
                         // Absolute, in the ip column's unit.
                         const double resistance = r.In != 0.0f ? std::abs(double(r.Vp) / double(r.In)) : 0.0;
                         const double factor = Options.Ip == TIpColumn::Phase ? Options.PhasePerChargeability : 1.0;
                         return Real(factor * MModel.Error(std::isfinite(resistance) ? resistance : 0.0));
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
    return {out, qint64(Records.size()), 0, {}};
}

TExportText TDataExporter::Unified() const
{
    RequireElectrodes();
    if (Options.Line)
        RequireLine(QStringLiteral("--line"));
    QByteArray out = Int(qint64(Positions.size())) + " # electrodes, positions in m\n";
    // The field number follows each position as a comment.
    const auto field = [this](const TPosition &p) {
        const int n = FieldNumber(p);
        return n >= 0 ? " # electrode " + Int(n) : QByteArray();
    };
    if (Options.Line) {
        out += "# x z\n";
        for (std::size_t i = 0; i < Positions.size(); ++i)
            out += Real(Line.Distances()[i]) + ' ' + Real(Positions[i][2]) + field(Positions[i]) + '\n';
    } else {
        out += "# x y z\n";
        for (const TPosition &p : Positions)
            out += Real(p[0]) + ' ' + Real(p[1]) + ' ' + Real(p[2]) + field(p) + '\n';
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
    if (RModel.Valid())
        note += "; err relative from the reciprocals, the larger of (" + Real(RModel.Q) + " ohm + " + Real(RModel.P) +
                " |r|) / |r|, the mean of its |r| bin and " + Real(RModel.Floor);
    if (MModel.Valid() && Options.Ip != TIpColumn::None)
        note += "; iperr absolute from the reciprocals";
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
    return {out, qint64(Records.size()), 0, {}};
}

TExportText TDataExporter::Protocol() const
{
    RequireElectrodes();
    // A line is numbered along it; anything else takes the 3-D layout, a
    // string number before each electrode number. The electrodes are one
    // string numbered as the list of electrodes is; the string says nothing
    // about cables.
    const QByteArray before = Line.IsLine() ? QByteArray(" ") : QByteArray(" 1 ");
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
            body += before + Int(ProtocolNumber(Position(r, e), e < 2));
        body += ' ' + Real(resistance) + '\n';
    }
    if (result.Written == 0)
        throw ETarnelError(QStringLiteral("no record with a current, a positive Rho and a geometric factor"));
    result.Text = Int(result.Written) + '\n' + body;
    result.Electrodes = ProtocolElectrodes();
    return result;
}

QByteArray TDataExporter::ProtocolElectrodes() const
{
    // The columns the R2 tools read: label (what the protocol file's
    // electrode columns hold), x, y, z and remote; then the distance along a
    // line and the field electrode number (empty when unknown).
    const bool line = Line.IsLine();
    const auto label = [line](int number) { return line ? Int(number) : "1 " + Int(number); };
    QByteArray out = line ? "label,x,y,z,remote,distance,electrode\n" : "label,x,y,z,remote,electrode\n";
    for (std::size_t i = 0; i < Positions.size(); ++i) {
        const TPosition &p = Positions[i];
        out += label(int(i) + 1) + ',' + Real(p[0]) + ',' + Real(p[1]) + ',' + Real(p[2]) + ",0";
        if (line)
            out += ',' + Real(Line.Distances()[i]);
        const int field = FieldNumber(p);
        out += ',' + (field >= 0 ? Int(field) : QByteArray()) + '\n';
    }
    for (const bool current : {true, false}) {
        const int number = current ? RemoteCurrent : RemotePotential;
        if (number == 0)
            continue;
        double distance = 0;
        const TPosition p = RemotePlace(current, &distance);
        out += label(number) + ',' + Real(double(p[0])) + ',' + Real(double(p[1])) + ',' + Real(double(p[2])) + ",1";
        if (line)
            out += ',' + Real(distance);
        // The survey's remote electrode is node 0 when a survey names it.
        const int field = Numbered ? 0 : -1;
        out += ',' + (field >= 0 ? Int(field) : QByteArray()) + '\n';
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
    // IP only when a usable record carries a chargeability measured over IP
    // windows: a "Rho only" record declares none.
    const auto chargeable = [](const TDataRecord &r) {
        return Usable(r) && r.M != 0.0f &&
               std::any_of(r.Windows.begin(), r.Windows.end(), [](float w) { return w > 0.0f; });
    };
    const bool ip = std::any_of(Records.begin(), Records.end(), chargeable);
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
        const TDataRecord &first = *std::find_if(Records.begin(), Records.end(), chargeable);
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
        throw ETarnelError(TErrorKind::File,
                           QStringLiteral("%1: this is the data file being exported; choose another output").arg(path));
    if (!overwrite && QFileInfo(path).exists())
        throw ETarnelError(TErrorKind::File, QStringLiteral("%1 already exists (--overwrite replaces it)").arg(path));
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

std::vector<std::pair<std::array<float, 3>, int>> FieldNumbersOf(const TSequence &survey)
{
    std::vector<std::pair<std::array<float, 3>, int>> numbers;
    Node node {};
    for (int n = -1; survey.NextDefinedNode(n, node);)
        numbers.push_back({{node.X, node.Y, node.Z}, n});
    return numbers;
}

namespace {
// Writes files that belong together (a protocol file and its electrode list):
// each goes whole and synced to a staging file beside its target first, and
// only when every one is complete are they renamed over their targets, so a
// full disk leaves each target as it was. Returns "<path>: <reason>" of the
// file that failed, empty on success.
QString WriteTogether(const std::vector<std::pair<QString, QByteArray>> &files)
{
    struct TStaged {
        QString Target, Staging;
    };
    std::vector<TStaged> staged;
    const auto discard = [&staged] {
        for (const TStaged &s : staged)
            if (!s.Staging.isEmpty())
                QFile::remove(s.Staging);
    };
    for (const auto &[path, bytes] : files) {
        // The file a symbolic link names is replaced, as the safe writer does.
        const QFileInfo info(path);
        const QString target = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
        struct stat st {};
        const bool exists = ::stat(QFile::encodeName(target).constData(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode)) {
            discard();
            return QStringLiteral("%1: %2").arg(path, qt_error_string(EISDIR));
        }
        if (exists && !S_ISREG(st.st_mode)) { // a device: written in place when the others are staged
            staged.push_back({target, QString()});
            continue;
        }
        if (exists && (st.st_mode & 0222) == 0) {
            discard();
            return QStringLiteral("%1: the file is read-only").arg(path);
        }
        QByteArray name = QFile::encodeName(QFileInfo(target).absolutePath()) + "/.tarnelpro-" +
                          QByteArray::number(qint64(::getpid())) + "-XXXXXX";
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            discard();
            return QStringLiteral("%1: %2").arg(path, qt_error_string(error));
        }
        ::close(fd);
        staged.push_back({target, QFile::decodeName(name)});
        // The safe writer keeps the staging file's permissions: the target's,
        // or the usual ones for a new file (mkstemp makes it private).
        mode_t mode = st.st_mode & 07777;
        if (!exists) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::chmod(name.constData(), mode);
        if (const QString error = TSafeFile::Write(staged.back().Staging, bytes); !error.isEmpty()) {
            discard();
            return QStringLiteral("%1: %2").arg(path, error);
        }
    }
    for (std::size_t i = 0; i < staged.size(); ++i) {
        const TStaged &s = staged[i];
        QString error;
        if (s.Staging.isEmpty())
            error = TSafeFile::Write(s.Target, files[i].second);
        else if (::rename(QFile::encodeName(s.Staging).constData(), QFile::encodeName(s.Target).constData()) != 0)
            error = qt_error_string(errno);
        if (!error.isEmpty()) {
            for (std::size_t j = i; j < staged.size(); ++j)
                if (!staged[j].Staging.isEmpty())
                    QFile::remove(staged[j].Staging);
            return QStringLiteral("%1: %2").arg(files[i].first, error);
        }
    }
    return {};
}
} // namespace

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
    TExportOptions numbered = options;
    const QString table = TResistanceTable::FileFor(dataFile);
    if (QFileInfo::exists(table)) {
        // A damaged table costs the bad_electrode judgement, not the export.
        TResistanceTable t;
        if (const QString error = t.Read(table); !error.isEmpty()) {
            result.Warning = QStringLiteral("%1: %2; exported without bad_electrode").arg(table, error);
        } else {
            if (judged.BadElectrodes.empty())
                judged.BadElectrodes = t.BadPositions();
            // The check names the electrodes too: their numbers when no
            // survey was given.
            if (numbered.Numbers.empty()) {
                for (const TElectrodeHealth &e : t.Electrodes)
                    numbered.Numbers.push_back({{float(e.X), float(e.Y), float(e.Z)}, e.Number});
                numbered.NumbersFrom = QFileInfo(table).fileName();
            }
        }
    }
    const TDataExporter exporter(reader.Records(), title, numbered, judged);
    TExportText text;
    try {
        text = exporter.Export(format);
    } catch (const ETarnelError &e) {
        throw ETarnelError(e.Kind(), QStringLiteral("%1: %2").arg(dataFile, e.Message()));
    }
    result.Written = text.Written;
    result.LeftOut = text.LeftOut;
    if (format != TExportFormat::Csv)
        result.Numbering = exporter.Numbering();

    if (toStdout) {
        if (!electrodes.isEmpty()) {
            if (const QString error = TSafeFile::Write(electrodes, text.Electrodes); !error.isEmpty())
                throw ETarnelError(TErrorKind::File, QStringLiteral("%1: %2").arg(electrodes, error));
            result.ElectrodesPath = electrodes;
        }
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly) || out.write(text.Text) != text.Text.size() || !out.flush())
            throw ETarnelError(TErrorKind::File, QStringLiteral("standard output: %1").arg(out.errorString()));
    } else if (!electrodes.isEmpty()) {
        // The protocol file and its electrode list are one: both or neither.
        if (const QString error = WriteTogether({{outPath, text.Text}, {electrodes, text.Electrodes}}); !error.isEmpty())
            throw ETarnelError(TErrorKind::File, QStringLiteral("%1 and %2 not written, both left as they were: %3")
                                   .arg(outPath, electrodes, error));
        result.ElectrodesPath = electrodes;
    } else {
        const QString error = TSafeFile::Write(outPath, text.Text);
        if (!error.isEmpty())
            throw ETarnelError(TErrorKind::File, QStringLiteral("%1: %2").arg(outPath, error));
    }
    return result;
}
