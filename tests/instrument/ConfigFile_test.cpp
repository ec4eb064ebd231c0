#include "instrument/ConfigFile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {
void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
const QLocale C(QLocale::C);
} // namespace

TEST(ConfigFile, missingAndNonNumericValuesTakeTheirDefaultsAndPathsKeepTheCurrentOnes)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/a.Ini";
    WriteFile(path, "[startparameters]\r\nCHANNEL=abc\r\nCrenMin=7\r\nCrenEt=x\r\nTM3=12\r\n"
                    "[Communication]\r\nPort=7\r\nHighSpeedChecked=1\r\nSpeed=38400\r\n"
                    "[Parameters]\r\nMeasModeFlag=2\r\nAcquisitionFile=/d/run.bin\r\n");
    TConfigValues current;
    current.QuadripoleFile = "/cur/q.txt";
    current.DuplicateAcquisitionFile = "/cur/dup.bin";
    current.Start.Channel = 3;
    TConfigValues v;
    ASSERT_TRUE(TConfigFile::Read(path, current, v, C));
    EXPECT_EQ(v.Start.Channel, 10) << "not a number: the key's default, not the current value";
    EXPECT_EQ(v.Start.CrenMin, 7) << "keys are case-insensitive";
    EXPECT_EQ(v.Start.CrenEt, 1.0f);
    EXPECT_EQ(v.Start.TM[2], 12);
    EXPECT_EQ(v.Start.TM[3], 8);
    EXPECT_EQ(v.Start.ConfigValue(), 328225u);
    EXPECT_EQ(v.Port, 7);
    EXPECT_FALSE(v.HighSpeedChecked) << "never read back";
    EXPECT_EQ(v.Speed, 38400) << "read at connection as stored";
    EXPECT_EQ(v.MeasModeFlag, 2);
    EXPECT_EQ(v.AcquisitionFile, "/d/run.bin");
    EXPECT_EQ(v.QuadripoleFile, "/cur/q.txt");
    EXPECT_EQ(v.DuplicateAcquisitionFile, "/cur/dup.bin");
    EXPECT_EQ(v.SpeedStartTime, 25);

    EXPECT_FALSE(TConfigFile::Read(tmp.path() + "/missing.Ini", current, v, C));
}

TEST(ConfigFile, writingKeepsForeignContentUsesCrLfAndFixesTheSpeeds)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/a.Ini";
    WriteFile(path, "; site notes\r\n[Other]\r\nKey=C:\\data\\x;y,z\r\n[Communication]\r\nSpeed=9600\r\nExtra=1\r\n");
    TConfigValues v;
    v.HighSpeedChecked = true;
    v.CommentMemo = QString::fromUtf8("Profil été");
    v.QuadripoleFile = "/home/op/q 1.txt";
    ASSERT_TRUE(TConfigFile::Write(path, v, C).isEmpty());
    const QByteArray text = Read(path);
    EXPECT_TRUE(text.contains("; site notes\r\n"));
    EXPECT_TRUE(text.contains("Key=C:\\data\\x;y,z\r\n"));
    EXPECT_TRUE(text.contains("Extra=1\r\n"));
    EXPECT_TRUE(text.contains("Speed=19200\r\n"));
    EXPECT_TRUE(text.contains("HighSpeed=115200\r\n"));
    EXPECT_TRUE(text.contains("HighSpeedChecked=1\r\n"));
    EXPECT_TRUE(text.contains("CommentMemo=Profil \xE9t\xE9\r\n"));
    EXPECT_FALSE(text.contains("\n\n")) << "no bare LF";
    EXPECT_EQ(text.count('\n'), text.count("\r\n"));

    TConfigValues back;
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, back, C));
    EXPECT_EQ(back.CommentMemo, v.CommentMemo);
    EXPECT_EQ(back.QuadripoleFile, v.QuadripoleFile);
}

TEST(ConfigFile, everySettingSurvivesARoundTripInTheSystemsNumberFormat)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/b.Ini";
    for (const QLocale &locale : {QLocale(QLocale::C), QLocale(QLocale::French, QLocale::France)}) {
        TConfigValues v;
        v.Start.Channel = 6;
        v.Start.ChannelSynchro = 2;
        v.Start.CrenMin = 3;
        v.Start.CrenMax = 999;
        v.Start.CrenEt = 0.1f;
        v.Start.SetConfigValue(0x85A31B41u);
        v.Start.Time = 800;
        v.Start.TM[19] = 118;
        v.Start.Latitude = -4523.456f;
        v.Start.Longitude = 12345.678f;
        v.SpeedStartTxVoltage = 48.5f;
        v.SpeedStartChannel = 4;
        v.MeasModeFlag = 1;
        v.StoreResistanceFlag = true;
        v.DuplicateAcquisition = true;
        v.IPAddress = "10.0.0.5";
        ASSERT_TRUE(TConfigFile::Write(path, v, locale).isEmpty());
        TConfigValues back;
        ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, back, locale));
        EXPECT_EQ(0, std::memcmp(&back.Start, &v.Start, sizeof v.Start)) << locale.name().toStdString();
        EXPECT_EQ(back.SpeedStartTxVoltage, 48.5f);
        EXPECT_EQ(back.SpeedStartChannel, 4);
        EXPECT_EQ(back.MeasModeFlag, 1);
        EXPECT_TRUE(back.StoreResistanceFlag);
        EXPECT_TRUE(back.DuplicateAcquisition);
        EXPECT_EQ(back.IPAddress, "10.0.0.5");
    }
    EXPECT_TRUE(Read(path).contains("Latitude=-4523,456\r\n"));
}

TEST(ConfigFile, serialPortNumbersMapToDevices)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/c.Ini";
    WriteFile(path, "[Devices]\r\nCom1=/dev/ttyUSB0\r\ncom7 = /dev/rfcomm0\r\nCom0=/dev/x\r\nCom200=/dev/y\r\nOther=/dev/z\r\n");
    TConfigValues v;
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, v, C));
    EXPECT_EQ(TConfigFile::DeviceForPort(v, 1), "/dev/ttyUSB0");
    EXPECT_EQ(TConfigFile::DeviceForPort(v, 7), "/dev/rfcomm0");
    EXPECT_EQ(TConfigFile::DeviceForPort(v, 2), "/dev/ttyS1");
    EXPECT_EQ(v.Devices.size(), 2u);

    ASSERT_TRUE(TConfigFile::WriteKey(path, "Communication", "Port", "100").isEmpty());
    EXPECT_TRUE(Read(path).contains("Com1=/dev/ttyUSB0\r\n"));
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, v, C));
    EXPECT_EQ(v.Port, 100);
}

TEST(ConfigFile, theShippedTemplateKeepsItsVabMaximumInRange)
{
    TConfigValues v;
    ASSERT_TRUE(TConfigFile::Read(QStringLiteral(TARNEL_TEST_DATA "/../../resources/Setup.ini"), TConfigValues{}, v, C));
    const int volts = v.Start.VabMax() * 10;
    EXPECT_GE(volts, 10);
    EXPECT_LE(volts, 800);
}
