// tarnelpro-cli timelapse on data files written by the program's own writer.
#include "cli/CliFixture.h"
#include "instrument/LineSurvey.h"

#include <QRegularExpression>

namespace {
struct TTimelapseCli : TCliFixture {};
} // namespace

TEST_F(TTimelapseCli, SummarisesEachLaterFileAndRaisesTheAlarmOfAChangedPatch)
{
    const TLineSurvey survey;
    const QString base = Tmp.filePath("base.bin"), same = Tmp.filePath("same.bin"), wet = Tmp.filePath("wet.bin");
    TLineSurvey::Write(base, survey.Records(100, 46000.5));
    TLineSurvey::Write(same, survey.Records(101, 46001.5));
    auto records = survey.Records(100, 46002.5);
    for (int i = 8; i <= 10; ++i)
        for (int n = 2; n <= 3; ++n)
            records[std::size_t(survey.IndexOf(i, n))].Rho = 40;
    records[0].Q = 40; // flagged
    TLineSurvey::Write(wet, records);
    const int total = int(survey.Quads.size());

    const TResult plain = Run({"timelapse", base, same, wet, "--csv", Tmp.filePath("change.csv")});
    ASSERT_EQ(plain.Status, 0) << qPrintable(plain.Err);
    const QStringList lines = plain.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("file same.bin time 2025-12-10T12:00:00 paired %1 left_out 0 median 1.000 "
                                       "p95 1.000 beyond 10 0").arg(total));
    EXPECT_EQ(lines[1], QStringLiteral("file wet.bin time 2025-12-11T12:00:00 paired %1 left_out 1 median 0.000 "
                                       "p95 33.000 beyond 10 6").arg(total - 1));
    QFile csv(Tmp.filePath("change.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    EXPECT_EQ(rows[0], "file,time,a,b,m,n,x_m,depth_m,rho_ohmm,change_pct,status");
    EXPECT_EQ(rows.size(), 1 + 2 * total + 1);
    EXPECT_TRUE(rows[1 + total].startsWith("wet.bin,2025-12-11T12:00:00,1,2,3,4,1.5,0.57,"));
    EXPECT_TRUE(rows[1 + total].endsWith(",,flagged"));

    // The picture of the first later file: every compared reading a cell, both files named.
    const QString svgPath = Tmp.filePath("change.svg");
    ASSERT_EQ(Run({"timelapse", base, wet, same, "--svg", svgPath, "--file", "1"}).Status, 0);
    QFile svg(svgPath);
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    const QString picture = QString::fromUtf8(svg.readAll());
    EXPECT_EQ(picture.count(QStringLiteral("class=\"cell\"")), total - 1);
    EXPECT_TRUE(picture.contains(QStringLiteral("wet.bin (2025-12-11T12:00:00) against base.bin (2025-12-09T12:00:00)")));
    EXPECT_TRUE(picture.contains(QStringLiteral("-60 %</text><text x=\"460\" y=\"402\">0</text><text x=\"640\" y=\"402\">+60 %")))
        << "a symmetric range";
    EXPECT_EQ(Run({"timelapse", base, wet, "--svg", svgPath, "--file", "2"}).Status, 2);

    const TResult alarm = Run({"timelapse", base, same, wet, "--alarms"});
    EXPECT_EQ(alarm.Status, 5) << qPrintable(alarm.Err);
    EXPECT_EQ(alarm.Err.count(QStringLiteral("alarm:")), 1) << qPrintable(alarm.Err);
    EXPECT_TRUE(alarm.Err.contains(QStringLiteral("alarm: wet.bin: 6 readings changed by more than 10 % within 2 m of x 11 m, depth 0.76 m (largest -60 %)")))
        << qPrintable(alarm.Err);

    EXPECT_EQ(Run({"timelapse", base, same, "--alarms"}).Status, 0);
    EXPECT_EQ(Run({"timelapse", base}).Status, 2);
    EXPECT_EQ(Run({"timelapse", base, Tmp.filePath("missing.bin")}).Status, 1);
    EXPECT_EQ(Run({"timelapse", base, same, "--csv", same}).Status, 1) << "a data file is never an output";
}
