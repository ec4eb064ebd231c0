// Where a station stands: one state file per script, found again after an upgrade.
#include "script/StationState.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {
struct StationStateTest : ::testing::Test {
    QTemporaryDir Tmp;
    void SetUp() override { qputenv("TARNELPRO_DATA_DIR", (Tmp.path() + "/data").toUtf8()); }
    void TearDown() override { qunsetenv("TARNELPRO_DATA_DIR"); }

    QString Script(const QString &relative)
    {
        const QString path = Tmp.path() + "/" + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return QFileInfo(path).absoluteFilePath();
    }
    static TStationState At(const QString &script, qsizetype line)
    {
        TStationState s;
        s.Script = script;
        s.Line = line;
        s.DataFile = "/data/Line" + QString::number(line) + ".bin";
        return s;
    }
};
} // namespace

TEST_F(StationStateTest, scriptsWhosePathsDifferOnlyInSlashAndDashKeepTheirOwnState)
{
    const QString one = Script("a/b-c.scp"), two = Script("a-b/c.scp");
    ASSERT_NE(TStationState::PathFor(one), TStationState::PathFor(two));
    EXPECT_TRUE(TStationState::PathFor(one).contains("b-c.scp")) << "the name stays readable";
    ASSERT_EQ(At(one, 7).Save(TStationState::PathFor(one)), QString());
    ASSERT_EQ(At(two, 3).Save(TStationState::PathFor(two)), QString());
    for (const auto &[script, line] : {std::pair{one, 7}, std::pair{two, 3}}) {
        TStationState back;
        back.Script = script;
        ASSERT_TRUE(back.Load(TStationState::PathFor(script)));
        EXPECT_EQ(back.Line, line);
        EXPECT_EQ(back.DataFile, "/data/Line" + QString::number(line) + ".bin");
    }
}

TEST_F(StationStateTest, aStateUnderTheOldNameIsTakenUpOnlyByItsOwnScript)
{
    const QString one = Script("a/b-c.scp"), two = Script("a-b/c.scp");
    // Both old names are one file: the one an earlier version wrote for "one".
    ASSERT_EQ(TStationState::OldPathFor(one), TStationState::OldPathFor(two));
    ASSERT_EQ(At(one, 5).Save(TStationState::OldPathFor(one)), QString());

    TStationState other;
    other.Script = two;
    EXPECT_FALSE(other.Load(TStationState::PathFor(two))) << "another script's state is not taken";

    TStationState resumed;
    resumed.Script = one;
    ASSERT_TRUE(resumed.Load(TStationState::PathFor(one)));
    EXPECT_EQ(resumed.Line, 5);
    // Saved under the new name, which is read from then on.
    resumed.Line = 6;
    ASSERT_EQ(resumed.Save(TStationState::PathFor(one)), QString());
    TStationState again;
    again.Script = one;
    ASSERT_TRUE(again.Load(TStationState::PathFor(one)));
    EXPECT_EQ(again.Line, 6);
}
