#include "instrument/FakeInstrument.h"
#include "instrument/VoltixProGen.h"
#include "instrument/Wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <string>
#include <utility>

namespace {
struct TProtocolFixture : ::testing::Test {
    TScriptedUi Ui;
    TFakeClock Clock;
    TFakePort Port{Ui, Clock};
    TFakeInstrument Instrument{Port};
    std::unique_ptr<TVoltixPro> Model = std::make_unique<TVoltixPro>(Ui, Clock);

    TVoltixProGen &Connect(std::uint32_t typeCode)
    {
        Model->Port = &Port;
        EXPECT_TRUE(Model->ChooseProtocol(typeCode));
        return static_cast<TVoltixProGen &>(Model->Protocol());
    }
    QByteArray SentAfter(int command) { return Instrument.Sent[command]; }
};

QByteArray RecordsWithFirstBytes(int recordSize, int count)
{
    QByteArray r(recordSize * 10, '\0');
    for (int k = 0; k < count; ++k)
        r[k * recordSize] = char(count * 16 + k);
    return r;
}
} // namespace

TEST_F(TProtocolFixture, unknownTypeCodeKeepsTheCurrentProtocolObject)
{
    TVoltixProVxx *before = &Model->Protocol();
    EXPECT_FALSE(Model->ChooseProtocol(0x12345678));
    EXPECT_EQ(&Model->Protocol(), before);
    EXPECT_EQ(Model->Protocol().RunMeasurement(), 0) << "the do-nothing object";
    EXPECT_TRUE(Model->ChooseProtocol(0x10000003));
    EXPECT_EQ(Model->Protocol().Table()->Generation, 2);
    EXPECT_TRUE(Model->ChooseProtocol(0x10000001));
    EXPECT_EQ(Model->Protocol().Table()->Generation, 1);
}

TEST_F(TProtocolFixture, setParametersMergesTheRecordAndClampsTheChannelsToTheInstrument)
{
    auto &gen = Connect(TypeCodeV2);
    Instrument.Description = Le<std::int32_t>(8) + QByteArray(172, '\0');
    Instrument.Parameters = QByteArray(216, '\x5A');
    TStartParameters p;
    p.Channel = 10;
    p.CrenMax = 33;
    p.Latitude = 4523.456f;
    gen.SetParameters(p);

    EXPECT_EQ(Instrument.Commands, (std::vector<int>{30, 28, 29}));
    const QByteArray sent = SentAfter(29);
    ASSERT_EQ(sent.size(), 216);
    EXPECT_EQ(GetLE<std::int32_t>(std::span(reinterpret_cast<const std::uint8_t *>(sent.constData()), 216), 0), 8);
    TStartParameters expected = p;
    expected.Channel = 8;
    EXPECT_EQ(sent.left(92), QByteArray(reinterpret_cast<const char *>(&expected), 92));
    EXPECT_EQ(sent.mid(92), QByteArray(124, '\x5A')) << "the instrument's own bytes go back unchanged";
}

TEST_F(TProtocolFixture, negativeChannelCountIsComparedUnsigned)
{
    auto &gen = Connect(TypeCodeV2);
    TStartParameters p;
    p.Channel = 12;
    gen.SetParameters(p);
    EXPECT_EQ(std::uint8_t(SentAfter(29)[0]), 10);
    p.Channel = -1; // as unsigned, larger than any instrument
    gen.SetParameters(p);
    EXPECT_EQ(std::uint8_t(SentAfter(29)[0]), 10);
}

TEST_F(TProtocolFixture, restartFlagFollowsTheCommandLineInGenerationTwoOnly)
{
    EXPECT_TRUE(TVoltixPro::RestartRequested({"tarnelpro", "xxRESTARTyy"}));
    EXPECT_FALSE(TVoltixPro::RestartRequested({"tarnelpro", "restart"}));
    EXPECT_FALSE(TVoltixPro::RestartRequested({"tarnelpro", "a", "RESTART"}));

    auto &gen = Connect(TypeCodeV2);
    TStartParameters p;
    p.Config[3] = 0x85;
    Model->RestartFlag = false;
    gen.SetParameters(p);
    EXPECT_EQ(std::uint8_t(SentAfter(29)[27]), 0x05);
    Model->RestartFlag = true;
    p.Config[3] = 0x05;
    gen.SetParameters(p);
    EXPECT_EQ(std::uint8_t(SentAfter(29)[27]), 0x85);

    auto &v1 = Connect(TypeCodeV1);
    Instrument.Parameters = QByteArray(196, '\0');
    p.Config[3] = 0x85;
    Model->RestartFlag = false;
    v1.SetParameters(p);
    ASSERT_EQ(SentAfter(29).size(), 196);
    EXPECT_EQ(std::uint8_t(SentAfter(29)[27]), 0x85) << "generation 1 leaves the flag as it is";
}

TEST_F(TProtocolFixture, anAbsurdStackMaximumKeepsTheProgressRangeInBounds)
{
    TStartParameters p;
    p.CrenMax = std::numeric_limits<std::int32_t>::max();
    Instrument.Parameters = QByteArray(reinterpret_cast<const char *>(&p), 136) + QByteArray(80, '\0');
    auto &gen = Connect(TypeCodeV2);
    gen.GetParameters();
    Instrument.RunScript = "ST";
    gen.RunMeasurement();
    EXPECT_EQ(Ui.ProgressMax, 999 + 3);
}

TEST_F(TProtocolFixture, runDialogueReturnsTheAnnouncedCountAndStoresTheRecords)
{
    TStartParameters p;
    Instrument.Parameters = QByteArray(reinterpret_cast<const char *>(&p), 136) + QByteArray(80, '\0');
    auto &gen = Connect(TypeCodeV2);
    gen.GetParameters();
    Instrument.RunScript = QByteArray("GO") + Le<std::int32_t>(10) + "+-+-OK";
    Instrument.Records = RecordsWithFirstBytes(260, 10);
    EXPECT_EQ(gen.RunMeasurement(), 10);
    EXPECT_EQ(Ui.ProgressPeak, 2);
    EXPECT_EQ(Ui.ProgressMax, 16 + 3) << "stack maximum of the parameter block + 3";
    EXPECT_EQ(gen.ChannelRecord(9)[0], 0xA9);
    EXPECT_FALSE(Ui.Busy);
}

TEST_F(TProtocolFixture, runDialogueFailures)
{
    const struct {
        const char *name;
        QByteArray script;
    } cases[] = {
        {"unknown first token", QByteArray("XX") + Le<std::int32_t>(10)},
        {"silence", QByteArray()},
        {"half a token", QByteArray("G")},
    };
    for (const auto &c : cases) {
        TScriptedUi ui;
        TFakeClock clock;
        TFakePort port(ui, clock);
        TFakeInstrument instrument(port);
        instrument.RunScript = c.script;
        instrument.RunSendsRecords = false;
        auto model = std::make_unique<TVoltixPro>(ui, clock);
        model->Port = &port;
        model->ChooseProtocol(TypeCodeV2);
        EXPECT_EQ(model->Protocol().RunMeasurement(), 0) << c.name;
        if (c.script.startsWith("XX")) {
            EXPECT_EQ(port.Rx.size(), 4u) << "the count is not read after an unknown token";
        }
    }
}

TEST_F(TProtocolFixture, recordCountAndRecordsAreCheckedAgainstTheGroup)
{
    // The group of 4 is what SetChannelCount sent; records carry index k of 4.
    const auto records = [](int count, int badIndexAt = -1) {
        QByteArray r(260 * count, '\0');
        for (int k = 0; k < count; ++k)
            r[k * 260] = char(4 * 16 + (k == badIndexAt ? 7 : k));
        return r;
    };
    const auto go = [](std::int32_t count) { return QByteArray("GO") + Le<std::int32_t>(count) + "+-"; };
    const struct {
        const char *name;
        QByteArray script; // up to "OK" when a block follows
        QByteArray block;  // empty: no block, the script holds the end
        int result;
    } cases[] = {
        {"count = group", go(4) + "OK", records(4), 4},
        {"count below the group", go(2) + "OK", records(2), 2},
        {"count above the group", go(5) + "OK", records(5), TVoltixProVxx::WrongGroup},
        {"count above the ten records", go(12) + "OK", records(10), TVoltixProVxx::WrongGroup},
        {"zero", go(0) + "ST:>", {}, 0},
        {"negative", go(-3) + "OK", records(4), TVoltixProVxx::WrongGroup},
        {"short block", go(4) + "OK", records(4).left(3 * 260 + 50), TVoltixProVxx::WrongGroup},
        {"no block before ST", go(4) + "XXST:>", {}, TVoltixProVxx::WrongGroup},
        {"channel index outside the group", go(4) + "OK", records(4, 2), TVoltixProVxx::WrongGroup},
    };
    auto &gen = Connect(TypeCodeV2);
    gen.SetChannelCount(4);
    for (const auto &c : cases) {
        // A whole earlier group marks every byte its records fill.
        Instrument.RunScript = go(4) + "OK";
        Instrument.RunSendsRecords = true;
        Instrument.Records = QByteArray(4 * 260, '\x77');
        for (int k = 0; k < 4; ++k)
            Instrument.Records[k * 260] = char(4 * 16 + k);
        ASSERT_EQ(gen.RunMeasurement(), 4) << c.name;

        Instrument.RunScript = c.script;
        Instrument.RunSendsRecords = !c.block.isEmpty();
        Instrument.Records = c.block;
        EXPECT_EQ(gen.RunMeasurement(), c.result) << c.name;
        EXPECT_EQ(gen.MeasurementFault().isEmpty(), c.result >= 0) << c.name;
        EXPECT_EQ(gen.ChannelRecord(3)[200], 0) << c.name << ": nothing of the earlier group stays";
        Port.Rx.clear(); // the prompt after "ST" is the caller's
    }
}

TEST_F(TProtocolFixture, changeModeSendsTheModeThenTheValueOneAfterHalfASecond)
{
    auto &gen = Connect(TypeCodeV2);
    gen.ChangeMode(0);
    EXPECT_EQ(SentAfter(37), Le<std::int32_t>(0));
    const auto slept = Clock.Slept;
    gen.ChangeMode(3);
    EXPECT_EQ(SentAfter(37), Le<std::int32_t>(3) + Le<std::uint16_t>(1));
    EXPECT_GE(Clock.Slept - slept, 500);
}

TEST_F(TProtocolFixture, electrodeSwitchAndRelease)
{
    auto &gen = Connect(TypeCodeV2);
    TElectrodeList list{};
    list[0] = 1;
    list[1] = 4;
    list[2] = 2;
    list[3] = 3;
    list[12] = -2;
    gen.SwitchElectrodes(list);
    QByteArray expected = Le<std::uint16_t>(1);
    for (auto e : list)
        expected += Le<std::int16_t>(e);
    EXPECT_EQ(SentAfter(41), expected);
    gen.ReleaseElectrodes();
    EXPECT_EQ(SentAfter(41), Le<std::uint16_t>(1) + QByteArray(26, '\0'));
}

TEST_F(TProtocolFixture, speedMeasureDecodesBothPulsesIntoTheGroupRecords)
{
    auto &gen = Connect(TypeCodeV2);
    gen.GetDescription();
    Model->SpeedStartChannel = 4;
    Model->SpeedStartTime = 25;
    Model->SpeedStartTxVoltage = 48.0f;
    Model->StartParameters.Longitude = -1234.5f;
    Model->ShownHealth = [] { return std::array<float, 3>{12.5f, 12.25f, 41.0f}; };
    std::vector<float> answer(22, 0.0f);
    answer[0] = 30.0f;  // channel 1, positive pulse
    answer[11] = -10.0f; // channel 1, negative pulse
    answer[10] = 50.0f;
    answer[21] = -50.0f;
    Instrument.SpeedAnswer = answer;
    TElectrodeList list{};
    list[0] = 7;
    gen.SpeedMeasure(list, true);

    const QByteArray sent = SentAfter(34);
    EXPECT_EQ(sent.left(10), Le(48.0f) + Le<std::uint16_t>(25) + Le<std::uint16_t>(12) + Le<std::uint16_t>(1));
    EXPECT_EQ(sent.mid(10, 2), Le<std::int16_t>(7));
    EXPECT_EQ(std::uint8_t(sent[36]), 0x55);
    EXPECT_EQ(std::uint8_t(sent[37]), 0x00);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(gen.ChannelRecord(k)[0], 0x40 + k);
    EXPECT_EQ(gen.ChannelRecord(4)[0], 0) << "records past the group are left alone";
    auto r = gen.ChannelRecord(0);
    EXPECT_EQ(GetLE<float>(r, 164), 10.0f);  // Sp
    EXPECT_EQ(GetLE<float>(r, 168), 20.0f);  // Vp
    EXPECT_EQ(GetLE<float>(r, 172), 50.0f);  // In
    EXPECT_EQ(GetLE<float>(r, 132), 0.4f);   // Vp / In
    EXPECT_EQ(GetLE<float>(r, 148), 48.0f);  // Vab
    EXPECT_EQ(GetLE<float>(r, 152), 12.5f);
    EXPECT_EQ(GetLE<float>(r, 160), 41.0f);
    EXPECT_EQ(GetLE<float>(r, 64), -1234.5f);
    EXPECT_EQ(GetLE<std::uint16_t>(r, 12), 25);

    answer[10] = answer[21] = 0.0f;
    Instrument.SpeedAnswer = answer;
    gen.SpeedMeasure(list, false);
    EXPECT_EQ(GetLE<float>(gen.ChannelRecord(0), 132), 0.0f) << "no current, no resistance";
    EXPECT_EQ(GetLE<float>(gen.ChannelRecord(0), 148), 0.0f) << "voltage only when asked";
}

TEST_F(TProtocolFixture, speedMeasureRepeatsARefusedCommandInGenerationTwo)
{
    auto &gen = Connect(TypeCodeV2);
    gen.GetDescription();
    Instrument.SpeedAnswer = std::vector<float>(22, 0.0f);
    // The first two command bytes are answered with 0xFF six times each.
    int refusals = 12;
    auto inner = Port.OnWrite;
    int pending = 0;
    Port.OnWrite = [&](std::uint8_t b) {
        if (b == 34 && refusals > 0) {
            pending = 1;
            return;
        }
        if (pending && b == std::uint8_t(34 ^ 0xFF)) {
            pending = 0;
            --refusals;
            Port.Feed({0xFF});
            return;
        }
        inner(b);
    };
    gen.SpeedMeasure(TElectrodeList{}, false);
    EXPECT_EQ(refusals, 0);
    EXPECT_EQ(std::uint8_t(SentAfter(34)[36]), 0x55);
}

// An instrument that answers 0xFF to every attempt of a command has heard it
// and says no: that is said at once, naming the command, and is never taken
// for an instrument that stopped answering. Fewer refusals are retried away.
TEST_F(TProtocolFixture, aCommandRefusedAtEveryAttemptIsReportedAsRefused)
{
    auto &gen = Connect(TypeCodeV2);
    for (const int refusals : {5, 6}) {
        SCOPED_TRACE(refusals);
        int left = refusals;
        bool pending = false;
        const auto inner = Port.OnWrite;
        Port.OnWrite = [&](std::uint8_t b) {
            if (b == 28 && left > 0) {
                pending = true;
                return;
            }
            if (pending && b == std::uint8_t(28 ^ 0xFF)) {
                pending = false;
                --left;
                Port.Feed({0xFF});
                return;
            }
            inner(b);
        };
        const std::int64_t start = Clock.Now;
        try {
            gen.GetParameters();
            EXPECT_EQ(refusals, 5);
        } catch (const ERefusedError &e) {
            EXPECT_EQ(refusals, 6);
            EXPECT_EQ(e.Message(), "the instrument refused command 28 (\"Get parameter\")");
        } catch (const ETarnelError &e) {
            ADD_FAILURE() << e.Message().toStdString();
        }
        EXPECT_LT(Clock.Now - start, 10000) << "no wait for an answer that cannot come";
        Port.OnWrite = inner;
    }
}

TEST_F(TProtocolFixture, resistanceReadsStoreTheirValuesWhereEachGenerationKeepsThem)
{
    for (std::uint32_t type : {TypeCodeV2, TypeCodeV1}) {
        auto &gen = Connect(type);
        Instrument.Floats = {0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f, 7.5f, 8.5f, 9.5f};
        Instrument.Sent[43].clear();
        gen.ReadRxResistances();
        const int offset = type == TypeCodeV2 ? 144 : 124;
        for (int k = 0; k < 10; ++k)
            EXPECT_EQ(GetLE<float>(gen.ChannelRecord(k), offset), 0.5f + k) << type << " channel " << k;
        QByteArray indexes;
        for (int k = 0; k < 10; ++k)
            indexes += Le<std::int32_t>(k);
        EXPECT_EQ(Instrument.Sent[43], indexes);
    }
    Instrument.Floats = {7.25f};
    Instrument.Sent[43].clear();
    Model->Protocol().ReadResistance();
    EXPECT_EQ(Model->Resistance, 7.25f);
    EXPECT_EQ(Instrument.Sent[43], Le<std::int32_t>(0));
    Instrument.Floats = {3.0f};
    EXPECT_EQ(Model->Protocol().ReadTxResistance(), 3.0f);
}

TEST_F(TProtocolFixture, gpsAnswerLongerThanFourBytesIsCut)
{
    auto &gen = Connect(TypeCodeV2);
    Ui.InputAnswers = {"GPRMCXYZ"};
    Instrument.GpsAnswer = Le<std::int32_t>(9) + QByteArray("ABCDEFGHI");
    std::array<std::uint8_t, 4> out{};
    gen.GetGpsData(out);
    EXPECT_EQ(SentAfter(42), QByteArray("GPRMC"));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(out.data()), 4), QByteArray("ABCD"));
    EXPECT_EQ(Ui.Prompts, QStringList{"Enter NMEA sentence"});

    Ui.InputAnswers = {"GP"};
    Instrument.GpsAnswer = Le<std::int32_t>(-3);
    gen.GetGpsData(out);
    EXPECT_EQ(SentAfter(42), QByteArray("GP\0\0\0", 5));
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
}

namespace {
// A connection of its own: a case that breaks off an exchange leaves the
// instrument's side where it stood.
struct TOwnLink {
    TScriptedUi Ui;
    TFakeClock Clock;
    TFakePort Port{Ui, Clock};
    TFakeInstrument Instrument{Port};
    std::unique_ptr<TVoltixPro> Model = std::make_unique<TVoltixPro>(Ui, Clock);

    TVoltixProGen &Gen()
    {
        Model->Port = &Port;
        Model->ChooseProtocol(TypeCodeV2);
        return static_cast<TVoltixProGen &>(Model->Protocol());
    }
};
} // namespace

// What a run does with a records block that failed follows the kind of the
// failure, never its words: a checksum failure on a live link is a group to
// measure again; a timeout, a lost link or Stop ends the measurement.
TEST(TProtocolErrors, aFailedRecordsBlockIsMeasuredAgainOnlyForAChecksumFailureOnALiveLink)
{
    const struct {
        const char *name;
        TErrorKind kind;
        const char *message;
        bool linkDown;
        bool again;
    } cases[] = {
        {"checksum", TErrorKind::Checksum, "Port err. block transfer", false, true},
        {"checksum, other words", TErrorKind::Checksum, "block 3 failed its check value", false, true},
        {"checksum, link gone meanwhile", TErrorKind::Checksum, "Port err. block transfer", true, false},
        {"timeout in a block failure's words", TErrorKind::Timeout, "Port err. block transfer", false, false},
        {"no kind, a block failure's words", TErrorKind::General, "Port err. block transfer", false, false},
        {"link lost", TErrorKind::LinkLost, "Port err. Getcom", false, false},
        {"stopped", TErrorKind::Interrupted, "Stopped by user", false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TOwnLink link;
        TVoltixProGen &gen = link.Gen();
        link.Instrument.RunScript = QByteArray("GO") + Le<std::int32_t>(10) + "OK";
        link.Instrument.Records = RecordsWithFirstBytes(260, 10);
        bool running = false;
        link.Instrument.DuringRun = [&] { running = true; };
        const auto inner = link.Port.OnWrite;
        link.Port.OnWrite = [&](std::uint8_t b) {
            // The PC's 0 that asks for the records block.
            if (running && b == 0) {
                running = false;
                if (c.linkDown)
                    link.Port.State = 0;
                throw ETarnelError(c.kind, c.message);
            }
            inner(b);
        };
        const int flushes = link.Port.Flushes;
        try {
            const int result = gen.RunMeasurement();
            EXPECT_TRUE(c.again);
            EXPECT_EQ(result, TVoltixProVxx::WrongGroup);
            EXPECT_EQ(gen.MeasurementFault(), "the records block failed");
            EXPECT_GT(link.Port.Flushes, flushes) << "the rest of the block is dropped";
        } catch (const ETarnelError &e) {
            EXPECT_FALSE(c.again) << e.Message().toStdString();
            EXPECT_EQ(e.Kind(), c.kind);
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

// A command the instrument refuses or leaves unanswered ends the operation
// there, with its kind: none of the command's data goes out, and nothing is
// read as the answer of a command that was never taken.
TEST(TProtocolErrors, aCommandNotTakenEndsTheOperationWithItsKind)
{
    const struct {
        const char *name;
        std::uint8_t code;
        int taken; // times the command is accepted before it is not
        std::function<void(TVoltixProGen &)> run;
    } operations[] = {
        {"GetParameters", 28, 0, [](TVoltixProGen &g) { g.GetParameters(); }},
        {"SendParameters", 29, 0, [](TVoltixProGen &g) { g.SendParameters(); }},
        {"ChangeMode", 37, 0, [](TVoltixProGen &g) { g.ChangeMode(3); }},
        {"SwitchElectrodes", 41, 0, [](TVoltixProGen &g) { g.SwitchElectrodes(TElectrodeList{1, 2, 3, 4}); }},
        {"ReadResistance", 43, 0, [](TVoltixProGen &g) { g.ReadResistance(); }},
        {"ReadRxResistances, second channel", 43, 1, [](TVoltixProGen &g) { g.ReadRxResistances(); }},
        {"RunMeasurement", 32, 0, [](TVoltixProGen &g) { g.RunMeasurement(); }},
    };
    for (const bool refuse : {true, false}) {
        for (const auto &op : operations) {
            SCOPED_TRACE(std::string(op.name) + (refuse ? ", refused" : ", unanswered"));
            TOwnLink link;
            TVoltixProGen &gen = link.Gen();
            link.Instrument.RunScript = QByteArray("GO") + Le<std::int32_t>(0) + "ST:>";
            link.Instrument.RunSendsRecords = false;
            const auto inner = link.Port.OnWrite;
            bool pending = false;
            link.Port.OnWrite = [&](std::uint8_t b) {
                const auto &done = link.Instrument.Commands;
                if (!pending && b == op.code && std::count(done.begin(), done.end(), op.code) >= op.taken) {
                    pending = true;
                    return;
                }
                if (std::exchange(pending, false) && b == std::uint8_t(op.code ^ 0xFF)) {
                    if (refuse)
                        link.Port.Feed({0xFF});
                    return;
                }
                inner(b);
            };
            try {
                op.run(gen);
                ADD_FAILURE() << "no error";
            } catch (const ETarnelError &e) {
                EXPECT_EQ(e.Kind(), refuse ? TErrorKind::Refused : TErrorKind::Timeout);
                EXPECT_EQ(e.Message(), refuse ? TPortVirt::RefusedText(op.code) : QStringLiteral("Port err. Setcmd"));
            }
            const QByteArray pair = QByteArray(1, char(op.code)) + char(op.code ^ 0xFF);
            EXPECT_TRUE(link.Port.Tx.endsWith(pair))
                << "sent after the command: " << link.Port.Tx.right(8).toHex().toStdString();
            EXPECT_FALSE(link.Ui.Busy);
        }
    }
}
