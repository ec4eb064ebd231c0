#include "instrument/TimeLapse.h"

#include "instrument/DataFileReader.h"
#include "instrument/LineSurvey.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <functional>

namespace {

constexpr double Day0 = 46000.25, Day1 = 46001.25;

// Written and read back through the data file, as the command sees them.
std::vector<TDataRecord> RoundTrip(const QString &path, const std::vector<TDataRecord> &records)
{
    TLineSurvey::Write(path, records);
    TDataFileReader reader;
    reader.Read(path);
    return reader.Records();
}

struct TCase {
    const char *Name;
    std::function<void(const TLineSurvey &, std::vector<TDataRecord> &base, std::vector<TDataRecord> &later)> Change;
    TAlarmSettings Alarm;
    int Paired, LeftOut, Unpaired, Beyond;
    TTimeLapseAlarm::TKind Kind;
    int AlarmCount;
};

void Scale(std::vector<TDataRecord> &records, int index, float factor)
{
    records[std::size_t(index)].Rho *= factor;
}

} // namespace

TEST(TimeLapse, PairsJudgesAndRaisesAlarmsOnlyForAPatch)
{
    const TLineSurvey survey;
    const int total = int(survey.Quads.size());
    TAlarmSettings flaggedLimit;
    flaggedLimit.MaxFlagged = 2;
    const TCase cases[] = {
        {"unchanged ground", [](auto &, auto &, auto &) {}, {}, total, 0, 0, 0, TTimeLapseAlarm::None, 0},
        {"a body halves six neighbouring readings",
         [](const TLineSurvey &s, auto &, auto &later) {
             for (int i = 8; i <= 10; ++i)
                 for (int n = 2; n <= 3; ++n)
                     Scale(later, s.IndexOf(i, n), 0.5f);
         },
         {}, total, 0, 0, 6, TTimeLapseAlarm::Change, 6},
        {"six readings as changed but scattered along the line",
         [](const TLineSurvey &s, auto &, auto &later) {
             for (int k = 0; k < 6; ++k)
                 Scale(later, s.IndexOf(3 * k, 1 + k % 2), 0.5f);
         },
         {}, total, 0, 0, 6, TTimeLapseAlarm::None, 0},
        {"the patch is smaller than MinCount",
         [](const TLineSurvey &s, auto &, auto &later) {
             for (int i = 8; i <= 11; ++i)
                 Scale(later, s.IndexOf(i, 2), 1.5f);
         },
         {}, total, 0, 0, 4, TTimeLapseAlarm::None, 0},
        {"flagged readings in either file are left out, not compared",
         [](const TLineSurvey &s, auto &base, auto &later) {
             base[std::size_t(s.IndexOf(2, 1))].Q = 30;
             later[std::size_t(s.IndexOf(5, 1))].In = 0.01f;
             Scale(later, s.IndexOf(5, 1), 3);
             later[std::size_t(s.IndexOf(6, 1))].Rho = -1;
         },
         {}, total - 3, 3, 0, 0, TTimeLapseAlarm::None, 0},
        {"more flagged readings than MaxFlagged",
         [](const TLineSurvey &s, auto &, auto &later) {
             for (int i = 0; i < 3; ++i)
                 later[std::size_t(s.IndexOf(i, 4))].Q = 30;
         },
         flaggedLimit, total - 3, 3, 0, 0, TTimeLapseAlarm::Flagged, 0},
        {"an electrode moved 2 mm measures other readings; 0.5 mm is the same electrode",
         [](const TLineSurvey &, auto &, auto &later) {
             for (TDataRecord &r : later)
                 for (int e = 0; e < 4; ++e) {
                     if (std::abs(r.Coords[std::size_t(e)] - 12 * TLineSurvey::Dx) < 1e-4f)
                         r.Coords[std::size_t(e)] += 0.002f;
                     if (std::abs(r.Coords[std::size_t(e)] - 3 * TLineSurvey::Dx) < 1e-4f)
                         r.Coords[std::size_t(4 + e)] += 0.0005f;
                 }
         },
         {}, -1, 0, -1, 0, TTimeLapseAlarm::None, 0},
    };
    // Readings using electrode 12 (0-based), which the moved case loses.
    int using12 = 0;
    for (const auto &q : survey.Quads)
        using12 += q.A == 12 || q.B == 12 || q.M == 12 || q.N == 12;

    QTemporaryDir tmp;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        auto base = survey.Records(100, Day0), later = survey.Records(100, Day1);
        c.Change(survey, base, later);
        const TTimeLapse lapse(RoundTrip(tmp.filePath("base.bin"), base));
        const TTimeLapseResult r = lapse.Compare(RoundTrip(tmp.filePath("later.bin"), later), 10);
        EXPECT_EQ(r.Paired, c.Paired >= 0 ? c.Paired : total - using12);
        EXPECT_EQ(r.LeftOut, c.LeftOut);
        EXPECT_EQ(r.Unpaired, c.Unpaired >= 0 ? c.Unpaired : using12);
        EXPECT_EQ(r.BaseUnmatched, r.Unpaired);
        EXPECT_EQ(r.Beyond, c.Beyond);
        EXPECT_EQ(r.Paired + r.LeftOut + r.Unpaired, total) << "every reading accounted for";
        const TTimeLapseAlarm a = lapse.Evaluate(r, c.Alarm);
        EXPECT_EQ(a.Kind, c.Kind);
        EXPECT_EQ(a.Count, c.AlarmCount);
        EXPECT_NEAR(a.Radius, 2.0, 1e-4) << "twice the electrode spacing by default";
    }
}

TEST(TimeLapse, ChangeStatisticsAndPlaceOfEachReading)
{
    const TLineSurvey survey;
    auto base = survey.Records(200, Day0), later = survey.Records(200, Day1);
    const int changed = survey.IndexOf(4, 2);
    later[std::size_t(changed)].Rho = 50;  // -75 %
    later[std::size_t(survey.IndexOf(9, 3))].Rho = 219; // +9.5 %: not beyond 10
    const TTimeLapse lapse(base);
    const TTimeLapseResult r = lapse.Compare(later, 10);
    EXPECT_EQ(r.Beyond, 1);
    EXPECT_NEAR(r.Median, 0, 1e-9);
    EXPECT_NEAR(r.Readings[std::size_t(changed)].Change, -75, 1e-4);
    EXPECT_EQ(TTimeLapse::IsoTime(r.Time), QStringLiteral("2025-12-10T06:00:00"));
    // Electrodes numbered from 1 along the line; x along the line, not the map's x.
    const TTimeLapseReading &first = r.Readings[0];
    EXPECT_EQ(first.Electrodes, (std::array<int, 4>{1, 2, 3, 4}));
    EXPECT_NEAR(first.Along, 1.5, 1e-4);
    EXPECT_NEAR(first.Depth, 0.19 * 3, 1e-4);
    EXPECT_NEAR(r.Readings[std::size_t(changed)].Along, 4 + 1 + 1, 1e-4);
}

TEST(TimeLapse, RepeatedReadingsPairOneToOne)
{
    // A survey measured twice in one file pairs first with first.
    const TLineSurvey survey;
    auto base = survey.Records(100, Day0);
    base.push_back(base[0]);
    base.back().Rho = 200;
    auto later = survey.Records(100, Day1);
    later.push_back(later[0]);
    later.back().Rho = 220;
    later.push_back(later[0]);
    const TTimeLapseResult r = TTimeLapse(base).Compare(later, 15);
    EXPECT_EQ(r.Unpaired, 1);
    EXPECT_EQ(r.Beyond, 0) << "220 against the first reading's 100 would be +120 %";
    EXPECT_NEAR(r.Readings[std::size_t(survey.Quads.size())].Change, 10, 1e-4);
}

TEST(TimeLapse, AlarmSectionIsReadWithItsDefaultsAndRefusesNonsense)
{
    QTemporaryDir tmp;
    const auto read = [&](const char *text, TAlarmSettings &s, QString *error) {
        QFile f(tmp.filePath("a.ini"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        return TAlarmSettings::Read(f.fileName(), s, error);
    };
    TAlarmSettings s;
    QString error;
    ASSERT_TRUE(read("[Name]\r\nx=1\r\n", s, &error));
    EXPECT_EQ(s.MaxChange, 10);
    EXPECT_EQ(s.MinCount, 5);
    EXPECT_FALSE(s.MaxFlagged);
    ASSERT_TRUE(read("[Alarm]\r\nBaseline=base.bin\r\nMaxChange=7,5\r\nMinCount=3\r\nRadius=4\r\nMaxFlagged=20\r\n"
                     "Command=/usr/bin/true\r\n",
                     s, &error));
    EXPECT_EQ(s.Baseline, tmp.filePath("base.bin"));
    EXPECT_EQ(s.MaxChange, 7.5);
    EXPECT_EQ(s.MinCount, 3);
    EXPECT_EQ(s.Radius, 4);
    EXPECT_EQ(s.MaxFlagged, 20);
    EXPECT_EQ(s.Command, QStringLiteral("/usr/bin/true"));
    for (const char *bad : {"[Alarm]\r\nMaxChange=ten\r\n", "[Alarm]\r\nMinCount=0\r\n", "[Alarm]\r\nMinCount=2.5\r\n",
                            "[Alarm]\r\nRadius=-1\r\n"}) {
        error.clear();
        EXPECT_FALSE(read(bad, s, &error)) << bad;
        EXPECT_TRUE(error.contains(QStringLiteral("[Alarm]"))) << bad;
    }
}
