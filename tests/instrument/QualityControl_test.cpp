#include "instrument/QualityControl.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TDataRecord Record(float a, float b, float m, float n, float r, float q = 1)
{
    TDataRecord rec;
    rec.Coords = {a, b, m, n, 0, 0, 0, 0, 0, 0, 0, 0};
    rec.In = 100;
    rec.Vp = r * 100;
    rec.Rho = 50;
    rec.Q = q;
    return rec;
}

} // namespace

TEST(QualityControl, FlagsEachFaultOfARecord)
{
    struct Case { const char *name; TDataRecord r; const char *flags; } cases[] = {
        {"good", Record(0, 1, 2, 3, 2), ""},
        {"noisy", Record(0, 1, 2, 3, 2, 9), "high_q"},
        {"no current", [] { auto r = Record(0, 1, 2, 3, 2); r.In = 0.2f; r.Vp = 0.4f; return r; }(), "low_current"},
        {"no voltage", Record(0, 1, 2, 3, 0.00001f), "low_voltage"},
        {"negative", [] { auto r = Record(0, 1, 2, 3, 2); r.Rho = -3; return r; }(), "bad_rho"},
        {"nan q", [] { auto r = Record(0, 1, 2, 3, 2); r.Q = std::nanf(""); return r; }(), "high_q"},
        {"bad electrode", Record(0, 1, 7, 8, 2), "bad_electrode"},
    };
    for (const Case &c : cases) {
        TQualityControl qc;
        qc.SetBadElectrodes({{7, 0, 0}});
        EXPECT_EQ(TQualityControl::FlagNames(qc.Add(c.r)), QString(c.flags)) << c.name;
    }
}

TEST(QualityControl, QMaxZeroLeavesQUnjudged)
{
    // The instrument stacks to its maximum count then: no Q is above the target.
    TQualitySettings s;
    s.MaxQ = 0;
    TQualityControl qc(s);
    EXPECT_EQ(qc.Add(Record(0, 1, 2, 3, 2, 50)), 0u);
}

TEST(QualityControl, PairsReciprocalsByPositionAndFitsTheErrorModel)
{
    TQualityControl qc;
    EXPECT_EQ(qc.Add(Record(0, 1, 2, 3, 2.0f)), 0u);
    EXPECT_EQ(qc.Add(Record(2, 3, 0, 1, 2.02f)), 0u) << "(M,N,A,B): 1 %";
    EXPECT_EQ(qc.Add(Record(0, 1, 4, 5, 1.0f)), 0u);
    EXPECT_EQ(qc.Add(Record(5, 4, 1, 0, 1.2f)), unsigned(TQualityControl::Reciprocal)) << "(N,M,B,A): 18 %";
    EXPECT_EQ(qc.Count(4), 2) << "both readings of the pair";
    ASSERT_EQ(qc.ReciprocalErrors().size(), 2u);
    EXPECT_NEAR(qc.ReciprocalErrors()[0], 100 * 0.02 / 2.01, 1e-4);
    EXPECT_NEAR(qc.ReciprocalErrors()[1], 100 * 0.2 / 1.1, 1e-4);
    double a = 0, b = 0;
    ASSERT_TRUE(qc.ErrorModel(a, b));
    // Two points: the line through (2.01, 0.02) and (1.1, 0.2).
    EXPECT_NEAR(b, (0.02 - 0.2) / (2.01 - 1.1), 1e-4);
    EXPECT_NEAR(a + b * 2.01, 0.02, 1e-4);
    EXPECT_EQ(qc.Flagged(), 2);
    const auto worst = qc.WorstElectrodes(10);
    ASSERT_EQ(worst.size(), 4u);
    EXPECT_EQ(worst[0].second, 2);
}

TEST(QualityControl, Percentile)
{
    EXPECT_EQ(TQualityControl::Percentile({}, 50), 0);
    EXPECT_DOUBLE_EQ(TQualityControl::Percentile({3, 1, 2}, 50), 2);
    EXPECT_DOUBLE_EQ(TQualityControl::Percentile({1, 2, 3, 4}, 50), 2.5);
}
