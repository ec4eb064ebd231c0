#include "base/TarnelError.h"
#include "instrument/DataFile.h"
#include "instrument/DataFileReader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstring>
#include <thread>

namespace {
const QDateTime When(QDate(2026, 12, 9), QTime(14, 5, 31));

TDataRecord Record(std::uint16_t version, float vp)
{
    TDataRecord r;
    r.Ten = 10;
    r.Version = version;
    r.One = 1;
    r.Vp = vp;
    r.Coords = {0, 15, 5, 10, 0, 0, 0, 0, -1, -1, -1, -1};
    r.Date = version == 3 ? 46365.5 : 0.0;
    return r;
}

QByteArray Bytes(const TDataRecord &r)
{
    return QByteArray(reinterpret_cast<const char *>(&r), sizeof r);
}

QByteArray File(const QByteArray &comment, std::initializer_list<TDataRecord> records)
{
    QByteArray out = DataFileHeader(comment, When);
    for (const TDataRecord &r : records)
        out += Bytes(r);
    return out;
}
} // namespace

TEST(DataFileReader, readsTheFileTheWriterMakesWithBothRecordVersions)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/Tarnel.bin";
    WriteDataFileHeader(path, "Line 3\r\nsecond line", When);
    const TDataRecord written[] = {Record(3, 40.0f), Record(2, -7.5f), Record(3, 1e-9f)};
    AppendDataRecords(path, written);

    TDataFileReader reader;
    reader.Read(path);
    ASSERT_EQ(reader.Records().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(std::memcmp(&reader.Records()[i], &written[i], sizeof(TDataRecord)), 0) << i;
    EXPECT_EQ(reader.TornBytes(), 0);
    EXPECT_EQ(reader.CompleteSize(), 1029 + 3 * 304);
    EXPECT_EQ(reader.DateLine(), DataFileHeader({}, When).mid(5).split('\r').front());
    EXPECT_EQ(reader.Comment(), "Line 3\r\nsecond line");
}

// A reader that comes while a group is being appended waits for the group's
// end: it never counts half a group as measured.
TEST(DataFileReader, aReaderDuringAnAppendSeesTheWholeGroup)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/Tarnel.bin";
    WriteDataFileHeader(path, "", When);
    QFile writer(path);
    ASSERT_TRUE(writer.open(QIODevice::Append));
    ASSERT_TRUE(TakeDataFileTurn(writer.handle(), true));
    const TDataRecord r = Record(3, 1.0f);
    writer.write(Bytes(r) + Bytes(r));
    writer.flush();
    std::thread rest([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        writer.write(Bytes(r) + Bytes(r));
        writer.close(); // ends the writer's turn
    });
    TDataFileReader reader;
    reader.Read(path);
    rest.join();
    EXPECT_EQ(reader.Records().size(), 4u);
}

TEST(DataFileReader, aPartialLastRecordIsReportedNotAnError)
{
    const QByteArray whole = File("", {Record(3, 1), Record(3, 2)});
    for (const qsizetype cut : {qsizetype(0), qsizetype(1), qsizetype(150), qsizetype(303)}) {
        TDataFileReader reader;
        reader.Parse(whole + Bytes(Record(3, 3)).left(cut), "x.bin");
        EXPECT_EQ(reader.Records().size(), 2u) << cut;
        EXPECT_EQ(reader.TornBytes(), cut);
        EXPECT_EQ(reader.CompleteSize(), whole.size());
    }
    // A power cut leaves space given to the file but never written: zeros.
    for (const qsizetype zeros : {qsizetype(304), qsizetype(2 * 304 + 17)}) {
        TDataFileReader reader;
        reader.Parse(whole + QByteArray(zeros, '\0'), "x.bin");
        EXPECT_EQ(reader.Records().size(), 2u) << zeros;
        EXPECT_EQ(reader.TornBytes(), zeros);
    }
    // Zeros followed by a record are no tail: that file is damaged.
    TDataFileReader damaged;
    EXPECT_THROW(damaged.Parse(whole + QByteArray(304, '\0') + Bytes(Record(3, 3)), "x.bin"), ETarnelError);

    // Header only: an acquisition that never measured.
    TDataFileReader empty;
    empty.Parse(File("", {}), "x.bin");
    EXPECT_TRUE(empty.Records().empty());
    EXPECT_EQ(empty.TornBytes(), 0);
}

TEST(DataFileReader, otherBytesAreRefusedWithTheFileNameAndWhy)
{
    const QByteArray good = File("c", {Record(3, 1)});
    QByteArray badMagic = good;
    badMagic[3] = 0;
    QByteArray badNine = good;
    badNine[4] = 8;
    QByteArray badRecord = good + Bytes(Record(3, 2));
    badRecord[1029 + 304] = 11; // second record's leading 10
    QByteArray badVersion = good;
    badVersion[1029 + 2] = 4;
    const struct {
        QByteArray bytes;
        const char *why;
    } cases[] = {
        {{}, "0 bytes"},
        {good.left(1028), "1028 bytes"},
        {QByteArray(2000, 'a'), "header mark"},
        {badMagic, "header mark"},
        {badNine, "header mark"},
        {badRecord, "record 1 at byte 1333"},
        {badVersion, "record 0 at byte 1029"},
    };
    for (const auto &c : cases) {
        TDataFileReader reader;
        try {
            reader.Parse(c.bytes, "in.bin");
            ADD_FAILURE() << c.why;
        } catch (const ETarnelError &e) {
            EXPECT_TRUE(e.Message().startsWith("in.bin: not a data file (")) << e.Message().toStdString();
            EXPECT_TRUE(e.Message().contains(c.why)) << e.Message().toStdString();
        }
        EXPECT_TRUE(reader.Records().empty());
    }
}

TEST(DataFileReader, aMissingFileGivesTheSystemsMessage)
{
    QTemporaryDir tmp;
    TDataFileReader reader;
    try {
        reader.Read(tmp.path() + "/none.bin");
        FAIL();
    } catch (const ETarnelError &e) {
        EXPECT_TRUE(e.Message().startsWith(tmp.path() + "/none.bin: ")) << e.Message().toStdString();
        EXPECT_FALSE(e.Message().contains("not a data file"));
    }
}
