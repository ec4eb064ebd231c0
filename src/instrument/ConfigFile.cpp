#include "instrument/ConfigFile.h"

#include "base/Cp1252.h"

#include <QFile>
#include <QSaveFile>

#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <cmath>
#include <string>

namespace {
// The start-parameter keys with their fields, in the order they are written.
const char *const TMKeys[20] = {"TM1",  "TM2",  "TM3",  "TM4",  "TM5",  "TM6",  "TM7",
                                "TM8",  "TM9",  "TM10", "TM11", "TM12", "TM13", "TM14",
                                "TM15", "TM16", "TM17", "TM18", "TM19", "TM20"};

bool LoadIni(const QString &path, CSimpleIniA &ini, QString *error)
{
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    ini.SetSpaces(false);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (ini.LoadData(bytes.constData(), static_cast<size_t>(bytes.size())) < 0) {
        if (error)
            *error = QStringLiteral("not a configuration file");
        return false;
    }
    return true;
}

QString SaveIni(const QString &path, CSimpleIniA &ini)
{
    std::string text;
    if (ini.Save(text) < 0)
        return QStringLiteral("cannot format the configuration");
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(text.size() + text.size() / 16));
    for (char c : text) {
        if (c == '\n')
            bytes += "\r\n";
        else if (c != '\r')
            bytes += c;
    }
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return {};
}

class TReader {
public:
    TReader(const CSimpleIniA &ini, const QLocale &locale) : Ini(ini), Locale(locale) {}

    QString Text(const char *section, const char *key, const QString &fallback) const
    {
        const char *v = Ini.GetValue(section, key, nullptr);
        return v ? FromCp1252(QByteArrayView(v)) : fallback;
    }
    long Int(const char *section, const char *key, long fallback) const
    {
        const char *v = Ini.GetValue(section, key, nullptr);
        if (!v)
            return fallback;
        bool ok = false;
        const long value = QByteArray(v).trimmed().toLong(&ok);
        return ok ? value : fallback;
    }
    float Float(const char *section, const char *key, float fallback) const
    {
        const char *v = Ini.GetValue(section, key, nullptr);
        if (!v)
            return fallback;
        bool ok = false;
        const float value = Locale.toFloat(QString::fromLatin1(v).trimmed(), &ok);
        return ok && std::isfinite(value) ? value : fallback;
    }

private:
    const CSimpleIniA &Ini;
    const QLocale &Locale;
};

class TWriter {
public:
    TWriter(CSimpleIniA &ini, const QLocale &locale) : Ini(ini), Locale(locale) {}
    void Text(const char *section, const char *key, const QString &value)
    {
        Ini.SetValue(section, key, ToCp1252(value).constData());
    }
    void Int(const char *section, const char *key, long value)
    {
        Ini.SetValue(section, key, QByteArray::number(static_cast<qlonglong>(value)).constData());
    }
    void Float(const char *section, const char *key, float value)
    {
        Ini.SetValue(section, key, TConfigFile::FloatText(value, Locale).toLatin1().constData());
    }

private:
    CSimpleIniA &Ini;
    const QLocale &Locale;
};
} // namespace

QString TConfigFile::FloatText(float value, const QLocale &locale)
{
    for (int precision = 6; precision <= 9; ++precision) {
        QString text = locale.toString(double(value), 'g', precision);
        bool ok = false;
        if (locale.toFloat(text, &ok) == value && ok)
            return text.remove(locale.groupSeparator());
    }
    return locale.toString(double(value), 'g', 9).remove(locale.groupSeparator());
}

bool TConfigFile::Read(const QString &path, const TConfigValues &current, TConfigValues &out, const QLocale &locale)
{
    CSimpleIniA ini;
    if (!LoadIni(path, ini, nullptr))
        return false;
    const TReader r(ini, locale);
    TConfigValues v = current;
    const TConfigValues defaults;

    v.QuadripoleFile = r.Text("Name", "QuadripoleFile", current.QuadripoleFile);
    v.CoordinateFile = r.Text("Name", "CoordinateFile", current.CoordinateFile);
    v.CommentMemo = r.Text("Comment", "CommentMemo", QString());

    v.SpeedStartTxVoltage = r.Float("SpeedStartParameters", "SpeedStartTxVoltage", defaults.SpeedStartTxVoltage);
    v.SpeedStartTime = std::uint16_t(r.Int("SpeedStartParameters", "SpeedStartTime", defaults.SpeedStartTime));
    v.SpeedStartDelay = std::uint16_t(r.Int("SpeedStartParameters", "SpeedStartDelay", defaults.SpeedStartDelay));
    v.SpeedStartChannel = std::int32_t(r.Int("SpeedStartParameters", "SpeedStartChannel", defaults.SpeedStartChannel));

    TStartParameters &s = v.Start;
    const TStartParameters d;
    s.Channel = std::int32_t(r.Int("StartParameters", "Channel", d.Channel));
    s.ChannelSynchro = std::int32_t(r.Int("StartParameters", "ChannelSynchro", d.ChannelSynchro));
    s.ChannelMask = 1023;
    s.CrenMin = std::int32_t(r.Int("StartParameters", "CrenMin", d.CrenMin));
    s.CrenMax = std::int32_t(r.Int("StartParameters", "CrenMax", d.CrenMax));
    s.CrenEt = r.Float("StartParameters", "CrenEt", d.CrenEt);
    s.SetConfigValue(std::uint32_t(r.Int("StartParameters", "Config", long(d.ConfigValue()))));
    s.Reserved = 0;
    s.Time = std::uint16_t(r.Int("StartParameters", "Time", d.Time));
    s.VDly = std::uint16_t(r.Int("StartParameters", "VDly", d.VDly));
    s.MDly = std::uint16_t(r.Int("StartParameters", "MDly", d.MDly));
    for (std::size_t i = 0; i < 20; ++i)
        s.TM[i] = std::uint16_t(r.Int("StartParameters", TMKeys[i], d.TM[i]));
    s.Latitude = r.Float("StartParameters", "Latitude", 0.0f);
    s.Longitude = r.Float("StartParameters", "Longitude", 0.0f);

    v.MeasModeFlag = int(r.Int("Parameters", "MeasModeFlag", 0));
    v.StoreResistanceFlag = r.Int("Parameters", "StoreResistanceFlag", 0) != 0;
    v.AcquisitionFile = r.Text("Parameters", "AcquisitionFile", current.AcquisitionFile);
    v.DuplicateAcquisitionFile = r.Text("Parameters", "DuplicateAcquisitionFile", current.DuplicateAcquisitionFile);
    v.DuplicateAcquisition = r.Int("Parameters", "DuplicateAcquisition", 0) != 0;

    v.Port = int(r.Int("Communication", "Port", 1));
    v.IPAddress = r.Text("Communication", "IPAddress", current.IPAddress);
    v.Speed = int(r.Int("Communication", "Speed", 19200));
    v.HighSpeed = int(r.Int("Communication", "HighSpeed", 115200));
    v.HighSpeedChecked = false;
    v.DialNumber = r.Text("Communication", "DialNumber", QString());
    v.ModemConfig = r.Text("Communication", "ModemConfig", QString());
    v.Delay = int(r.Int("Communication", "Delay", 0));

    v.Devices.clear();
    CSimpleIniA::TNamesDepend keys;
    ini.GetAllKeys("Devices", keys);
    for (const auto &k : keys) {
        const QByteArray name = QByteArray(k.pItem);
        if (!name.toLower().startsWith("com"))
            continue;
        bool ok = false;
        const int n = name.mid(3).toInt(&ok);
        const QString device = r.Text("Devices", k.pItem, QString()).trimmed();
        if (ok && n >= 1 && n <= 98 && !device.isEmpty())
            v.Devices[n] = device;
    }
    out = v;
    return true;
}

QString TConfigFile::Write(const QString &path, const TConfigValues &values, const QLocale &locale)
{
    CSimpleIniA ini;
    LoadIni(path, ini, nullptr); // a new file starts empty
    TWriter w(ini, locale);
    w.Int("Parameters", "MeasModeFlag", values.MeasModeFlag);
    w.Int("Parameters", "StoreResistanceFlag", values.StoreResistanceFlag ? 1 : 0);
    w.Text("Parameters", "AcquisitionFile", values.AcquisitionFile);
    w.Text("Parameters", "DuplicateAcquisitionFile", values.DuplicateAcquisitionFile);
    w.Int("Parameters", "DuplicateAcquisition", values.DuplicateAcquisition ? 1 : 0);
    // A comment of several lines is stored on one line, as the profile format requires.
    QString comment = values.CommentMemo;
    comment.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    w.Text("Comment", "CommentMemo", comment);
    w.Text("Name", "CoordinateFile", values.CoordinateFile);
    w.Text("Name", "QuadripoleFile", values.QuadripoleFile);
    w.Int("Communication", "Port", values.Port);
    w.Int("Communication", "Speed", 19200);
    w.Int("Communication", "HighSpeed", 115200);
    w.Int("Communication", "HighSpeedChecked", values.HighSpeedChecked ? 1 : 0);
    w.Text("Communication", "IPAddress", values.IPAddress);

    w.Float("SpeedStartParameters", "SpeedStartTxVoltage", values.SpeedStartTxVoltage);
    w.Int("SpeedStartParameters", "SpeedStartTime", values.SpeedStartTime);
    w.Int("SpeedStartParameters", "SpeedStartDelay", values.SpeedStartDelay);
    w.Int("SpeedStartParameters", "SpeedStartChannel", values.SpeedStartChannel);

    const TStartParameters &s = values.Start;
    w.Int("StartParameters", "Channel", s.Channel);
    w.Int("StartParameters", "ChannelSynchro", s.ChannelSynchro);
    w.Int("StartParameters", "CrenMin", s.CrenMin);
    w.Int("StartParameters", "CrenMax", s.CrenMax);
    w.Float("StartParameters", "CrenEt", s.CrenEt);
    // Stored as a signed 32-bit integer, as other readers of these files expect.
    w.Int("StartParameters", "Config", static_cast<std::int32_t>(s.ConfigValue()));
    w.Int("StartParameters", "Time", s.Time);
    w.Int("StartParameters", "VDly", s.VDly);
    w.Int("StartParameters", "MDly", s.MDly);
    for (std::size_t i = 0; i < 20; ++i)
        w.Int("StartParameters", TMKeys[i], s.TM[i]);
    w.Float("StartParameters", "Latitude", s.Latitude);
    w.Float("StartParameters", "Longitude", s.Longitude);
    return SaveIni(path, ini);
}

QString TConfigFile::WriteKey(const QString &path, const char *section, const char *key, const QString &value)
{
    CSimpleIniA ini;
    LoadIni(path, ini, nullptr);
    ini.SetValue(section, key, ToCp1252(value).constData());
    return SaveIni(path, ini);
}

QString TConfigFile::DeviceForPort(const TConfigValues &values, int n)
{
    if (const auto it = values.Devices.find(n); it != values.Devices.end())
        return it->second;
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}
