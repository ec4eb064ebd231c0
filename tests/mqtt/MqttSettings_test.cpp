// Broker addresses and topic prefixes as a station and the fleet command read
// them, and the fields of the payloads.
#include "app/MqttReporter.h"
#include "instrument/DataRecord.h"
#include "instrument/QualityControl.h"
#include "mqtt/FleetTable.h"
#include "mqtt/MqttSettings.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cmath>
#include <limits>

TEST(MqttSettings, brokerAddressesAndTheirFaults)
{
    const struct {
        const char *Url;
        const char *Host;
        int Port;
        bool Tls;
        const char *Topic;
        const char *Error; // part of the message; empty when usable
    } cases[] = {
        {"mqtt://127.0.0.1:1883/tarnelpro/st1", "127.0.0.1", 1883, false, "tarnelpro/st1", ""},
        {"mqtt://broker.example", "broker.example", 1883, false, "", ""},
        {"mqtts://broker.example/fleet/", "broker.example", 8883, true, "fleet", ""},
        {"MQTT://h:2000//a/b", "h", 2000, false, "a/b", ""},
        {"mqtt://[::1]:1884/x", "::1", 1884, false, "x", ""},
        {"http://h/x", "", 0, false, "", "is no broker address"},
        {"127.0.0.1:1883", "", 0, false, "", "is no broker address"},
        {"mqtt:///topic", "", 0, false, "", "names no broker host"},
        {"mqtt://h/a/+/b", "", 0, false, "", "wildcards"},
        {"mqtt://h/a/%23", "", 0, false, "", "wildcards"},
        {"mqtt://h/tarnelpro/#", "", 0, false, "", "wildcards"},
        {"mqtt://h/a?x=1", "", 0, false, "", "? starts no topic"},
        {"mqtt://h/a//b", "", 0, false, "", "empty level"},
        {"mqtt://u:secret@h/x", "", 0, false, "", "PasswordFile"},
    };
    for (const auto &c : cases) {
        TMqttSettings s;
        const QString why = TMqttSettings::ParseUrl(QString::fromLatin1(c.Url), s);
        if (*c.Error) {
            EXPECT_TRUE(why.contains(QLatin1String(c.Error))) << c.Url << ": " << why.toStdString();
            continue;
        }
        EXPECT_EQ(why, "") << c.Url;
        EXPECT_EQ(s.Host, c.Host) << c.Url;
        EXPECT_EQ(s.Port, c.Port) << c.Url;
        EXPECT_EQ(s.Tls, c.Tls) << c.Url;
        EXPECT_EQ(s.Topic, c.Topic) << c.Url;
    }
    TMqttSettings s;
    ASSERT_EQ(TMqttSettings::ParseUrl("mqtt://u@h/x", s), "");
    EXPECT_EQ(s.Username, "u");
    s.Qos = 3;
    EXPECT_TRUE(s.Problem().contains("Qos must be 0, 1 or 2")) << s.Problem().toStdString();
    EXPECT_EQ(TMqttSettings::DefaultTopic().count('/'), 1) << "one level for the host name";
    EXPECT_TRUE(TMqttSettings::DefaultTopic().startsWith("tarnelpro/"));
    EXPECT_EQ(TMqttSettings::TopicProblem(TMqttSettings::DefaultTopic()), "");
}

TEST(MqttSettings, passwordFileGivesItsFirstLine)
{
    QTemporaryDir tmp;
    TMqttSettings s;
    QString password, error;
    EXPECT_TRUE(s.ReadPassword(password, error));
    EXPECT_EQ(password, "");
    s.PasswordFile = tmp.path() + "/pw";
    EXPECT_FALSE(s.ReadPassword(password, error));
    EXPECT_TRUE(error.contains(tmp.path() + "/pw")) << error.toStdString();
    QFile f(s.PasswordFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("s3cr et\r\nsecond\n");
    f.close();
    EXPECT_TRUE(s.ReadPassword(password, error));
    EXPECT_EQ(password, "s3cr et");
}

TEST(MqttPayload, timesCarryTheirOffset)
{
    const QDate day(2026, 12, 11);
    EXPECT_EQ(IsoTime(QDateTime(day, QTime(9, 5, 31), QTimeZone(3600))), "2026-12-11T09:05:31+01:00");
    EXPECT_EQ(IsoTime(QDateTime(day, QTime(9, 5, 31), QTimeZone(-9000))), "2026-12-11T09:05:31-02:30");
    EXPECT_EQ(IsoTime(QDateTime(day, QTime(0, 0), QTimeZone::utc())), "2026-12-11T00:00:00+00:00");
}

TEST(MqttPayload, groupAndFileFields)
{
    TDataRecord r[3];
    r[0].Rho = 120.5f;
    r[1].Rho = std::numeric_limits<float>::quiet_NaN(); // a failed measurement sets no bound
    r[2].Rho = 98.25f;
    QJsonObject g = TMqttReporter::GroupObject("/d/a.bin", 10, 3, r);
    EXPECT_EQ(g["file"].toString(), "/d/a.bin");
    EXPECT_EQ(g["first"].toInt(), 11);
    EXPECT_EQ(g["last"].toInt(), 13);
    EXPECT_EQ(g["records"].toInt(), 3);
    EXPECT_DOUBLE_EQ(g["rho_min"].toDouble(), 98.25);
    EXPECT_DOUBLE_EQ(g["rho_max"].toDouble(), 120.5);
    g = TMqttReporter::GroupObject("/d/a.bin", 0, 1, &r[1]);
    EXPECT_TRUE(g["rho_min"].isNull() && g["rho_max"].isNull()) << "no number rather than a made-up one";

    QTemporaryDir tmp;
    const QString path = tmp.path() + "/a.bin";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray bytes = QByteArray(1029, 'h') + QByteArray(2 * 304, 'r');
    f.write(bytes);
    f.close();
    const QJsonObject o = TMqttReporter::FileObject(path);
    EXPECT_EQ(o["path"].toString(), path);
    EXPECT_EQ(o["bytes"].toInteger(), bytes.size());
    EXPECT_EQ(o["records"].toInt(), 2);
    EXPECT_EQ(o["sha256"].toString(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

TEST(MqttPayload, groupFlagCountsUseTheConfiguredLimits)
{
    TDataRecord r[3];
    for (int i = 0; i < 3; ++i) {
        r[i].In = 50;
        r[i].Vp = 100;
        r[i].Q = 1;
        r[i].Rho = 100;
        for (int e = 0; e < 4; ++e)
            r[i].Coords[e] = float(10 * i + e);
    }
    r[0].Q = 12;
    r[1].Rho = -3;
    r[1].Q = 8; // within a MaxQ of 10, above the default 5
    r[2].In = 0.2f;
    TQualitySettings limits;
    limits.MaxQ = 10;
    TQualityControl quality(limits);
    const QJsonObject f = TMqttReporter::FlagCounts(quality, 3, r);
    EXPECT_EQ(f.size(), TQualityControl::FlagCount);
    EXPECT_EQ(f["high_q"].toInt(), 1);
    EXPECT_EQ(f["bad_rho"].toInt(), 1);
    EXPECT_EQ(f["low_current"].toInt(), 1);
    EXPECT_EQ(f["low_voltage"].toInt(), 0);
    EXPECT_EQ(f["reciprocal"].toInt(), 0);
}

TEST(FleetTable, stationsFromTheirMessages)
{
    TFleetTable t("tarnelpro");
    const QDateTime now = QDateTime::fromString("2026-12-11T10:00:00+01:00", Qt::ISODate);
    EXPECT_TRUE(t.Apply("tarnelpro/dike/status",
                        R"({"state":"measuring","group":2,"groups":5,"quadripole":11,"quadripoles":50,"period":120,"time":"2026-12-11T09:59:00+01:00"})",
                        now));
    EXPECT_TRUE(t.Apply("tarnelpro/dike/health",
                        R"({"tx_battery":12.6,"rx_battery":12.4,"temperature":31,"time":"2026-12-11T09:59:30+01:00"})", now));
    EXPECT_TRUE(t.Apply("tarnelpro/slope/status",
                        R"({"state":"waiting","until":"2026-12-12T06:00:00+01:00","period":20,"time":"2026-12-11T09:58:00+01:00"})",
                        now));
    EXPECT_TRUE(t.Apply("tarnelpro/gone/status", R"({"state":"offline"})", now));
    // Not a station's message.
    EXPECT_FALSE(t.Apply("tarnelpro/dike/log", R"({"text":"x"})", now));
    EXPECT_FALSE(t.Apply("tarnelpro/dike/status", "not json", now));
    EXPECT_FALSE(t.Apply("other/dike/status", "{}", now));
    EXPECT_FALSE(t.Apply("tarnelpro/a/b/status", "{}", now));

    const QStringList lines = t.Lines(now);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[1].startsWith("dike ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("group 2/5 (11/50)")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("12.6") && lines[1].contains("12.4") && lines[1].contains("31"));
    EXPECT_TRUE(lines[1].contains("(30 s ago)")) << lines[1].toStdString();
    EXPECT_FALSE(lines[1].endsWith("stale"));
    EXPECT_TRUE(lines[2].startsWith("gone ") && lines[2].contains("offline"));
    EXPECT_FALSE(lines[2].endsWith("stale")) << "an offline station is not stale, it is gone";
    EXPECT_TRUE(lines[3].contains("until 2026-12-12 06:00")) << lines[3].toStdString();
    // Twenty-second reports, two minutes quiet: three periods missed.
    EXPECT_TRUE(lines[3].endsWith("stale")) << lines[3].toStdString();
    // Last heard at 09:59:30, every 120 s.
    EXPECT_FALSE(TFleetTable::Stale(t.Stations["dike"], now.addSecs(330)));
    EXPECT_TRUE(TFleetTable::Stale(t.Stations["dike"], now.addSecs(331)));
}
