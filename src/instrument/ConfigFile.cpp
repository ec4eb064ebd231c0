#include "instrument/ConfigFile.h"

#include "base/IniDocument.h"
#include "base/TextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringTokenizer>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <tuple>

namespace {
const char *const TMKeys[20] = {"TM1",  "TM2",  "TM3",  "TM4",  "TM5",  "TM6",  "TM7",
                                "TM8",  "TM9",  "TM10", "TM11", "TM12", "TM13", "TM14",
                                "TM15", "TM16", "TM17", "TM18", "TM19", "TM20"};

class TReader {
public:
    explicit TReader(const TIniDocument &doc) : Doc(doc) {}

    QString Text(const char *section, const char *key, const QString &fallback) const
    {
        return Doc.Value(QString::fromLatin1(section), QString::fromLatin1(key)).value_or(fallback);
    }
    // A value that is not a whole number, or one its field cannot hold, takes
    // the fallback.
    template <typename T>
    T Int(const char *section, const char *key, T fallback, qint64 lo = std::numeric_limits<T>::min(),
          qint64 hi = std::numeric_limits<T>::max()) const
    {
        const auto text = Doc.Value(QString::fromLatin1(section), QString::fromLatin1(key));
        if (!text)
            return fallback;
        bool ok = false;
        const qint64 v = ParseFileInteger(*text, &ok);
        return ok && v >= lo && v <= hi ? static_cast<T>(v) : fallback;
    }
    float Float(const char *section, const char *key, float fallback) const
    {
        const auto text = Doc.Value(QString::fromLatin1(section), QString::fromLatin1(key));
        if (!text)
            return fallback;
        bool ok = false;
        const double v = ParseFileReal(*text, &ok);
        // Beyond the float range the conversion itself would be undefined.
        return ok && std::fabs(v) <= double(FLT_MAX) ? float(v) : fallback;
    }

private:
    const TIniDocument &Doc;
};

// Values the instrument and the window cannot work with are replaced the way
// the Configuration page's controls replace a bad entry, so that no absurd
// number reaches the instrument, the progress bar or the run's counters.
void ApplyControlRules(TConfigValues &v)
{
    TStartParameters &s = v.Start;
    if (s.Channel < 1 || s.Channel > 10)
        s.Channel = 10;
    if (s.ChannelSynchro < 0 || s.ChannelSynchro > s.Channel - 1)
        s.ChannelSynchro = 0;
    if (s.CrenMin < 1 || s.CrenMin > 999)
        s.CrenMin = 4;
    if (s.CrenMax < s.CrenMin || s.CrenMax > 999)
        s.CrenMax = s.CrenMin;
    if (!(s.CrenEt >= 0.0f && s.CrenEt <= 99.0f))
        s.CrenEt = 0.0f;
    v.SpeedStartTime = std::clamp<std::uint16_t>(v.SpeedStartTime, 15, 800);
    if (v.SpeedStartChannel < 1 || v.SpeedStartChannel > 10)
        v.SpeedStartChannel = 10;
    // No transmitter goes beyond 800 V (the Vab maximum's limit).
    if (!(v.SpeedStartTxVoltage >= 0.0f && v.SpeedStartTxVoltage <= 800.0f))
        v.SpeedStartTxVoltage = 12.0f;
    if (v.MeasModeFlag < 0 || v.MeasModeFlag > 2)
        v.MeasModeFlag = 0;
}

void Fill(TIniDocument &doc, const TConfigValues &values)
{
    const auto text = [&doc](const char *section, const char *key, const QString &value) {
        doc.SetValue(QString::fromLatin1(section), QString::fromLatin1(key), value);
    };
    const auto integer = [&text](const char *section, const char *key, qint64 value) {
        text(section, key, QString::number(value));
    };
    const auto real = [&text](const char *section, const char *key, float value) {
        text(section, key, TConfigFile::FloatText(value));
    };
    integer("Parameters", "MeasModeFlag", values.MeasModeFlag);
    integer("Parameters", "StoreResistanceFlag", values.StoreResistanceFlag ? 1 : 0);
    text("Parameters", "AcquisitionFile", values.AcquisitionFile);
    text("Parameters", "DuplicateAcquisitionFile", values.DuplicateAcquisitionFile);
    integer("Parameters", "DuplicateAcquisition", values.DuplicateAcquisition ? 1 : 0);
    // A comment of several lines is stored on one line, as the profile format requires.
    QString comment = values.CommentMemo;
    comment.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    text("Comment", "CommentMemo", comment);
    text("Name", "CoordinateFile", values.CoordinateFile);
    text("Name", "QuadripoleFile", values.QuadripoleFile);
    integer("Communication", "Port", values.Port);
    // The link's baud rates are read at each connection: what the file holds
    // stays as it is (a link set to 38400 keeps connecting after a save).
    if (!doc.Value(QStringLiteral("Communication"), QStringLiteral("Speed")))
        integer("Communication", "Speed", values.Speed);
    if (!doc.Value(QStringLiteral("Communication"), QStringLiteral("HighSpeed")))
        integer("Communication", "HighSpeed", values.HighSpeed);
    integer("Communication", "HighSpeedChecked", values.HighSpeedChecked ? 1 : 0);
    text("Communication", "IPAddress", values.IPAddress);

    real("SpeedStartParameters", "SpeedStartTxVoltage", values.SpeedStartTxVoltage);
    integer("SpeedStartParameters", "SpeedStartTime", values.SpeedStartTime);
    integer("SpeedStartParameters", "SpeedStartDelay", values.SpeedStartDelay);
    integer("SpeedStartParameters", "SpeedStartChannel", values.SpeedStartChannel);

    const TStartParameters &s = values.Start;
    integer("StartParameters", "Channel", s.Channel);
    integer("StartParameters", "ChannelSynchro", s.ChannelSynchro);
    integer("StartParameters", "CrenMin", s.CrenMin);
    integer("StartParameters", "CrenMax", s.CrenMax);
    real("StartParameters", "CrenEt", s.CrenEt);
    // Stored as a signed 32-bit integer, as other readers of these files expect.
    integer("StartParameters", "Config", static_cast<std::int32_t>(s.ConfigValue()));
    integer("StartParameters", "Time", s.Time);
    integer("StartParameters", "VDly", s.VDly);
    integer("StartParameters", "MDly", s.MDly);
    for (std::size_t i = 0; i < 20; ++i)
        integer("StartParameters", TMKeys[i], s.TM[i]);
    real("StartParameters", "Latitude", s.Latitude);
    real("StartParameters", "Longitude", s.Longitude);

    real("Quality", "MinCurrent", values.Quality.MinCurrent);
    real("Quality", "MinVoltage", values.Quality.MinVoltage);
    real("Quality", "MaxReciprocalError", values.Quality.MaxReciprocalError);

    // A configuration that never named a broker stays without the section.
    const TMqttKeys &m = values.Mqtt;
    if (!m.Broker.isEmpty()) {
        integer("Mqtt", "Publish", m.Publish ? 1 : 0);
        text("Mqtt", "Broker", m.Broker);
        text("Mqtt", "Topic", m.Topic);
        text("Mqtt", "Username", m.Username);
        text("Mqtt", "PasswordFile", m.PasswordFile);
        text("Mqtt", "CaFile", m.CaFile);
        integer("Mqtt", "Qos", m.Qos);
        integer("Mqtt", "Commands", m.Commands ? 1 : 0);
    }
}
} // namespace

QString TConfigFile::FloatText(float value)
{
    for (int digits = 6; digits <= 9; ++digits) {
        const QString text = FormatFileReal(double(value), digits);
        bool ok = false;
        if (float(ParseFileReal(text, &ok)) == value && ok)
            return text;
    }
    return FormatFileReal(double(value), 9);
}

bool TConfigFile::Read(const QString &path, const TConfigValues &current, TConfigValues &out, QString *error)
{
    TIniDocument doc;
    if (!doc.Load(path, error))
        return false;
    const TReader r(doc);
    TConfigValues v = current;
    const TConfigValues defaults;

    v.QuadripoleFile = r.Text("Name", "QuadripoleFile", current.QuadripoleFile);
    v.CoordinateFile = r.Text("Name", "CoordinateFile", current.CoordinateFile);
    v.CommentMemo = r.Text("Comment", "CommentMemo", QString());

    v.SpeedStartTxVoltage = r.Float("SpeedStartParameters", "SpeedStartTxVoltage", defaults.SpeedStartTxVoltage);
    v.SpeedStartTime = r.Int("SpeedStartParameters", "SpeedStartTime", defaults.SpeedStartTime);
    v.SpeedStartDelay = r.Int("SpeedStartParameters", "SpeedStartDelay", defaults.SpeedStartDelay);
    v.SpeedStartChannel = r.Int("SpeedStartParameters", "SpeedStartChannel", defaults.SpeedStartChannel);

    TStartParameters &s = v.Start;
    const TStartParameters d;
    s.Channel = r.Int("StartParameters", "Channel", d.Channel);
    s.ChannelSynchro = r.Int("StartParameters", "ChannelSynchro", d.ChannelSynchro);
    s.ChannelMask = 1023;
    s.CrenMin = r.Int("StartParameters", "CrenMin", d.CrenMin);
    s.CrenMax = r.Int("StartParameters", "CrenMax", d.CrenMax);
    s.CrenEt = r.Float("StartParameters", "CrenEt", d.CrenEt);
    // Written signed; files from elsewhere may hold the unsigned form.
    s.SetConfigValue(static_cast<std::uint32_t>(r.Int<qint64>(
        "StartParameters", "Config", d.ConfigValue(), std::numeric_limits<std::int32_t>::min(),
        std::numeric_limits<std::uint32_t>::max())));
    s.Reserved = 0;
    s.Time = r.Int("StartParameters", "Time", d.Time);
    s.VDly = r.Int("StartParameters", "VDly", d.VDly);
    s.MDly = r.Int("StartParameters", "MDly", d.MDly);
    for (std::size_t i = 0; i < 20; ++i)
        s.TM[i] = r.Int("StartParameters", TMKeys[i], d.TM[i]);
    s.Latitude = r.Float("StartParameters", "Latitude", 0.0f);
    s.Longitude = r.Float("StartParameters", "Longitude", 0.0f);

    v.MeasModeFlag = r.Int("Parameters", "MeasModeFlag", 0);
    v.StoreResistanceFlag = r.Int<qint64>("Parameters", "StoreResistanceFlag", 0) != 0;
    v.AcquisitionFile = r.Text("Parameters", "AcquisitionFile", current.AcquisitionFile);
    v.DuplicateAcquisitionFile = r.Text("Parameters", "DuplicateAcquisitionFile", current.DuplicateAcquisitionFile);
    v.DuplicateAcquisition = r.Int<qint64>("Parameters", "DuplicateAcquisition", 0) != 0;

    v.Port = r.Int("Communication", "Port", 1);
    v.IPAddress = r.Text("Communication", "IPAddress", current.IPAddress);
    v.Speed = r.Int("Communication", "Speed", 19200, 1);
    v.HighSpeed = r.Int("Communication", "HighSpeed", 115200, 1);
    v.HighSpeedChecked = false;
    v.DialNumber = r.Text("Communication", "DialNumber", QString());
    v.ModemConfig = r.Text("Communication", "ModemConfig", QString());
    // A pause after each byte sent; more than a second is no link at all.
    v.Delay = r.Int("Communication", "Delay", 0, 0, 1000);

    v.Devices.clear();
    for (const QString &key : doc.Keys(QStringLiteral("Devices"))) {
        if (!key.startsWith(QLatin1String("com"), Qt::CaseInsensitive))
            continue;
        bool ok = false;
        const qint64 n = ParseFileInteger(QStringView(key).mid(3), &ok);
        const QString device = doc.Value(QStringLiteral("Devices"), key).value_or(QString());
        if (ok && n >= 1 && n <= 98 && !device.isEmpty())
            v.Devices[int(n)] = device;
    }
    if (const QString broker = r.Text("Mqtt", "Broker", QString()).trimmed(); !broker.isEmpty()) {
        TMqttKeys &m = v.Mqtt;
        m.Broker = broker;
        m.Publish = r.Int<qint64>("Mqtt", "Publish", 1) != 0;
        m.Topic = r.Text("Mqtt", "Topic", QString()).trimmed();
        m.Username = r.Text("Mqtt", "Username", QString());
        m.PasswordFile = r.Text("Mqtt", "PasswordFile", QString());
        m.CaFile = r.Text("Mqtt", "CaFile", QString());
        m.Qos = r.Int("Mqtt", "Qos", 1, 0, 2);
        m.Commands = r.Int<qint64>("Mqtt", "Commands", 0) != 0;
    }
    // A floor or limit that is no number >= 0 takes its default.
    const TQualityKeys dq;
    for (auto [key, value, fallback] : {std::tuple{"MinCurrent", &v.Quality.MinCurrent, dq.MinCurrent},
                                        std::tuple{"MinVoltage", &v.Quality.MinVoltage, dq.MinVoltage},
                                        std::tuple{"MaxReciprocalError", &v.Quality.MaxReciprocalError,
                                                   dq.MaxReciprocalError}}) {
        const float f = r.Float("Quality", key, fallback);
        *value = f >= 0 ? f : fallback;
    }
    ApplyControlRules(v);
    out = v;
    return true;
}

QString TConfigFile::WriteFrom(const QString &source, const QString &target, const TConfigValues &values)
{
    TIniDocument doc;
    QString error;
    // A new file starts empty; one that is there but unreadable is not replaced.
    if (!doc.Load(source, &error) && QFileInfo::exists(source))
        return error;
    Fill(doc, values);
    return doc.Save(target);
}

QString TConfigFile::Write(const QString &path, const TConfigValues &values) { return WriteFrom(path, path, values); }

QString TConfigFile::Text(const TConfigValues &values)
{
    TIniDocument doc;
    Fill(doc, values);
    return doc.Text();
}

QString TConfigFile::NotAConfiguration(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("a folder");
    if (!info.isFile())
        return QStringLiteral("not a regular file");
    // Far beyond any configuration: a data file or an export.
    constexpr qint64 Largest = 1 << 20;
    if (info.size() > Largest)
        return QStringLiteral("%1 bytes").arg(info.size());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const QByteArray bytes = file.readAll();
    const bool utf16 = bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
    if (!utf16 && bytes.contains('\0'))
        return QStringLiteral("binary data");
    QString text;
    if (utf16) {
        QStringDecoder decode(bytes.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        text = decode(QByteArrayView(bytes).sliced(2));
    } else {
        text = DecodeText(bytes);
    }
    if (text.trimmed().isEmpty())
        return {};
    for (QStringView line : QStringTokenizer(text, QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.indexOf(QLatin1Char(']')) > 1)
            return {};
    }
    return QStringLiteral("no [section] in it");
}

QString TConfigFile::WriteKey(const QString &path, const char *section, const char *key, const QString &value)
{
    TIniDocument doc;
    QString error;
    if (!doc.Load(path, &error) && QFileInfo::exists(path))
        return error;
    doc.SetValue(QString::fromLatin1(section), QString::fromLatin1(key), value);
    return doc.Save(path);
}

QString TConfigFile::DeviceForPort(const TConfigValues &values, int n)
{
    if (const auto it = values.Devices.find(n); it != values.Devices.end())
        return it->second;
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}
