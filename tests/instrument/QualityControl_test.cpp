#include "instrument/QualityControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

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
        // M and N on the perpendicular bisector of AB: K infinite, Rho meaningless.
        {"null coupled", [] { auto r = Record(0, 2, 1, 1, 2); r.Coords[6] = -3; r.Coords[7] = 4; r.Rho = -0.1f; return r; }(),
         "no-geometry"},
        {"M = N", [] { auto r = Record(0, 1, 2, 2, 2); r.Rho = 0; return r; }(), "no-geometry"},
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

TEST(QualityControl, PairsReciprocalsByPositionWhateverTheirPolarity)
{
    // The reciprocal of (0,1,2,3) in each wiring; the sign of R follows the
    // wiring, |R| is what the pair compares.
    const struct {
        const char *Name;
        float A, B, M, N, R;
    } cases[] = {{"M,N,A,B", 2, 3, 0, 1, 2.02f},
                 {"N,M,B,A", 3, 2, 1, 0, 2.02f},
                 {"N,M,A,B", 3, 2, 0, 1, -2.02f},
                 {"M,N,B,A", 2, 3, 1, 0, -2.02f}};
    for (const auto &c : cases) {
        TQualityControl qc;
        EXPECT_EQ(qc.Add(Record(0, 1, 2, 3, 2.0f)), 0u);
        EXPECT_EQ(qc.Add(Record(c.A, c.B, c.M, c.N, c.R)), 0u) << c.Name;
        EXPECT_EQ(qc.LastPair(), 0) << c.Name;
        ASSERT_EQ(qc.ReciprocalErrors().size(), 1u) << c.Name;
        EXPECT_NEAR(qc.ReciprocalErrors()[0], 100 * 0.02 / 2.01, 1e-4) << c.Name;
    }

    TQualityControl qc;
    EXPECT_EQ(qc.Add(Record(0, 1, 4, 5, 1.0f)), 0u);
    EXPECT_EQ(qc.Add(Record(5, 4, 1, 0, 1.2f)), unsigned(TQualityControl::Reciprocal)) << "18 %";
    EXPECT_EQ(qc.Count(4), 2) << "both readings of the pair";
    EXPECT_EQ(qc.Flagged(), 2);
    const auto worst = qc.WorstElectrodes(10);
    ASSERT_EQ(worst.size(), 4u);
    EXPECT_EQ(worst[0].second, 2) << "each electrode in both flagged readings";
    EXPECT_FALSE(qc.ResistanceModel().Valid()) << "one pair is no model";
}

TEST(QualityControl, ErrorModelNeverBelowWhatTheReciprocalsShow)
{
    // Readings from 2 ohm down to 0.002 ohm with 0.5 % relative noise and
    // 0.1 mohm of absolute noise: weak readings are the noisy ones in %.
    std::mt19937 random(7);
    std::normal_distribution<double> unit(0.0, 1.0);
    const auto measured = [&](double r) { return r + 1e-4 * unit(random) + 0.005 * r * unit(random); };
    TQualityControl qc;
    struct TPair {
        double R, Error;
    };
    std::vector<TPair> pairs;
    for (int i = 0; i < 1000; ++i) {
        const double r = 2.0 * std::pow(10.0, -3.0 * i / 999.0);
        const double r1 = measured(r), r2 = measured(r);
        const float x = float(i) * 2;
        qc.Add(Record(x, x + 0.5f, x + 0.25f, x + 0.75f, float(r1)));
        // Every other reciprocal wired the other way round.
        qc.Add(i % 2 ? Record(x + 0.25f, x + 0.75f, x, x + 0.5f, float(r2))
                     : Record(x + 0.75f, x + 0.25f, x, x + 0.5f, float(-r2)));
        pairs.push_back({(std::abs(r1) + std::abs(r2)) / 2, std::abs(std::abs(r1) - std::abs(r2)) / ((std::abs(r1) + std::abs(r2)) / 2)});
    }
    ASSERT_EQ(qc.ReciprocalErrors().size(), 1000u);
    const auto model = qc.ResistanceModel();
    ASSERT_TRUE(model.Valid());
    EXPECT_GE(model.Q, 0.0) << "absolute term";
    EXPECT_GE(model.P, 0.0) << "relative term";
    // The test's own bins: 40 of 25 pairs along |R|, narrow enough that the
    // error hardly changes within one.
    std::sort(pairs.begin(), pairs.end(), [](const TPair &a, const TPair &b) { return a.R < b.R; });
    for (std::size_t b = 0; b < 40; ++b) {
        double mean = 0;
        for (std::size_t i = 25 * b; i < 25 * b + 25; ++i)
            mean += pairs[i].Error / 25;
        for (std::size_t i = 25 * b; i < 25 * b + 25; ++i)
            EXPECT_GE(model.Error(pairs[i].R), 0.8 * mean) << "bin " << b << " |R| " << pairs[i].R;
    }
    EXPECT_GT(model.Error(0.002), 5 * model.Error(2.0)) << "weak readings weigh less";
    EXPECT_GE(model.Error(1e6), model.Floor);
}

TEST(QualityControl, ChargeabilityModelOnlyFromPairsThatCarryOne)
{
    TQualityControl qc;
    for (int i = 0; i < 12; ++i) {
        const float x = float(i);
        auto a = Record(x, x + 0.5f, x + 0.25f, x + 0.75f, 1.0f), b = Record(x + 0.25f, x + 0.75f, x, x + 0.5f, 1.01f);
        a.M = 10;
        b.M = i < 6 ? 0.0f : 10.4f; // half the reciprocals measured "Rho only"
        qc.Add(a);
        qc.Add(b);
    }
    const auto m = qc.ChargeabilityModel();
    ASSERT_TRUE(m.Valid());
    int pairs = 0;
    for (const auto &bin : m.Bins)
        pairs += bin.Pairs;
    EXPECT_EQ(pairs, 6);
    EXPECT_NEAR(m.Error(1.0), 0.4, 1e-4);
}

TEST(QualityControl, Percentile)
{
    EXPECT_EQ(TQualityControl::Percentile({}, 50), 0);
    EXPECT_DOUBLE_EQ(TQualityControl::Percentile({3, 1, 2}, 50), 2);
    EXPECT_DOUBLE_EQ(TQualityControl::Percentile({1, 2, 3, 4}, 50), 2.5);
}
