// Generated survey lines: geometry of each array, reciprocals that group as
// the forward readings do, and refusal of what the loader would cut.
#include "survey/SequenceGenerator.h"

#include "survey/Geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

static bool operator==(const Quadripole &a, const Quadripole &b)
{
    return std::tie(a.A, a.B, a.M, a.N, a.Level) == std::tie(b.A, b.B, b.M, b.N, b.Level);
}

static void PrintTo(const Quadripole &q, std::ostream *os)
{
    *os << "(" << q.A << "," << q.B << "," << q.M << "," << q.N << ")";
}

namespace {

using TQuads = std::vector<Quadripole>;

TSequenceRequest Request(TArrayKind array, int electrodes)
{
    TSequenceRequest r;
    r.Array = array;
    r.Electrodes = electrodes;
    return r;
}

// The file as the program loads it, on a straight line of 1 m spacing.
std::unique_ptr<TSequence> Loaded(const TQuads &quads)
{
    auto sequence = std::make_unique<TSequence>();
    const TLoadReport report = sequence->ReadQuadripoleText(TSequenceGenerator::FileText(quads));
    EXPECT_FALSE(report.Failed) << qPrintable(report.Error);
    EXPECT_TRUE(report.Ignored.isEmpty()) << qPrintable(report.Ignored.join(QLatin1Char('\n')));
    for (int node = 1; node <= TSequence::MaxNodeNumber; ++node)
        sequence->Nodes[std::size_t(node)] = {float(node), 0.0f, 0.0f, node};
    return sequence;
}

TEST(SequenceGenerator, eachArrayHasItsGeometry)
{
    const auto with = [](TSequenceRequest r, auto change) {
        change(r);
        return r;
    };
    const struct {
        const char *Name;
        TSequenceRequest Request;
        int Sign; // of the geometric factor: dd is written A B M N along the line
        TQuads Expected;
    } cases[] = {
        {"dd, n as far as the line goes", Request(TArrayKind::DipoleDipole, 6), -1,
         {{1, 2, 3, 4, 0}, {1, 2, 4, 5, 0}, {1, 2, 5, 6, 0}, {2, 3, 4, 5, 0}, {2, 3, 5, 6, 0}, {3, 4, 5, 6, 0}}},
        {"dd, two dipole sizes, n up to 2",
         with(Request(TArrayKind::DipoleDipole, 7), [](auto &r) { r.SpacingMax = 2;
                 r.NMax = 2; }), -1,
         {{1, 2, 3, 4, 0}, {1, 2, 4, 5, 0}, {2, 3, 4, 5, 0}, {2, 3, 5, 6, 0}, {3, 4, 5, 6, 0}, {3, 4, 6, 7, 0},
          {4, 5, 6, 7, 0}, {1, 3, 5, 7, 0}}},
        {"dd, n limited by the channels",
         with(Request(TArrayKind::DipoleDipole, 7), [](auto &r) { r.Channels = 2; }), -1,
         {{1, 2, 3, 4, 0}, {1, 2, 4, 5, 0}, {2, 3, 4, 5, 0}, {2, 3, 5, 6, 0}, {3, 4, 5, 6, 0}, {3, 4, 6, 7, 0},
          {4, 5, 6, 7, 0}}},
        {"wenner", Request(TArrayKind::Wenner, 7), 1,
         {{1, 4, 2, 3, 0}, {2, 5, 3, 4, 0}, {3, 6, 4, 5, 0}, {4, 7, 5, 6, 0}, {1, 7, 3, 5, 0}}},
        {"wenner-schlumberger with MN of 1 and 2",
         with(Request(TArrayKind::Schlumberger, 7), [](auto &r) { r.DipoleMax = 2; }), 1,
         {{1, 4, 2, 3, 0}, {2, 5, 3, 4, 0}, {1, 6, 3, 4, 0}, {3, 6, 4, 5, 0}, {2, 7, 4, 5, 0}, {4, 7, 5, 6, 0},
          {1, 7, 3, 5, 0}}},
        {"wenner-schlumberger, n up to 1",
         with(Request(TArrayKind::Schlumberger, 6), [](auto &r) { r.SpacingMax = 1; }), 1,
         {{1, 4, 2, 3, 0}, {2, 5, 3, 4, 0}, {3, 6, 4, 5, 0}}},
        {"gradient", Request(TArrayKind::Gradient, 8), 1,
         {{1, 8, 2, 3, 0}, {1, 8, 3, 4, 0}, {1, 8, 4, 5, 0}, {1, 8, 5, 6, 0}, {1, 8, 6, 7, 0}, {1, 4, 2, 3, 0},
          {4, 7, 5, 6, 0}}},
        {"pole-dipole, both sides of A",
         with(Request(TArrayKind::PoleDipole, 5), [](auto &r) { r.NMax = 2; }), 1,
         {{1, 0, 2, 3, 0}, {1, 0, 3, 4, 0}, {2, 0, 3, 4, 0}, {2, 0, 4, 5, 0}, {3, 0, 4, 5, 0}, {3, 0, 2, 1, 0},
          {4, 0, 3, 2, 0}, {4, 0, 2, 1, 0}, {5, 0, 4, 3, 0}, {5, 0, 3, 2, 0}}},
        {"pole-pole", with(Request(TArrayKind::PolePole, 4), [](auto &r) { r.SpacingMax = 2; }), 1,
         {{1, 0, 2, 0, 0}, {1, 0, 3, 0, 0}, {2, 0, 3, 0, 0}, {2, 0, 4, 0, 0}, {3, 0, 4, 0, 0}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const TSequencePlan plan = TSequenceGenerator(c.Request).Generate();
        ASSERT_TRUE(plan.Error.isEmpty()) << plan.Error.toStdString();
        EXPECT_EQ(plan.Quads, c.Expected);
        // Read back by the program's loader (the remote as node 0); on the line
        // every reading has a geometric factor of the array's sign, never the
        // 1 of a degenerate quadripole.
        const auto loaded = Loaded(plan.Quads);
        ASSERT_EQ(loaded->QuadCount, int(c.Expected.size()));
        for (int q = 0; q < loaded->QuadCount; ++q) {
            EXPECT_EQ(loaded->Quads[std::size_t(q)], c.Expected[std::size_t(q)]);
            EXPECT_GT(c.Sign * GeometricFactor(*loaded, q), 1.5) << q;
        }
    }
}

TEST(SequenceGenerator, readingsAreDistinctAndNonDegenerateWithTheirReciprocals)
{
    const TArrayKind arrays[] = {TArrayKind::DipoleDipole, TArrayKind::Wenner,     TArrayKind::Schlumberger,
                                 TArrayKind::Gradient,     TArrayKind::PoleDipole, TArrayKind::PolePole};
    for (TArrayKind array : arrays)
        for (int electrodes : {4, 13, 32})
            for (int spacing : {1, 3, 40}) {
                TSequenceRequest r = Request(array, electrodes);
                r.SpacingMax = spacing;
                r.Reciprocals = true;
                if (array == TArrayKind::Schlumberger)
                    r.DipoleMax = 3;
                if (array == TArrayKind::DipoleDipole || array == TArrayKind::PoleDipole)
                    r.NMax = 12;
                SCOPED_TRACE(testing::Message() << int(array) << " electrodes " << electrodes << " K " << spacing);
                const TSequencePlan plan = TSequenceGenerator(r).Generate();
                ASSERT_TRUE(plan.Error.isEmpty()) << plan.Error.toStdString();
                const bool remoteB = array == TArrayKind::PoleDipole || array == TArrayKind::PolePole;
                const bool remoteN = array == TArrayKind::PolePole;
                std::set<std::tuple<int, int, int, int>> seen;
                for (std::size_t i = 0; i < plan.Quads.size(); ++i) {
                    const Quadripole &q = plan.Quads[i];
                    // In a reciprocal the remote current electrode becomes the remote potential one.
                    const bool reciprocal = i >= std::size_t(plan.ForwardCount);
                    const int b = reciprocal ? q.N : q.B, n = reciprocal ? q.B : q.N;
                    const int a = reciprocal ? q.M : q.A, m = reciprocal ? q.A : q.M;
                    for (int v : {a, m})
                        EXPECT_TRUE(v >= 1 && v <= electrodes) << testing::PrintToString(q);
                    EXPECT_EQ(b == 0, remoteB) << testing::PrintToString(q);
                    EXPECT_EQ(n == 0, remoteN) << testing::PrintToString(q);
                    const std::vector<int> used = {a, b, m, n};
                    std::vector<int> real;
                    std::copy_if(used.begin(), used.end(), std::back_inserter(real), [](int v) { return v != 0; });
                    std::sort(real.begin(), real.end());
                    EXPECT_EQ(std::adjacent_find(real.begin(), real.end()), real.end()) << testing::PrintToString(q);
                    EXPECT_TRUE(seen.insert({q.A, q.B, q.M, q.N}).second) << "repeated " << testing::PrintToString(q);
                }
                EXPECT_EQ(plan.Quads.size(), 2 * std::size_t(plan.ForwardCount));
                EXPECT_EQ(plan.Forward.Quads, plan.Reciprocal.Quads);
                // Every reading has its reciprocal, whatever the order, with the same
                // geometric factor so that the two compare directly.
                const auto loaded = Loaded(plan.Quads);
                ASSERT_EQ(loaded->QuadCount, int(plan.Quads.size()));
                std::map<std::tuple<int, int, int, int>, double> factor;
                for (int i = 0; i < loaded->QuadCount; ++i) {
                    const Quadripole &q = plan.Quads[std::size_t(i)];
                    factor[{q.A, q.B, q.M, q.N}] = GeometricFactor(*loaded, i);
                }
                for (int i = 0; i < plan.ForwardCount; ++i) {
                    const Quadripole &q = plan.Quads[std::size_t(i)];
                    const auto reciprocal = factor.find({q.M, q.N, q.A, q.B});
                    ASSERT_NE(reciprocal, factor.end()) << testing::PrintToString(q);
                    const double forward = factor[{q.A, q.B, q.M, q.N}];
                    EXPECT_NEAR(reciprocal->second, forward, 1e-9) << testing::PrintToString(q);
                }
            }
}

TEST(SequenceGenerator, reciprocalsOfDipoleDipoleNeedNoMoreGroupsThanTheForwardHalf)
{
    // The line from the field: one injection a group each way.
    TSequenceRequest field = Request(TArrayKind::DipoleDipole, 24);
    field.SpacingMax = 3;
    field.Reciprocals = true;
    const TSequencePlan plan = TSequenceGenerator(field).Generate();
    ASSERT_TRUE(plan.Error.isEmpty());
    EXPECT_EQ(plan.Forward.Groups, 54);
    EXPECT_EQ(plan.Reciprocal.Groups, 54);
    EXPECT_EQ(plan.Total.Groups, 108);
    EXPECT_EQ(plan.Total.Quads, int(plan.Quads.size()));

    const struct {
        int Electrodes, Spacing, Channels, NMax;
    } cases[] = {{12, 1, 5, 5}, {30, 4, 10, 10}, {30, 2, 3, 8}, {48, 6, 7, 20}, {9, 2, 1, 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Electrodes << " electrodes, K " << c.Spacing << ", channels "
                                        << c.Channels << ", n " << c.NMax);
        TSequenceRequest r = Request(TArrayKind::DipoleDipole, c.Electrodes);
        r.SpacingMax = c.Spacing;
        r.Channels = c.Channels;
        r.NMax = c.NMax;
        r.Reciprocals = true;
        const TSequencePlan p = TSequenceGenerator(r).Generate();
        ASSERT_TRUE(p.Error.isEmpty());
        const std::span<const Quadripole> all(p.Quads);
        const int forward = TSequenceGenerator::CountGroups(all.first(std::size_t(p.ForwardCount)), c.Channels);
        const int reciprocal = TSequenceGenerator::CountGroups(all.subspan(std::size_t(p.ForwardCount)), c.Channels);
        EXPECT_EQ(p.Forward.Groups, forward);
        EXPECT_EQ(p.Reciprocal.Groups, reciprocal);
        EXPECT_LE(reciprocal, forward);
    }
}

TEST(SequenceGenerator, refusesWhatTheProgramCannotLoadWhole)
{
    const auto with = [](TSequenceRequest r, auto change) {
        change(r);
        return r;
    };
    const struct {
        const char *Name;
        TSequenceRequest Request;
        const char *Error; // empty: accepted
    } cases[] = {
        {"beyond the node numbers", Request(TArrayKind::DipoleDipole, 2002),
         "2002 electrodes: a survey numbers its electrodes 1 to 2001 at most"},
        {"the last node number", with(Request(TArrayKind::Wenner, 2001), [](auto &r) { r.SpacingMax = 1; }), ""},
        {"too few electrodes", Request(TArrayKind::Wenner, 3), "3 electrodes: a sequence needs at least 4"},
        {"spacing 0", with(Request(TArrayKind::DipoleDipole, 24), [](auto &r) { r.SpacingMax = 0; }),
         "--spacing-max 0: the smallest is 1"},
        {"negative spacing", with(Request(TArrayKind::Wenner, 24), [](auto &r) { r.SpacingMax = -2; }),
         "--spacing-max -2: the smallest is 1"},
        {"n 0", with(Request(TArrayKind::PoleDipole, 24), [](auto &r) { r.NMax = 0; }), "--n-max 0: the smallest is 1"},
        {"n for an array without n", with(Request(TArrayKind::Wenner, 24), [](auto &r) { r.NMax = 3; }),
         "--n-max applies to dd and pole-dipole only, not to wenner"},
        {"dipole size for an array without it",
         with(Request(TArrayKind::DipoleDipole, 24), [](auto &r) { r.DipoleMax = 2; }),
         "--dipole-max applies to schlumberger only, not to dd"},
        {"eleven channels", with(Request(TArrayKind::DipoleDipole, 24), [](auto &r) { r.Channels = 11; }),
         "--channels 11: the instrument measures 1 to 10 channels"},
        {"reciprocals beyond the table",
         with(Request(TArrayKind::Schlumberger, 200), [](auto &r) { r.Reciprocals = true; }),
         "19602 quadripoles (9801 and as many reciprocals), more than the 15998 a quadripole file holds; lower "
         "the spacings or the electrode count"},
        {"the same without reciprocals fits", Request(TArrayKind::Schlumberger, 200), ""},
        {"a long pole-pole line",
         Request(TArrayKind::PolePole, 2001),
         "2001000 quadripoles, more than the 15998 a quadripole file holds; lower the spacings or the electrode "
         "count"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const TSequencePlan plan = TSequenceGenerator(c.Request).Generate();
        EXPECT_EQ(plan.Error, QString::fromLatin1(c.Error));
        if (plan.Error.isEmpty()) {
            const auto loaded = Loaded(plan.Quads);
            EXPECT_EQ(loaded->QuadCount, int(plan.Quads.size())) << "every generated reading is loaded";
            int highest = 0;
            for (const Quadripole &q : plan.Quads)
                highest = std::max({highest, q.A, q.B, q.M, q.N});
            EXPECT_EQ(highest, c.Request.Electrodes);
        } else {
            EXPECT_TRUE(plan.Quads.empty());
        }
    }
}

} // namespace
