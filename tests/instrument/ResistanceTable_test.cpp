#include "instrument/ResistanceTable.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

TEST(ResistanceTable, EachElectrodeKeepsTheLowestOfItsPairs)
{
    // A pair adds both contacts: a high pair blames an electrode only when
    // its other pair is high too.
    TResistanceTable t;
    t.AddPair({5, 25, 0, 0}, {6, 30, 0, 0}, 0.8f, 1.0f, false);
    t.AddPair({6, 30, 0, 0}, {7, 35, 0, 0}, 7.0f, 1.0f, true);
    t.AddPair({7, 35, 0, 0}, {8, 40, 0, 0}, 3.0f, 1.0f, false);
    ASSERT_EQ(t.Electrodes.size(), 4u);
    EXPECT_EQ(t.Electrodes[1].Status, TElectrodeHealth::Ok);
    EXPECT_EQ(t.Electrodes[1].KOhm, 0.8f);
    EXPECT_EQ(t.Electrodes[2].Status, TElectrodeHealth::High) << "3 kOhm, its lowest, is still above 1";
    EXPECT_EQ(t.Electrodes[2].KOhm, 3.0f);
    EXPECT_EQ(t.BadPositions(), (std::vector<std::array<float, 3>>{{35, 0, 0}, {40, 0, 0}}));
    EXPECT_EQ(TResistanceTable::FileFor("/d/Line 4.bin"), "/d/Line 4_Resistance.csv");
}

TEST(ResistanceTable, ReadsItsOwnTextAndRefusesAnythingElse)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/t.csv";
    const auto put = [&](const QByteArray &bytes) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    TResistanceTable t;
    t.Electrodes = {{1, 0.5, -2, 1.25, 1.5f, TElectrodeHealth::Ok}, {2, 5, 0, 0, 900, TElectrodeHealth::Skipped}};
    put(t.Text());
    TResistanceTable back;
    ASSERT_EQ(back.Read(path), QString());
    EXPECT_EQ(back.Text(), t.Text());
    for (const char *bad : {"1,0,0,0,1.5\r\n", "1,0,0,0,1.5,fine\r\n", "x,0,0,0,1.5,ok\r\n", "1e300,0,0,0,1.5,ok\r\n",
                            "2.5,0,0,0,1.5,ok\r\n", "-1,0,0,0,1.5,ok\r\n"}) {
        put(QByteArray("electrode,x,y,z,kohm,status\r\n") + bad);
        EXPECT_FALSE(back.Read(path).isEmpty()) << bad;
        EXPECT_TRUE(back.Electrodes.empty()) << bad;
    }
    EXPECT_FALSE(back.Read(tmp.path() + "/missing.csv").isEmpty());
}
