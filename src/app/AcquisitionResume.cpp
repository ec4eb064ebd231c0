#include "app/AcquisitionResume.h"

#include "base/TarnelError.h"
#include "instrument/DataFile.h"
#include "instrument/DataFileReader.h"
#include "survey/Geometry.h"
#include "survey/Sequence.h"

#include <QFile>

namespace {
QString Electrodes(const std::array<float, 12> &c)
{
    QStringList parts;
    const char *names[] = {"A", "B", "M", "N"};
    for (int e = 0; e < 4; ++e)
        parts << QStringLiteral("%1(%2, %3, %4)")
                     .arg(QLatin1String(names[e]))
                     .arg(double(c[std::size_t(e)]))
                     .arg(double(c[std::size_t(4 + e)]))
                     .arg(double(c[std::size_t(8 + e)]));
    return parts.join(QLatin1Char(' '));
}
} // namespace

TAcquisitionResume TAcquisitionResume::Plan(const QString &path, const TSequence &survey)
{
    TDataFileReader reader;
    reader.Read(path);
    const auto &records = reader.Records();
    const qsizetype count = qsizetype(records.size());
    if (count > survey.QuadCount)
        throw ETarnelError(QStringLiteral("%1 holds %2 records, the survey only %3 quadripoles: it is not this "
                                          "survey's data file")
                               .arg(path)
                               .arg(count)
                               .arg(survey.QuadCount));
    for (qsizetype i = 0; i < count; ++i) {
        const ElectrodeCoords expected = GetQuadCoords(survey, int(i));
        if (records[std::size_t(i)].Coords != expected)
            throw ETarnelError(QStringLiteral("%1 differs from the survey at record %2 (quadripole %3): the file has "
                                              "%4, the survey %5")
                                   .arg(path)
                                   .arg(i + 1)
                                   .arg(i + 1)
                                   .arg(Electrodes(records[std::size_t(i)].Coords), Electrodes(expected)));
    }
    TAcquisitionResume plan;
    plan.TornBytes = reader.TornBytes();
    int keep = int(count);
    if (count > 0) {
        // Each record carries its channel index and the channel count of its
        // group; a group missing its last channels is measured again whole.
        const std::uint8_t channel = records.back().Channel;
        const int index = channel & 0x0F, channels = channel >> 4;
        if (index + 1 < channels && index < keep)
            keep -= index + 1;
    }
    plan.DroppedRecords = int(count) - keep;
    plan.NextQuad = keep;
    plan.KeepBytes = qint64(DataHeaderSize) + qint64(keep) * qint64(sizeof(TDataRecord));
    return plan;
}

void TAcquisitionResume::CutFile(const QString &path) const
{
    QFile file(path);
    if (file.size() != KeepBytes && !file.resize(KeepBytes))
        throw ETarnelError(QStringLiteral("%1: %2").arg(path, file.errorString()));
}

QString TAcquisitionResume::Description(int quadCount) const
{
    QString text = QStringLiteral("Resumed at quadripole %1 / %2").arg(NextQuad + 1).arg(quadCount);
    if (DroppedRecords > 0 || TornBytes > 0)
        text += QStringLiteral(" (measured again: %1 record(s) of an incomplete group%2)")
                    .arg(DroppedRecords)
                    .arg(TornBytes > 0 ? QStringLiteral(" and a partial record") : QString());
    return text;
}
