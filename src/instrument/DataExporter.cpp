#include "instrument/DataExporter.h"

#include "base/TarnelError.h"
#include "instrument/DataFileReader.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr float RemoteMark = 99999.0f;

QByteArray Real(double v)
{
    // Seven significant digits hold every float32 value; "." whatever the locale.
    if (!std::isfinite(v))
        return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
    return QByteArray::number(v, 'g', 7);
}

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

bool Less(const TDataExporter::TPosition &a, const TDataExporter::TPosition &b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

double Distance(const TDataExporter::TPosition &p, const TDataExporter::TPosition &q)
{
    return std::hypot(double(p[0]) - double(q[0]), double(p[1]) - double(q[1]), double(p[2]) - double(q[2]));
}
} // namespace

TDataExporter::TDataExporter(const std::vector<TDataRecord> &records, QString title)
    : Records(records), Title(std::move(title))
{
    for (const TDataRecord &r : Records)
        for (int e = 0; e < 4; ++e) {
            const TPosition p = Position(r, e);
            (IsRemote(p) ? Remotes : Positions).push_back(p);
        }
    for (auto *list : {&Positions, &Remotes}) {
        std::sort(list->begin(), list->end(), Less);
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
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
    return p[0] >= RemoteMark || p[1] >= RemoteMark;
}

TDataExporter::TPosition TDataExporter::Position(const TDataRecord &r, int electrode)
{
    return {r.Coords[std::size_t(electrode)], r.Coords[std::size_t(4 + electrode)],
            r.Coords[std::size_t(8 + electrode)]};
}

double TDataExporter::GeometricFactor(const TDataRecord &r)
{
    const TPosition a = Position(r, 0), b = Position(r, 1), m = Position(r, 2), n = Position(r, 3);
    double g = 0;
    // +1/AM -1/BM -1/AN +1/BN; a term with a remote electrode is 0.
    const auto term = [](const TPosition &p, const TPosition &q) {
        if (IsRemote(p) || IsRemote(q))
            return 0.0;
        const double d = Distance(p, q);
        return d > 0 ? 1.0 / d : 0.0;
    };
    g = term(a, m) - term(b, m) - term(a, n) + term(b, n);
    return g != 0 && std::isfinite(g) ? 2.0 * std::numbers::pi / g : 0.0;
}

int TDataExporter::Number(const TPosition &p) const
{
    if (IsRemote(p))
        return 0;
    const auto it = std::lower_bound(Positions.begin(), Positions.end(), p, Less);
    return int(it - Positions.begin()) + 1;
}

QByteArray TDataExporter::Export(TExportFormat format) const
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

QByteArray TDataExporter::Csv() const
{
    QByteArray out = "record,channel,channels,a_x,a_y,a_z,b_x,b_y,b_z,m_x,m_y,m_z,n_x,n_y,n_z,sp_mV,vp_mV,in_mA,"
                     "rho_ohmm,m_mVV,q_pct,pulse_ms,delay_ms,vab_V,tx_battery_V,rx_battery_V,temperature_C,"
                     "latitude,longitude,stacks,line_resistance,level_negative,date";
    for (int w = 1; w <= 20; ++w)
        out += ",w" + Int(w) + "_ms";
    for (int w = 1; w <= 20; ++w)
        out += ",m" + Int(w);
    out += ",flag\n";
    qint64 index = 0;
    for (const TDataRecord &r : Records) {
        QByteArrayList f;
        f << Int(index++) << Int((r.Channel & 0x0F) + 1) << Int(r.Channel >> 4);
        for (int e = 0; e < 4; ++e)
            for (const float c : Position(r, e))
                f << Real(c);
        for (const float v : {r.Sp, r.Vp, r.In, r.Rho, r.M, r.Q, r.PulseTime, r.WindowDelay, r.Vab, r.TxBattery,
                              r.RxBattery, r.Temperature, r.Latitude, r.Longitude})
            f << Real(v);
        f << Int(r.Counter) << Real(r.LineResistance) << Int((r.Flags & TDataRecord::LevelFlag) ? 1 : 0)
          << IsoDate(r.Date);
        for (const float w : r.Windows)
            f << Real(w);
        for (const float m : r.Chargeabilities)
            f << Real(m);
        // No current: no resistance can be derived from this record.
        f << (r.In == 0.0f ? QByteArray("in=0") : QByteArray());
        out += f.join(',') + '\n';
    }
    return out;
}

QByteArray TDataExporter::Unified() const
{
    QByteArray out = Int(qint64(Positions.size())) + "\n# x y z\n";
    for (const TPosition &p : Positions)
        out += Real(p[0]) + ' ' + Real(p[1]) + ' ' + Real(p[2]) + '\n';
    out += Int(qint64(Records.size())) + "\n# a b m n rhoa r k i u ip\n";
    for (const TDataRecord &r : Records) {
        const double resistance = r.In != 0.0f ? double(r.Vp) / double(r.In) : 0.0;
        out += Int(Number(Position(r, 0))) + ' ' + Int(Number(Position(r, 1))) + ' ' + Int(Number(Position(r, 2))) +
               ' ' + Int(Number(Position(r, 3))) + ' ' + Real(r.Rho) + ' ' + Real(resistance) + ' ' +
               Real(GeometricFactor(r)) + ' ' + Real(double(r.In) / 1000.0) + ' ' + Real(double(r.Vp) / 1000.0) +
               ' ' + Real(r.M) + '\n';
    }
    out += "0\n";
    return out;
}

QByteArray TDataExporter::Protocol() const
{
    // Remote electrodes follow the others so that every electrode has a number.
    const auto number = [this](const TPosition &p) {
        if (!IsRemote(p))
            return Number(p);
        const auto it = std::lower_bound(Remotes.begin(), Remotes.end(), p, Less);
        return int(Positions.size()) + int(it - Remotes.begin()) + 1;
    };
    QByteArray out = Int(qint64(Records.size())) + '\n';
    qint64 index = 1;
    for (const TDataRecord &r : Records) {
        const double resistance = r.In != 0.0f ? double(r.Vp) / double(r.In) : 0.0;
        out += Int(index++);
        for (int e = 0; e < 4; ++e)
            out += ' ' + Int(number(Position(r, e)));
        out += ' ' + Real(resistance) + '\n';
    }
    return out;
}

QByteArray TDataExporter::Res2dinv() const
{
    const bool ip = std::any_of(Records.begin(), Records.end(), [](const TDataRecord &r) { return r.M != 0.0f; });
    // Smallest distance between two electrodes along the line.
    double spacing = 0;
    for (std::size_t i = 1; i < Positions.size(); ++i) {
        const double d = double(Positions[i][0]) - double(Positions[i - 1][0]);
        if (d > 0 && (spacing == 0 || d < spacing))
            spacing = d;
    }
    if (spacing == 0)
        spacing = 1;
    QString title = Title;
    title.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QByteArray out = title.toLatin1() + '\n';
    out += Real(spacing) + "\n11\n0\nType of measurement (0=app. resistivity,1=resistance)\n0\n";
    out += Int(qint64(Records.size())) + "\n1\n" + Int(ip ? 1 : 0) + '\n';
    if (ip) {
        // Time of the chargeability: first window delay and the window total, in seconds.
        const TDataRecord &first = *std::find_if(Records.begin(), Records.end(),
                                                 [](const TDataRecord &r) { return r.M != 0.0f; });
        double total = 0;
        for (const float w : first.Windows)
            total += double(w);
        out += "Chargeability\nmV/V\n" + Real(double(first.WindowDelay) / 1000.0) + ',' + Real(total / 1000.0) + '\n';
    }
    for (const TDataRecord &r : Records) {
        QByteArrayList f;
        for (int e = 0; e < 4; ++e) {
            const TPosition p = Position(r, e);
            if (!IsRemote(p))
                f << Real(p[0]) << Real(p[2]);
        }
        QByteArray line = Int(f.size() / 2) + ' ' + f.join(' ') + ' ' + Real(r.Rho);
        if (ip)
            line += ' ' + Real(r.M);
        out += line + '\n';
    }
    // Topography as a separate list of the electrodes' (x, z), true distances.
    std::vector<std::array<float, 2>> topo;
    for (const TPosition &p : Positions)
        topo.push_back({p[0], p[2]});
    std::sort(topo.begin(), topo.end());
    topo.erase(std::unique(topo.begin(), topo.end(), [](const auto &a, const auto &b) { return a[0] == b[0]; }),
               topo.end());
    out += "Topography in separate list\n2\n" + Int(qint64(topo.size())) + '\n';
    for (const auto &t : topo)
        out += Real(t[0]) + ',' + Real(t[1]) + '\n';
    out += "1\n0\n0\n0\n0\n";
    return out;
}

QString DefaultExportPath(const QString &dataFile, TExportFormat format)
{
    const QFileInfo info(dataFile);
    const QString dir = info.path() == QLatin1String(".") && !dataFile.startsWith(QLatin1String("./"))
                            ? QString()
                            : info.path() + QLatin1Char('/');
    return dir + info.completeBaseName() + TDataExporter::ExtensionOf(format);
}

TExportResult ExportDataFile(const QString &dataFile, TExportFormat format, const QString &outPath)
{
    TDataFileReader reader;
    reader.Read(dataFile);
    QString title = QString::fromLatin1(reader.Comment()).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (title.isEmpty())
        title = QFileInfo(dataFile).completeBaseName();
    const QByteArray text = TDataExporter(reader.Records(), title).Export(format);
    if (outPath == QLatin1String("-")) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly) || out.write(text) != text.size() || !out.flush())
            throw ETarnelError(QStringLiteral("standard output: %1").arg(out.errorString()));
    } else {
        QSaveFile out(outPath);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
            throw ETarnelError(QStringLiteral("%1: %2").arg(outPath, out.errorString()));
    }
    return {qint64(reader.Records().size()), reader.TornBytes()};
}
