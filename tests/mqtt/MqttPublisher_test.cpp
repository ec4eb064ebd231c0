// The publisher's bounded queue and the report's count of what it dropped,
// observed on a real broker.
#include "app/RecordingView.h"
#include "app/Shell.h"
#include "mqtt/Broker.h"
#include "mqtt/MqttPublisher.h"
#include "support/FakeClock.h"
#include "support/ScriptedUi.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

namespace {
struct TQueueFixture : ::testing::Test {
    QTemporaryDir Tmp;
    void SetUp() override { REQUIRE_MOSQUITTO(); }
};
} // namespace

TEST_F(TQueueFixture, aFullQueueDropsTheOldestHealthAndLogFirst)
{
    TBroker broker(Tmp.path(), FreePort());
    ASSERT_TRUE(broker.Start());
    TSubscriber sub(broker.Port, "q/#");
    ASSERT_TRUE(sub.Ready());

    TMqttSettings settings;
    ASSERT_EQ(TMqttSettings::ParseUrl(broker.Url("q"), settings), "");
    TMqttPublisher::TLimits limits;
    limits.Queue = 4;
    TMqttPublisher p(settings, QString(), limits);
    using K = TMqttPublisher::TKind;
    // Queued before the client starts: as if the broker had been away.
    const struct {
        K Kind;
        const char *Name;
    } sent[] = {{K::Group, "g1"}, {K::Log, "l1"}, {K::Health, "h1"}, {K::Log, "l2"}, {K::Group, "g2"},
                {K::File, "f1"},  {K::Health, "h2"}, {K::Group, "g3"}, {K::Log, "l3"}};
    for (const auto &s : sent)
        p.Publish(s.Kind, QString::fromLatin1(s.Name).left(1), s.Name);
    EXPECT_EQ(p.Queued(), 4u);
    EXPECT_EQ(p.TakeDropped(), 5u);
    EXPECT_EQ(p.TakeDropped(), 0u) << "counted once";
    p.Start();
    ASSERT_TRUE(sub.WaitFor([](const TMessage &m) { return m.Payload == "g3"; }, 10000));
    QStringList got;
    for (const TMessage &m : sub.Messages())
        got << QString::fromUtf8(m.Payload);
    EXPECT_EQ(got, (QStringList{"g1", "g2", "f1", "g3"})) << "groups and files kept, in order";

    // With nothing expendable left, the oldest group makes room; a newer
    // status replaces one still waiting.
    TMqttPublisher full(settings, QString(), limits);
    for (const char *name : {"g1", "g2", "g3", "g4", "g5"})
        full.Publish(K::Group, "g", name);
    full.Publish(K::Status, "status", "s1", true);
    full.Publish(K::Status, "status", "s2", true);
    EXPECT_EQ(full.Queued(), 4u);
    EXPECT_EQ(full.TakeDropped(), 2u);
    full.Start();
    ASSERT_TRUE(sub.WaitFor([](const TMessage &m) { return m.Payload == "s2"; }, 10000));
    got.clear();
    for (const TMessage &m : sub.Messages())
        got << QString::fromUtf8(m.Payload);
    EXPECT_EQ(got.mid(4), (QStringList{"g3", "g4", "g5", "s2"}));
}

TEST_F(TQueueFixture, whatTheQueueDroppedIsSaidInTheNextStatus)
{
    // The broker is away while the station logs more than the queue holds.
    const int port = FreePort();
    const QString data = Tmp.path() + "/data";
    qputenv("TARNELPRO_DATA_DIR", data.toLocal8Bit());
    TScriptedUi ui;
    TRecordingView view;
    TFakeClock clock;
    TShell shell(ui, view, clock, TShell::TOptions{false});
    TBroker broker(Tmp.path(), port);
    shell.MqttOverride = broker.Url("st");
    shell.ApplyMqtt();
    ASSERT_NE(shell.Observer, nullptr);
    for (int i = 0; i < 2100; ++i)
        shell.EventLog.Add(QStringLiteral("line %1").arg(i));
    shell.Report().Failed(QStringLiteral("Link lost"));

    ASSERT_TRUE(broker.Start());
    TSubscriber sub(port, "st/#");
    ASSERT_TRUE(sub.Ready());
    // The status is retained: whenever the station reconnects, it is there.
    QJsonObject status;
    for (int i = 0; i < 100 && status.isEmpty(); ++i) {
        QCoreApplication::processEvents();
        status = QJsonDocument::fromJson(Retained(port, "st/status")).object();
    }
    EXPECT_EQ(status["state"].toString(), "error");
    EXPECT_EQ(status["reason"].toString(), "Link lost");
    EXPECT_GE(status["dropped"].toInt(), 100) << "2100 lines into a queue of 2000";
    shell.Observer.reset();
    qunsetenv("TARNELPRO_DATA_DIR");
}
