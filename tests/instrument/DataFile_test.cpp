#include "base/TarnelError.h"
#include "instrument/DataFile.h"
#include "instrument/VoltixProGen.h"
#include "instrument/Wire.h"
#include "support/FakeClock.h"
#include "support/ScriptedUi.h"
#include "support/SmallFs.h"
#include "survey/Geometry.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstring>

namespace {
const QDateTime When(QDate(2026, 12, 9), QTime(14, 5, 31));

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct TDataFileFixture : ::testing::Test {
    QTemporaryDir Tmp;
    TScriptedUi Ui;
    TFakeClock Clock;
    std::unique_ptr<TVoltixPro> Model = std::make_unique<TVoltixPro>(Ui, Clock);
    QString Path;

    void SetUp() override
    {
        Path = Tmp.path() + "/Tarnel.bin";
        Model->Now = [] { return When; };
        // A Wenner line: nodes 1..4 every 5 m, quadripole A=1 B=4 M=2 N=3.
        Model->NodeCount = 4;
        for (int n = 1; n <= 4; ++n)
            Model->Nodes[std::size_t(n)] = Node{5.0f * float(n - 1), 0.0f, 0.0f, n};
        Model->QuadCount = 2;
        Model->Quads[0] = Quadripole{1, 4, 2, 3, 0};
        Model->Quads[1] = Quadripole{1, 4, 2, 3, -1};
    }

    // A channel record with the given In and Vp.
    static std::vector<std::uint8_t> Channel(const TGenerationTable &gen, float vp, float in)
    {
        std::vector<std::uint8_t> r(std::size_t(gen.RecordSize), 0);
        r[0] = 0x21;
        r[1] = 0x02 | 0x08 | 0x40;
        PutLE<std::uint16_t>(r, 2, 17);
        PutLE<std::uint16_t>(r, 12, 200);
        PutLE<std::uint16_t>(r, 16, 24);
        for (int w = 0; w < 20; ++w)
            PutLE<std::uint16_t>(r, 18 + 2 * w, std::uint16_t(w + 1));
        PutLE<float>(r, gen.OffVp, vp);
        PutLE<float>(r, gen.OffIn, in);
        PutLE<float>(r, gen.OffSp, -3.5f);
        PutLE<float>(r, gen.OffValue, 99.0f);
        if (gen.OffTxBattery >= 0)
            PutLE<float>(r, gen.OffTxBattery, 12.6f);
        return r;
    }
};
} // namespace

TEST_F(TDataFileFixture, headerHoldsMagicDateLineCommentAndZeros)
{
    const QByteArray dateLine = "2026-12-09 14:05:31\r\n";
    // One date format whatever the locale: others wrote characters an 8-bit
    // reader cannot show (ja_JP) or a two-digit year (de_DE).
    const QLocale before;
    for (const char *name : {"ja_JP", "de_DE", "ar_EG", "en_US", "fr_FR"}) {
        SCOPED_TRACE(name);
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        EXPECT_EQ(DataFileHeader({}, When).mid(5, dateLine.size()), dateLine);
    }
    QLocale::setDefault(before);

    const QByteArray empty = DataFileHeader({}, When);
    ASSERT_EQ(empty.size(), 1029);
    EXPECT_EQ(empty.left(5), QByteArray("\x02\x00\x00\x80\x09", 5));
    EXPECT_EQ(empty.mid(5, dateLine.size()), dateLine);
    EXPECT_EQ(empty.mid(5 + dateLine.size()), QByteArray(1029 - 5 - dateLine.size(), '\0'));

    const QByteArray withComment = DataFileHeader("Line 3, \xE9t\xE9", When);
    EXPECT_EQ(withComment.mid(5 + dateLine.size(), 13), QByteArray("Line 3, \xE9t\xE9\0", 13));

    // A comment too long for the block is cut so its terminating 0 stays inside.
    const QByteArray huge = DataFileHeader(QByteArray(2000, 'x'), When);
    ASSERT_EQ(huge.size(), 1029);
    EXPECT_EQ(huge[1028], '\0');
    EXPECT_EQ(huge[1027], 'x');
}

TEST_F(TDataFileFixture, rhoUsesTheGeometricFactorWithEachGenerationsCurrentThreshold)
{
    const double k = GeometricFactor(*Model, 0);
    ASSERT_NEAR(k, 2 * 3.14159265 * 5.0, 1e-3) << "Wenner a = 5 m";
    const struct {
        const TGenerationTable *gen;
        float in;
        bool lowCurrent;
        float storedIn;
        bool hasRho;
    } cases[] = {
        {&Generation2, 100.0f, false, 100.0f, true},
        {&Generation2, 0.00005f, false, 0.00005f, false},
        {&Generation2, 250.0f, true, 2.5f, true},
        {&Generation1, 0.00005f, false, 0.00005f, true},
        {&Generation1, 250.0f, true, 250.0f, true}, // no low-current scaling in generation 1
        {&Generation1, 0.0f, false, 0.0f, false},
    };
    for (const auto &c : cases) {
        TDataRecord out;
        const auto ch = Channel(*c.gen, 40.0f, c.in);
        ConvertChannelRecord(*c.gen, ch, *Model, 0, c.lowCurrent, 46365.5, out);
        EXPECT_FLOAT_EQ(out.In, c.storedIn) << c.gen->Generation << " " << c.in;
        if (c.hasRho)
            EXPECT_FLOAT_EQ(out.Rho, float(k * 40.0 / double(c.storedIn))) << c.gen->Generation << " " << c.in;
        else
            EXPECT_EQ(out.Rho, 0.0f) << c.gen->Generation << " " << c.in;
    }
}

TEST_F(TDataFileFixture, recordFieldsComeFromTheChannelAndTheSurvey)
{
    Model->LineResistance[2] = 1.25f;
    Model->LineResistance[3] = 2.0f;
    TDataRecord out;
    ConvertChannelRecord(Generation2, Channel(Generation2, 40.0f, 100.0f), *Model, 1, false, 46365.5, out);
    EXPECT_EQ(out.Ten, 10);
    EXPECT_EQ(out.Version, 3);
    EXPECT_EQ(out.One, 1);
    EXPECT_EQ(out.PulseTime, 2000.0f);
    EXPECT_EQ(out.WindowDelay, 240.0f);
    EXPECT_EQ(out.Windows[0], 10.0f);
    EXPECT_EQ(out.Windows[19], 200.0f);
    EXPECT_EQ(out.Sp, -3.5f);
    EXPECT_EQ(out.Channel, 0x21);
    EXPECT_EQ(out.Flags, 0x02 | 0x08 | 0x40) << "negative Level sets bit 3, other bits from the channel";
    EXPECT_EQ(out.Counter, 17);
    EXPECT_EQ(out.Value, 99.0f);
    EXPECT_EQ(out.LineResistance, 3.25f);
    EXPECT_EQ(out.TxBattery, 12.6f);
    EXPECT_EQ(out.Date, 46365.5);
    EXPECT_EQ(out.Coords[0], 0.0f);  // X of A
    EXPECT_EQ(out.Coords[1], 15.0f); // X of B

    // Level 0 clears bit 3 even when the instrument set it.
    ConvertChannelRecord(Generation2, Channel(Generation2, 40.0f, 100.0f), *Model, 0, false, 0, out);
    EXPECT_EQ(out.Flags, 0x02 | 0x40);

    // Generation 1 leaves the instrument-state fields of the caller's record alone.
    TDataRecord fresh;
    fresh.TxBattery = 7.0f;
    ConvertChannelRecord(Generation1, Channel(Generation1, 40.0f, 100.0f), *Model, 0, false, 46365.5, fresh);
    EXPECT_EQ(fresh.Version, 2);
    EXPECT_EQ(fresh.TxBattery, 7.0f);
    EXPECT_EQ(fresh.Date, 0.0);
}

TEST_F(TDataFileFixture, tenRecordsAppendedAfterTheHeader)
{
    Model->ChooseProtocol(TypeCodeV2);
    auto &gen = static_cast<TVoltixProGen &>(Model->Protocol());
    for (int k = 0; k < 10; ++k) {
        const auto ch = Channel(Generation2, 10.0f * float(k + 1), 100.0f);
        std::memcpy(gen.ChannelRecord(k).data(), ch.data(), ch.size());
    }
    gen.CreateDataFile(Path, "comment");
    TRecordArray records{};
    // Ten quadripoles sharing the Wenner geometry of the fixture.
    Model->QuadCount = 10;
    for (int q = 2; q < 10; ++q)
        Model->Quads[std::size_t(q)] = Model->Quads[0];
    gen.AppendRecords(Path, 10, 0, records, false);
    const QByteArray file = Read(Path);
    ASSERT_EQ(file.size(), 1029 + 3040);
    TDataRecord last;
    std::memcpy(&last, file.constData() + 1029 + 9 * 304, 304);
    EXPECT_EQ(last.Vp, 100.0f);
    EXPECT_EQ(std::memcmp(&last, &records[9], 304), 0) << "the caller's array keeps what was written";

    // Creating again truncates.
    gen.CreateDataFile(Path, "");
    EXPECT_EQ(Read(Path).size(), 1029);
}

TEST_F(TDataFileFixture, aCountBeyondTheChannelRecordsWritesOnlyWhatExists)
{
    Model->ChooseProtocol(TypeCodeV2);
    auto &gen = static_cast<TVoltixProGen &>(Model->Protocol());
    gen.CreateDataFile(Path, "");
    TRecordArray records{};
    Model->QuadCount = 40;
    gen.AppendRecords(Path, 1000, 0, records, false);
    EXPECT_EQ(Read(Path).size(), 1029 + 10 * 304) << "ten channel records at most";
    gen.AppendRecords(Path, -5, 0, records, false);
    EXPECT_EQ(Read(Path).size(), 1029 + 10 * 304);
    gen.AppendRecords(Path, 10, 37, records, false);
    EXPECT_EQ(Read(Path).size(), 1029 + 13 * 304) << "nothing past the last quadripole";
    gen.AppendRecords(Path, 10, 45, records, false);
    EXPECT_EQ(Read(Path).size(), 1029 + 13 * 304);
}

TEST_F(TDataFileFixture, fileErrorsCarryTheSystemsMessageAndCreateNothing)
{
    Model->ChooseProtocol(TypeCodeV2);
    auto &gen = static_cast<TVoltixProGen &>(Model->Protocol());
    TRecordArray records{};
    const QString missing = Tmp.path() + "/missing.bin";
    try {
        gen.AppendRecords(missing, 1, 0, records, false);
        FAIL() << "appending to a missing file must fail";
    } catch (const ETarnelError &e) {
        EXPECT_TRUE(e.Message().startsWith(missing + ": ")) << e.Message().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_THROW(gen.CreateDataFile(Tmp.path() + "/no/folder/x.bin", ""), ETarnelError);
}

TEST_F(TDataFileFixture, aFileThatAppearedIsNeverReplacedUnasked)
{
    QFile other(Path);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("another program's file");
    other.close();
    EXPECT_THROW(WriteDataFileHeader(Path, "x", When, false), EFileExists);
    EXPECT_EQ(Read(Path), "another program's file");
    WriteDataFileHeader(Path, "x", When, true);
    EXPECT_EQ(QFileInfo(Path).size(), DataHeaderSize);
}

TEST_F(TDataFileFixture, aDanglingLinkIsNamedAndNothingIsCreatedThroughIt)
{
    const QString target = Tmp.path() + "/moved.bin";
    ASSERT_TRUE(QFile::link(target, Path));
    for (const bool replace : {false, true}) {
        try {
            WriteDataFileHeader(Path, "x", When, replace);
            ADD_FAILURE() << "written through a dangling link";
        } catch (const EFileExists &e) {
            ADD_FAILURE() << "taken for a file that appeared: " << e.Message().toStdString();
        } catch (const ETarnelError &e) {
            EXPECT_EQ(e.Message(), Path + " is a symbolic link to " + target +
                                       ", which does not exist; no data file was written there");
        }
    }
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_TRUE(QFileInfo(Path).isSymLink());
}

TEST_F(TDataFileFixture, aFullDiskCutsTheFileBackToItsLastWholeGroup)
{
    TSmallFs fs(8 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    const QString path = fs.File("Line.bin");
    WriteDataFileHeader(path, "x", When, false);
    std::vector<TDataRecord> group(10);
    for (auto &r : group)
        r.Ten = 10;
    AppendDataRecords(path, group); // 1029 + 3040 bytes
    try {
        AppendDataRecords(path, group);
        AppendDataRecords(path, group);
        FAIL() << "the third group fits no 8 KiB disk";
    } catch (const ETarnelError &e) {
        EXPECT_TRUE(e.Message().endsWith("No space left on device")) << e.Message().toStdString();
    }
    EXPECT_EQ((QFileInfo(path).size() - DataHeaderSize) % (10 * 304), 0);
}

TEST(DataRecord, freshRecordIsZeroButTheFlagsByte)
{
    TDataRecord r;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(&r);
    for (int i = 0; i < 304; ++i)
        EXPECT_EQ(bytes[i], i == 249 ? 2 : 0) << i;
}
