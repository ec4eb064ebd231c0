#include "base/Folders.h"
#include "support/ScriptedUi.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

TEST(CreateFolders, createsEveryMissingLevelFromTheRootDown)
{
    QTemporaryDir tmp;
    TScriptedUi ui;
    const QString file = tmp.path() + "/Voltix/TarnelPro Data/Tarnel.bin";
    EXPECT_TRUE(CreateFolders(file, ui));
    EXPECT_TRUE(QFileInfo(tmp.path() + "/Voltix/TarnelPro Data").isDir());
    EXPECT_FALSE(QFileInfo::exists(file)) << "only folders are created";
    EXPECT_TRUE(ui.Errors.isEmpty());
    // A second call finds everything in place.
    EXPECT_TRUE(CreateFolders(file, ui));
}

TEST(CreateFolders, reportsEachFailingLevelAndStillTriesTheNext)
{
    QTemporaryDir tmp;
    // A plain file where a folder should be makes that level and the one below fail.
    QFile blocker(tmp.path() + "/Voltix");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TScriptedUi ui;
    EXPECT_FALSE(CreateFolders(tmp.path() + "/Voltix/Data/x.bin", ui));
    ASSERT_EQ(ui.Errors.size(), 2);
    EXPECT_EQ(ui.Errors[0], "TarnelPro|Can't create directory \"" + tmp.path() + "/Voltix/\"");
    EXPECT_EQ(ui.Errors[1], "TarnelPro|Can't create directory \"" + tmp.path() + "/Voltix/Data/\"");
}

TEST(CreateFolders, pathWithoutFolderDoesNothing)
{
    TScriptedUi ui;
    EXPECT_TRUE(CreateFolders("Tarnel.bin", ui));
    EXPECT_TRUE(ui.Errors.isEmpty());
}

TEST(ReplaceExtension, replacesTheFileNameExtensionOnly)
{
    const struct {
        const char *in, *out;
    } cases[] = {
        {"/d/Survey.bin", "/d/Survey_Log.txt"},
        {"/d/run", "/d/run_Log.txt"},
        {"/d.v2/run", "/d.v2/run_Log.txt"},
        {"/d/a.b.bin", "/d/a.b_Log.txt"},
        {"run.bin", "run_Log.txt"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReplaceExtension(c.in, "_Log.txt"), QString(c.out)) << c.in;
}

TEST(DataFolder, environmentOverridesAndEndsWithSlash)
{
    qputenv("TARNELPRO_DATA_DIR", "/tmp/somewhere/data");
    EXPECT_EQ(DataFolder(), "/tmp/somewhere/data/");
    qunsetenv("TARNELPRO_DATA_DIR");
    EXPECT_EQ(DataFolder(), QDir::homePath() + "/Voltix/TarnelPro Data/");
}
