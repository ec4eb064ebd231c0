#include "instrument/ConfigFile.h"
#include "instrument/QualityControl.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

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
    ASSERT_TRUE(TConfigFile::Read(path, current, v));
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

    EXPECT_FALSE(TConfigFile::Read(tmp.path() + "/missing.Ini", current, v));
}

TEST(ConfigFile, writingKeepsForeignContentUsesCrLfAndTheLinkSpeeds)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/a.Ini";
    WriteFile(path, "; site notes\r\n[Other]\r\nKey=C:\\data\\x;y,z\r\n[Communication]\r\nSpeed=9600\r\nExtra=1\r\n");
    TConfigValues v;
    v.HighSpeedChecked = true;
    v.CommentMemo = QString::fromUtf8("Profil été");
    v.QuadripoleFile = "/home/op/q 1.txt";
    ASSERT_TRUE(TConfigFile::Write(path, v).isEmpty());
    const QByteArray text = Read(path);
    EXPECT_TRUE(text.contains("; site notes\r\n"));
    EXPECT_TRUE(text.contains("Key=C:\\data\\x;y,z\r\n"));
    EXPECT_TRUE(text.contains("Extra=1\r\n"));
    // Connect reads the baud rates: the file's own stays, a missing one gets the default.
    EXPECT_TRUE(text.contains("[Communication]\r\nSpeed=9600\r\n"));
    EXPECT_FALSE(text.contains("Speed=19200"));
    EXPECT_TRUE(text.contains("HighSpeed=115200\r\n"));
    EXPECT_TRUE(text.contains("HighSpeedChecked=1\r\n"));
    EXPECT_TRUE(text.contains("CommentMemo=Profil \xE9t\xE9\r\n"));
    EXPECT_FALSE(text.contains("\n\n")) << "no bare LF";
    EXPECT_EQ(text.count('\n'), text.count("\r\n"));

    TConfigValues back;
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, back));
    EXPECT_EQ(back.CommentMemo, v.CommentMemo);
    EXPECT_EQ(back.QuadripoleFile, v.QuadripoleFile);
}

namespace {
// Sets the process locale (C library and Qt default) for one scope and puts
// the previous one back. Locales the machine lacks are generated once with
// localedef into a folder of their own.
class TProcessLocale {
public:
    explicit TProcessLocale(const char *name)
    {
        Previous = std::setlocale(LC_ALL, nullptr);
        PreviousQt = QLocale();
        if (!std::setlocale(LC_ALL, name) && Generate(name))
            std::setlocale(LC_ALL, name);
        QLocale::setDefault(QLocale(QString::fromLatin1(name).section(QLatin1Char('.'), 0, 0)));
    }
    ~TProcessLocale()
    {
        std::setlocale(LC_ALL, Previous.c_str());
        QLocale::setDefault(PreviousQt);
    }

private:
    static bool Generate(const char *name)
    {
        static const QString folder = QDir::tempPath() + "/tarnel-test-locales";
        QDir().mkpath(folder);
        const QString full = QString::fromLatin1(name);
        const QString dir = folder + "/" + full;
        if (!QFileInfo::exists(dir)) {
            QProcess p;
            p.start("localedef", {"-i", full.section('.', 0, 0), "-f", "UTF-8", dir});
            p.waitForFinished(60000);
        }
        ::setenv("LOCPATH", folder.toLocal8Bit().constData(), 1);
        return QFileInfo::exists(dir);
    }
    std::string Previous;
    QLocale PreviousQt;
};

TConfigValues Sample(const QString &path)
{
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
    v.AcquisitionFile = path;
    v.DuplicateAcquisitionFile = path + ".dup";
    v.QuadripoleFile = path;
    v.CommentMemo = " " + path + " ";
    v.Quality = {0.25f, 0.002f, 7.5f};
    return v;
}
} // namespace

TEST(ConfigFile, everySettingReadsBackTheSameWhateverTheLocaleAndTheTextHold)
{
    QTemporaryDir tmp;
    const QString file = tmp.path() + "/b.Ini";
    const struct {
        const char *Locale;
        const char *Path;
        bool Utf8; // written as UTF-8 because Windows-1252 cannot hold it
    } cases[] = {
        {"C", "/home/op/Survey 1/run.bin", false},
        {"de_DE.UTF-8", "/home/op/\xC5\x82\xC3\xB3\x64\xC5\xBA/x.bin", true},         // łódź
        {"en_US.UTF-8", "/home/op/Donn\xC3\xA9\x65s/\"run\".bin", false},             // Données
        {"ar_EG.UTF-8", "/home/op/\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5.bin", true}, // данные
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Locale);
        const TProcessLocale locale(c.Locale);
        const TConfigValues v = Sample(QString::fromUtf8(c.Path));
        ASSERT_TRUE(TConfigFile::Write(file, v).isEmpty());
        const QByteArray bytes = Read(file);
        EXPECT_TRUE(bytes.contains("Latitude=-4523.456\r\n")) << bytes.toStdString();
        EXPECT_TRUE(bytes.contains("Longitude=12345.678\r\n"));
        EXPECT_TRUE(bytes.contains("CrenEt=0.1\r\n"));
        EXPECT_TRUE(bytes.contains("SpeedStartTxVoltage=48.5\r\n"));
        EXPECT_TRUE(bytes.contains("[Quality]\r\nMinCurrent=0.25\r\nMinVoltage=0.002\r\nMaxReciprocalError=7.5\r\n"));
        const QString p = QString::fromUtf8(c.Path);
        EXPECT_TRUE(bytes.contains(c.Utf8 ? p.toUtf8() : p.toLatin1()));

        TConfigValues back;
        ASSERT_TRUE(TConfigFile::Read(file, TConfigValues{}, back));
        EXPECT_EQ(0, std::memcmp(&back.Start, &v.Start, sizeof v.Start));
        EXPECT_EQ(back.SpeedStartTxVoltage, 48.5f);
        EXPECT_EQ(back.SpeedStartChannel, 4);
        EXPECT_EQ(back.MeasModeFlag, 1);
        EXPECT_TRUE(back.StoreResistanceFlag);
        EXPECT_TRUE(back.DuplicateAcquisition);
        EXPECT_EQ(back.IPAddress, "10.0.0.5");
        EXPECT_EQ(back.AcquisitionFile, v.AcquisitionFile);
        EXPECT_EQ(back.DuplicateAcquisitionFile, v.DuplicateAcquisitionFile);
        EXPECT_EQ(back.QuadripoleFile, v.QuadripoleFile);
        EXPECT_EQ(back.CommentMemo, v.CommentMemo) << "blanks at the ends survive";
        EXPECT_EQ(back.Quality, v.Quality);
        QFile::remove(file);
    }
}

TEST(ConfigFile, qualityLimitsTakeTheirDefaultsUnlessNumbersFromZeroAndQMaxIsTheAcquisitions)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/q.ini";
    WriteFile(path, "[StartParameters]\r\nCrenEt=3\r\n[Quality]\r\nMinCurrent=0,5\r\nMinVoltage=-1\r\n"
                    "MaxReciprocalError=abc\r\n");
    TConfigValues v;
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, v));
    EXPECT_EQ(v.Quality, (TQualityKeys{0.5f, 0.01f, 5.0f}));
    const TQualitySettings s = TQualitySettings::FromConfig(v);
    EXPECT_EQ(s.MaxQ, 3.0);
    EXPECT_EQ(s.MinIn, 0.5);
    EXPECT_EQ(s.MaxReciprocalError, 5.0);
}

TEST(ConfigFile, readsUtf8AndWindows1252FilesAndNumbersWithEitherSeparator)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/n.Ini";
    const struct {
        QByteArray Comment; // bytes in the file
        QString Expected;
    } texts[] = {
        {"\xC3\xA9t\xC3\xA9", QString::fromUtf8("été")},
        {"\xE9t\xE9", QString::fromUtf8("été")},
        {"plain", "plain"},
    };
    for (const auto &t : texts) {
        WriteFile(path, "[Comment]\r\nCommentMemo=" + t.Comment + "\r\n");
        TConfigValues v;
        ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, v));
        EXPECT_EQ(v.CommentMemo, t.Expected) << t.Comment.toStdString();
    }
    const struct {
        const char *Text;
        float Expected; // the default 1 when not a number
    } numbers[] = {
        {"1.500", 1.5f}, {"1,500", 1.5f}, {" 2.25 ", 2.25f}, {"1 500", 1.0f}, {"1.234,5", 1.0f},
        {"1,234.5", 1.0f}, {"1.5 %", 1.0f}, {"\xD9\xA1.\xD9\xA5", 1.0f} /* Arabic-Indic digits */, {"", 1.0f},
    };
    for (const auto &n : numbers) {
        WriteFile(path, QByteArray("[StartParameters]\r\nCrenEt=") + n.Text + "\r\n");
        TConfigValues v;
        ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, v));
        EXPECT_EQ(v.Start.CrenEt, n.Expected) << n.Text;
    }
}

TEST(ConfigFile, absurdNumbersAreReplacedAsTheControlsWouldWithoutOverflow)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/x.Ini";
    WriteFile(path, "[StartParameters]\r\nChannel=0\r\nChannelSynchro=12\r\nCrenMin=-5\r\nCrenMax=99999999999\r\n"
                    "CrenEt=1e30\r\nTime=70000\r\nTM1=-1\r\nConfig=4294967295\r\nLatitude=1e39\r\n"
                    "[SpeedStartParameters]\r\nSpeedStartTxVoltage=1e30\r\nSpeedStartTime=5\r\nSpeedStartChannel=-3\r\n"
                    "[Parameters]\r\nMeasModeFlag=7\r\n[Communication]\r\nSpeed=-9600\r\nDelay=99999999\r\n");
    TConfigValues v;
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, v));
    EXPECT_EQ(v.Start.Channel, 10);
    EXPECT_EQ(v.Start.ChannelSynchro, 0);
    EXPECT_EQ(v.Start.CrenMin, 4);
    EXPECT_EQ(v.Start.CrenMax, 16) << "beyond int32: the key's default";
    EXPECT_EQ(v.Start.CrenEt, 0.0f);
    EXPECT_EQ(v.Start.Time, 200) << "beyond uint16: the key's default";
    EXPECT_EQ(v.Start.TM[0], 8);
    EXPECT_EQ(v.Start.ConfigValue(), 0xFFFFFFFFu) << "the unsigned form of -1";
    EXPECT_EQ(v.Start.Latitude, 0.0f) << "beyond float";
    EXPECT_EQ(v.SpeedStartTxVoltage, 12.0f);
    EXPECT_EQ(v.SpeedStartTime, 15);
    EXPECT_EQ(v.SpeedStartChannel, 10);
    EXPECT_EQ(v.MeasModeFlag, 0);
    EXPECT_EQ(v.Speed, 19200);
    EXPECT_EQ(v.Delay, 0);
}

TEST(ConfigFile, aForeignFileIsReadAndSavedAsTheWindowsProfileFunctionsDo)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/f.Ini";
    WriteFile(path, "; from the office PC\r\n"
                    "[NAME]\r\n"
                    "quadripoleFILE=\"C:\\Survey\\q.txt\"\r\n"
                    "CoordinateFile = 'C:\\Survey\\c.txt'\r\n"
                    "this line has no equals sign\r\n"
                    "\r\n"
                    "[StartParameters]\r\n"
                    "# stacks\r\n"
                    "CrenMin=5\r\n"
                    "CRENMIN=9\r\n"
                    "Vendor=keep me\r\n"
                    "; end of file");
    TConfigValues v;
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, v));
    EXPECT_EQ(v.QuadripoleFile, "C:\\Survey\\q.txt") << "quotes stripped";
    EXPECT_EQ(v.CoordinateFile, "C:\\Survey\\c.txt");
    EXPECT_EQ(v.Start.CrenMin, 5) << "the first of duplicate keys";

    v.Start.CrenMin = 6;
    ASSERT_TRUE(TConfigFile::Write(path, v).isEmpty());
    const QString text = QString::fromLatin1(Read(path));
    // Untouched lines stay as they were, in place; the keys keep their spelling.
    EXPECT_TRUE(text.startsWith("; from the office PC\r\n[NAME]\r\nquadripoleFILE=C:\\Survey\\q.txt\r\n"
                                "CoordinateFile =C:\\Survey\\c.txt\r\nthis line has no equals sign\r\n\r\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("[StartParameters]\r\n# stacks\r\nCrenMin=6\r\nCRENMIN=9\r\nVendor=keep me\r\nChannel="));
    // Keys the section lacked go after its last key, sections it lacked at the end.
    EXPECT_TRUE(text.contains("Longitude=0\r\n; end of file\r\n\r\n[Parameters]\r\n")) << text.toStdString();
    EXPECT_EQ(text.count("[StartParameters]"), 1);
    EXPECT_EQ(text.count("QuadripoleFile", Qt::CaseInsensitive), 1);

    TConfigValues back;
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, back));
    EXPECT_EQ(back.Start.CrenMin, 6);
    EXPECT_EQ(back.QuadripoleFile, v.QuadripoleFile);
}

TEST(ConfigFile, serialPortNumbersMapToDevices)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/c.Ini";
    WriteFile(path, "[Devices]\r\nCom1=/dev/ttyUSB0\r\ncom7 = /dev/rfcomm0\r\nCom0=/dev/x\r\nCom200=/dev/y\r\nOther=/dev/z\r\n");
    TConfigValues v;
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, v));
    EXPECT_EQ(TConfigFile::DeviceForPort(v, 1), "/dev/ttyUSB0");
    EXPECT_EQ(TConfigFile::DeviceForPort(v, 7), "/dev/rfcomm0");
    EXPECT_EQ(TConfigFile::DeviceForPort(v, 2), "/dev/ttyS1");
    EXPECT_EQ(v.Devices.size(), 2u);

    ASSERT_TRUE(TConfigFile::WriteKey(path, "Communication", "Port", "100").isEmpty());
    EXPECT_TRUE(Read(path).contains("Com1=/dev/ttyUSB0\r\n"));
    ASSERT_TRUE(TConfigFile::Read(path, TConfigValues{}, v));
    EXPECT_EQ(v.Port, 100);
}

TEST(ConfigFile, theShippedTemplateKeepsItsVabMaximumInRange)
{
    TConfigValues v;
    ASSERT_TRUE(TConfigFile::Read(QStringLiteral(TARNEL_TEST_DATA "/../../resources/Setup.ini"), TConfigValues{}, v));
    const int volts = v.Start.VabMax() * 10;
    EXPECT_GE(volts, 10);
    EXPECT_LE(volts, 800);
}

TEST(ConfigFile, onlyAConfigurationMayBeReplacedByOne)
{
    QTemporaryDir tmp;
    const struct {
        const char *Name;
        QByteArray Bytes;
        const char *Why; // empty: a configuration
    } cases[] = {
        {"setup.ini", "; notes\r\n  [Communication]\r\nPort=3\r\n", ""},
        {"empty.ini", "", ""},
        {"utf16.ini", QByteArray("\xFF\xFE[\0N\0]\0\r\0\n\0", 12), ""},
        {"Line1.bin", QByteArray("TARNEL\0\x01\x02[Name]\r\n", 17), "binary data"},
        {"quads.txt", "# Num A B M N\r\n1 1 2 3 4\r\n", "no [section] in it"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFile(tmp.filePath(c.Name), c.Bytes);
        EXPECT_EQ(TConfigFile::NotAConfiguration(tmp.filePath(c.Name)), QString::fromLatin1(c.Why));
    }
    EXPECT_EQ(TConfigFile::NotAConfiguration(tmp.path()), "a folder");
    EXPECT_EQ(TConfigFile::NotAConfiguration("/dev/null"), "not a regular file");
}
