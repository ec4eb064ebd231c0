#include "app/AcquisitionResume.h"
#include "base/TarnelError.h"
#include "instrument/DataFile.h"
#include "survey/Geometry.h"
#include "survey/Sequence.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace {
struct TResumePlanFixture : ::testing::Test {
    QTemporaryDir Tmp;
    std::unique_ptr<TSequence> Survey = std::make_unique<TSequence>();
    QString Path;

    // Two groups of four dipoles and a group of two on a line of 12 nodes.
    void SetUp() override
    {
        Path = Tmp.path() + "/line.bin";
        Survey->NodeCount = 12;
        for (int n = 1; n <= 12; ++n)
            Survey->Nodes[std::size_t(n)] = Node{2.0f * float(n), 0.0f, 0.5f, n};
        const int sizes[] = {4, 4, 2};
        int q = 0;
        for (int g = 0; g < 3; ++g)
            for (int k = 0; k < sizes[g]; ++k, ++q)
                Survey->Quads[std::size_t(q)] = Quadripole{g + 1, g + 2, g + 3 + k, g + 4 + k, 0};
        Survey->QuadCount = q;
    }
    // The first `count` records as a run stores them, plus `torn` bytes.
    void Write(int count, int torn = 0)
    {
        WriteDataFileHeader(Path, "c", QDateTime::currentDateTime());
        std::vector<TDataRecord> records;
        const int sizes[] = {4, 4, 2};
        for (int i = 0, g = 0, k = 0; i < count; ++i) {
            TDataRecord r;
            r.Ten = 10;
            r.Version = 3;
            r.Coords = GetQuadCoords(*Survey, i);
            r.Channel = std::uint8_t(sizes[g] << 4 | k);
            records.push_back(r);
            if (++k == sizes[g])
                k = 0, ++g;
        }
        AppendDataRecords(Path, records);
        QFile f(Path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(QByteArray(torn, '\x7f'));
    }
    qint64 Size() const { return QFileInfo(Path).size(); }
};
} // namespace

TEST_F(TResumePlanFixture, continuesAfterTheLastCompleteGroup)
{
    const struct {
        int records, torn, next;
    } cases[] = {
        {0, 0, 0},   // header only
        {4, 0, 4},   // a whole group
        {6, 0, 4},   // half the second group: measured again
        {7, 200, 4}, // three channels and a torn fourth
        {8, 10, 8},  // torn first record of the last group
        {10, 0, 10}, // all measured: nothing left
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.records) + " records + " + std::to_string(c.torn));
        Write(c.records, c.torn);
        const TAcquisitionResume plan = TAcquisitionResume::Plan(Path, *Survey);
        EXPECT_EQ(plan.NextQuad, c.next);
        EXPECT_EQ(plan.DroppedRecords, c.records - c.next);
        EXPECT_EQ(plan.TornBytes, c.torn);
        EXPECT_EQ(Size(), 1029 + c.records * 304 + c.torn) << "planning changes nothing";
        plan.CutFile(Path);
        EXPECT_EQ(Size(), 1029 + c.next * 304);
    }
    Write(7, 200);
    EXPECT_EQ(TAcquisitionResume::Plan(Path, *Survey).Description(10),
              "Resumed at quadripole 5 / 10 (measured again: 3 record(s) of an incomplete group and a partial record)");
}

TEST_F(TResumePlanFixture, anotherSurveysFileIsRefusedSayingWhere)
{
    Write(8);
    const QByteArray before = [&] {
        QFile f(Path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    Survey->Quads[5].N = 12; // record 6 now disagrees
    try {
        TAcquisitionResume::Plan(Path, *Survey);
        FAIL();
    } catch (const ETarnelError &e) {
        EXPECT_TRUE(e.Message().contains("record 6 (quadripole 6)")) << e.Message().toStdString();
        EXPECT_TRUE(e.Message().contains("N(24, 0, 0.5)")) << e.Message().toStdString();
    }
    Survey->Quads[5].N = 6;
    Survey->QuadCount = 7;
    EXPECT_THROW(TAcquisitionResume::Plan(Path, *Survey), ETarnelError) << "more records than quadripoles";
    QFile f(Path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);

    EXPECT_THROW(TAcquisitionResume::Plan(Tmp.path() + "/none.bin", *Survey), ETarnelError);
}
