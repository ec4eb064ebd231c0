// tarnelpro-cli timelapse: the change of later acquisitions against a baseline.
#include "base/SafeFile.h"
#include "base/TarnelError.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OptionParser.h"
#include "instrument/ConfigFile.h"
#include "instrument/DataExporter.h"
#include "instrument/DataFileReader.h"
#include "instrument/ResistanceTable.h"
#include "instrument/TimeLapse.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

constexpr const char *TimelapseUsage =
    "usage: tarnelpro-cli timelapse BASE.bin FILE.bin... [--config F.ini] [--csv OUT.csv] [--svg OUT.svg] [--file N] "
    "[--threshold PCT] [--alarms]\n";

// Exit status of a run that raised an alarm.
constexpr int AlarmStatus = 5;

struct TDataSet {
    QString Path;
    std::vector<TDataRecord> Records;
    std::vector<TTimeLapse::TPoint> BadElectrodes;
};

// Reads a data file and the resistance check beside it; nullopt after saying why.
std::optional<TDataSet> Load(const QString &path)
{
    TDataSet set;
    set.Path = path;
    try {
        TDataFileReader reader;
        reader.Read(path);
        if (reader.TornBytes() > 0)
            PrintError(QStringLiteral("tarnelpro-cli timelapse: %1: the last %2 bytes are a partial record and were left out")
                           .arg(path)
                           .arg(reader.TornBytes()));
        set.Records = reader.Records();
    } catch (const ETarnelError &e) {
        PrintError(QStringLiteral("tarnelpro-cli timelapse: %1").arg(e.Message()));
        return std::nullopt;
    }
    if (const QString table = TResistanceTable::FileFor(path); QFileInfo::exists(table)) {
        TResistanceTable resistances;
        if (const QString error = resistances.Read(table); !error.isEmpty()) {
            PrintError(QStringLiteral("tarnelpro-cli timelapse: %1: %2").arg(table, error));
            return std::nullopt;
        }
        set.BadElectrodes = resistances.BadPositions();
    }
    return set;
}

// Places and changes to the thousandth, without the float noise of the positions.
QByteArray Real(double v)
{
    QByteArray text = QByteArray::number(v, 'f', 3);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text == "-0" ? QByteArray("0") : text;
}

// A file name with a comma or a quote stays one field.
QByteArray CsvField(const QString &text)
{
    QByteArray v = text.toUtf8();
    if (!v.contains(',') && !v.contains('"') && !v.contains('\n'))
        return v;
    return '"' + v.replace('"', "\"\"") + '"';
}

QByteArray CsvRows(const QString &name, const TTimeLapseResult &result)
{
    static const char *status[] = {"paired", "flagged", "unpaired"};
    QByteArray out;
    for (const TTimeLapseReading &r : result.Readings) {
        out += CsvField(name) + ',' + TTimeLapse::IsoTime(r.Date).toLatin1();
        for (int e : r.Electrodes)
            out += ',' + QByteArray::number(e);
        out += ',' + Real(r.Along) + ',' + Real(r.Depth) + ',' + TDataExporter::Real(r.Rho) + ',';
        if (r.Status == TTimeLapseReading::Paired)
            out += Real(r.Change);
        out += ',';
        out += status[r.Status];
        out += '\n';
    }
    return out;
}

// Blue for a fall of resistivity (water coming in), red for a rise, white for
// no change; the range is symmetric so that equal colours mean equal changes.
QByteArray Colour(double change, double range)
{
    const double t = std::clamp(change / range, -1.0, 1.0);
    const auto mix = [&](int to) { return int(std::lround(255 + (to - 255) * std::abs(t))); };
    const int r = t < 0 ? mix(33) : 255 - int(std::lround(77 * t)), g = t < 0 ? mix(102) : mix(48),
              b = t < 0 ? 255 - int(std::lround(83 * -t)) : mix(33);
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", r, g, b);
    return text;
}

QByteArray Escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

// The change pseudo-section: one cell per compared reading at its place along
// the line and pseudo-depth, depth growing downwards.
QByteArray ChangeSvg(const TTimeLapseResult &result, double spacing, const QString &caption)
{
    std::vector<const TTimeLapseReading *> cells;
    double range = result.Threshold > 0 ? result.Threshold : 1;
    double x0 = 1e300, x1 = -1e300, d1 = 0;
    for (const TTimeLapseReading &r : result.Readings)
        if (r.Status == TTimeLapseReading::Paired) {
            cells.push_back(&r);
            range = std::max(range, std::abs(r.Change));
            x0 = std::min(x0, r.Along);
            x1 = std::max(x1, r.Along);
            d1 = std::max(d1, r.Depth);
        }
    range = std::ceil(range);
    const double w = spacing > 0 ? spacing / 2 : 1, h = spacing > 0 ? 0.19 * spacing : 0.2;
    if (cells.empty())
        x0 = x1 = 0;
    const double left = x0 - w, width = x1 - x0 + 2 * w, height = d1 + h;
    const double px = 800 / std::max(width, 1e-6), py = 300 / std::max(height, 1e-6);
    QByteArray svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"900\" height=\"420\" "
                     "font-family=\"sans-serif\" font-size=\"13\">\n"
                     "<rect width=\"900\" height=\"420\" fill=\"white\"/>\n<text x=\"50\" y=\"22\">" +
                     Escaped(caption) + "</text>\n";
    for (const TTimeLapseReading *c : cells)
        svg += "<rect class=\"cell\" x=\"" + Real(50 + (c->Along - w / 2 - left) * px) + "\" y=\"" +
               Real(40 + (c->Depth - h / 2) * py) + "\" width=\"" + Real(w * px) + "\" height=\"" +
               Real(h * py) + "\" fill=\"" + Colour(c->Change, range) + "\"><title>" + Real(c->Change) +
               " %</title></rect>\n";
    // The colour bar, -range to +range.
    for (int k = 0; k < 21; ++k)
        svg += "<rect x=\"" + QByteArray::number(250 + 20 * k) + "\" y=\"370\" width=\"20\" height=\"14\" fill=\"" +
               Colour(range * (k - 10) / 10.0, range) + "\"/>\n";
    svg += "<text x=\"250\" y=\"402\">" + Real(-range) + " %</text><text x=\"460\" y=\"402\">0</text>"
           "<text x=\"640\" y=\"402\">+" + Real(range) + " %</text>\n"
           "<text x=\"50\" y=\"360\">x along the line " + Real(x0) + " to " + Real(x1) +
           " m, pseudo-depth down to " + Real(d1) + " m</text>\n</svg>\n";
    return svg;
}

} // namespace

int RunTimelapseCommand(const QStringList &args)
{
    TOptionParser options("timelapse", TimelapseUsage);
    if (!options.Parse(args, {"--config", "--csv", "--threshold", "--svg", "--file"}, {"--alarms"},
                       TOptionParser::AnyCount))
        return 2;
    const QStringList files = options.Positionals();
    const bool alarms = options.Has("--alarms");
    if (files.size() < 2)
        return options.UsageError("a baseline and at least one later data file are needed");

    TConfigValues values;
    TAlarmSettings alarm;
    if (options.Has("--config")) {
        const QString config = options.Value("--config");
        QString error;
        if (!QFileInfo(config).isFile()) {
            PrintError(QStringLiteral("tarnelpro-cli timelapse: %1: no such configuration file").arg(config));
            return 1;
        }
        if (!TConfigFile::Read(config, values, values, &error) || !TAlarmSettings::Read(config, alarm, &error)) {
            PrintError(QStringLiteral("tarnelpro-cli timelapse: %1: %2").arg(config, error));
            return 1;
        }
    }
    double threshold = alarm.MaxChange;
    if (!options.Real("--threshold", threshold, 0, std::numeric_limits<double>::max(), "a percentage of at least 0"))
        return 2;
    const QString csv = options.Value("--csv"), svg = options.Value("--svg");
    for (const QString &f : files)
        for (const QString &out : {csv, svg})
            if (!out.isEmpty() && (out == f || SameFile(out, f))) {
                PrintError(QStringLiteral("tarnelpro-cli timelapse: %1 is one of the data files; nothing was written").arg(out));
                return 1;
            }
    // The later file drawn, 1 for the first after the baseline; the last by default.
    qint64 drawn = files.size() - 1;
    if (!options.Int("--file", drawn, 1, files.size() - 1, "the number of a later file, from 1"))
        return 2;
    if (alarms && !alarm.Baseline.isEmpty() && !SameFile(alarm.Baseline, files.first()))
        PrintError(QStringLiteral("tarnelpro-cli timelapse: the baseline is %1 from the command line, not [Alarm] "
                                  "Baseline %2")
                       .arg(files.first(), alarm.Baseline));

    const auto base = Load(files.first());
    if (!base)
        return 1;
    if (base->Records.empty()) {
        PrintError(QStringLiteral("tarnelpro-cli timelapse: %1 holds no reading").arg(base->Path));
        return 1;
    }
    const TTimeLapse lapse(base->Records, TQualitySettings::FromConfig(values), base->BadElectrodes);

    int status = 0;
    bool raised = false;
    QByteArray rows = "file,time,a,b,m,n,x_m,depth_m,rho_ohmm,change_pct,status\n";
    for (qsizetype i = 1; i < files.size(); ++i) {
        const auto later = Load(files[i]);
        if (!later) {
            status = 1;
            continue;
        }
        const QString name = QFileInfo(later->Path).fileName();
        const TTimeLapseResult result = lapse.Compare(later->Records, threshold, later->BadElectrodes);
        const QString time = TTimeLapse::IsoTime(result.Time);
        std::printf("file %s time %s paired %d left_out %d median %.3f p95 %.3f beyond %g %d\n", qPrintable(name),
                    time.isEmpty() ? "-" : qPrintable(time), result.Paired, result.LeftOut,
                    result.Paired ? result.Median : std::nan(""), result.Paired ? result.P95 : std::nan(""),
                    threshold, result.Beyond);
        std::fflush(stdout);
        if (result.Unpaired > 0 || result.BaseUnmatched > 0)
            PrintError(QStringLiteral("tarnelpro-cli timelapse: %1: %2 readings without a baseline reading at the same "
                                      "electrodes (within 1 mm), %3 baseline readings without a later one")
                           .arg(name)
                           .arg(result.Unpaired)
                           .arg(result.BaseUnmatched));
        if (result.Paired == 0) {
            PrintError(QStringLiteral("tarnelpro-cli timelapse: %1: no reading could be compared with %2")
                           .arg(name, QFileInfo(base->Path).fileName()));
            status = 1;
        }
        rows += CsvRows(name, result);
        if (!svg.isEmpty() && i == drawn) {
            const QString caption = QStringLiteral("Change of Rho (%): %1 (%2) against %3 (%4)")
                                        .arg(name, time, QFileInfo(base->Path).fileName(),
                                             TTimeLapse::IsoTime(base->Records.front().Date));
            if (const QString error = TSafeFile::Write(svg, ChangeSvg(result, lapse.MinSpacing(), caption));
                !error.isEmpty()) {
                PrintError(QStringLiteral("tarnelpro-cli timelapse: %1: %2").arg(svg, error));
                status = 1;
            }
        }
        if (!alarms)
            continue;
        const TTimeLapseAlarm a = lapse.Evaluate(result, alarm);
        if (a.Kind == TTimeLapseAlarm::Change) {
            raised = true;
            PrintError(QStringLiteral("tarnelpro-cli timelapse: alarm: %1: %2 readings changed by more than %3 % within "
                                      "%4 m of x %5 m, depth %6 m (largest %7 %)")
                           .arg(name)
                           .arg(a.Count)
                           .arg(QString::fromLatin1(Real(alarm.MaxChange)), QString::fromLatin1(Real(a.Radius)),
                                QString::fromLatin1(Real(a.X)), QString::fromLatin1(Real(a.Depth)),
                                QString::fromLatin1(Real(a.Largest))));
        } else if (a.Kind == TTimeLapseAlarm::Flagged) {
            raised = true;
            PrintError(QStringLiteral("tarnelpro-cli timelapse: alarm: %1: %2 % of the readings flagged (more than %3 %)")
                           .arg(name, QString::fromLatin1(Real(a.FlaggedPercent)),
                                QString::fromLatin1(Real(*alarm.MaxFlagged))));
        }
    }
    if (!csv.isEmpty()) {
        if (const QString error = TSafeFile::Write(csv, rows); !error.isEmpty()) {
            PrintError(QStringLiteral("tarnelpro-cli timelapse: %1: %2").arg(csv, error));
            status = 1;
        }
    }
    // An alarm is what the caller watches for: it wins over a file that failed.
    return raised ? AlarmStatus : status;
}
