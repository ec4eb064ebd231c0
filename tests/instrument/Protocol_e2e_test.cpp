// The protocol objects of both generations against voltix-sim, over a pty
// and over TCP: identification, parameter merge, one measured group, and its
// data records checked field by field.
#include "link/EventLoopUi.h"
#include "link/SimProcess.h"

#include "base/Clock.h"
#include "instrument/DataFile.h"
#include "instrument/VoltixProGen.h"
#include "instrument/Wire.h"
#include "link/PortCOM.h"
#include "link/PortIP.h"
#include "survey/Geometry.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>

namespace {
struct TCase {
    const char *name;
    bool pty;
    int generation;
    int channels;
};

class TProtocolE2e : public ::testing::TestWithParam<TCase> {};

// Ten chained dipoles with A = 1, B = 2 on a 5 m line.
void Survey(TVoltixPro &m, const QString &coords)
{
    QFile f(coords);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# Num X Y Z\r\n");
    for (int n = 1; n <= 14; ++n) {
        f.write(QStringLiteral("%1 %2 0 %3\r\n").arg(n).arg(5 * n).arg(0.5 * n).toLatin1());
        m.Nodes[std::size_t(n)] = Node{5.0f * float(n), 0.0f, 0.5f * float(n), n};
    }
    m.NodeCount = 14;
    m.QuadCount = 10;
    for (int k = 0; k < 10; ++k)
        m.Quads[std::size_t(k)] = Quadripole{1, 2, 3 + k, 4 + k, k == 4 ? -1 : 0};
}
} // namespace

TEST_P(TProtocolE2e, identifyMergeParametersMeasureAndStore)
{
    const TCase c = GetParam();
    QTemporaryDir tmp;
    TEventLoopUi ui;
    auto model = std::make_unique<TVoltixPro>(ui, SystemClock());
    Survey(*model, tmp.path() + "/coords.txt");

    QStringList args = {"--time-scale", "0", "--generation", QString::number(c.generation), "--channels",
                        QString::number(c.channels), "--coordinates", tmp.path() + "/coords.txt"};
    if (c.pty)
        args << "--pty" << tmp.path() + "/tty";
    else
        args << "--tcp" << "127.0.0.1:0";
    TSimProcess sim(args);
    ASSERT_FALSE(sim.Where().isEmpty());

    std::unique_ptr<TPortVirt> port;
    int opened = 0;
    if (c.pty) {
        auto serial = std::make_unique<TPortCOM>(ui, SystemClock());
        serial->SetDevicePath(tmp.path() + "/tty");
        port = std::move(serial);
        opened = port->Connect(1, 19200, QString(), false, QString(), 0);
    } else {
        port = std::make_unique<TPortIP>(ui, SystemClock());
        opened = port->Connect(100, 19200, sim.TcpAddress(), false, QString(), 0);
    }
    ASSERT_GT(opened, 0);
    model->Port = port.get();

    QByteArray second, first;
    ASSERT_TRUE(port->Identify(second, first));
    std::array<std::uint8_t, 4> type{};
    port->ReadExact(type);
    std::uint32_t code = 0;
    std::memcpy(&code, type.data(), 4);
    ASSERT_TRUE(model->ChooseProtocol(code));
    port->WaitPrompt();
    auto &gen = static_cast<TVoltixProGen &>(model->Protocol());
    EXPECT_EQ(gen.Table()->Generation, c.generation);

    // Parameters: ten channels asked, the instrument's count sent.
    TStartParameters p;
    p.Channel = 10;
    p.CrenMax = 6;
    p.Latitude = 4523.456f;
    // Rho and IP: the instrument measures its windows (in "Rho only" it has none).
    p.SetRhoOnly(false);
    gen.SetParameters(p);
    EXPECT_EQ(gen.InstrumentChannels(), c.channels);
    gen.GetParameters();
    EXPECT_EQ(GetLE<std::int32_t>(gen.ParameterBlock(), 0), c.channels);
    EXPECT_EQ(GetLE<std::int32_t>(gen.ParameterBlock(), 16), 6);
    EXPECT_EQ(GetLE<float>(gen.ParameterBlock(), 80), 4523.456f);

    // One group.
    int n = c.channels;
    TElectrodeList electrodes{};
    model->GroupChannels(0, n, electrodes);
    ASSERT_EQ(n, c.channels);
    gen.ChangeMode(0);
    gen.SwitchElectrodes(electrodes);
    gen.SetChannelCount(n);
    const int count = gen.RunMeasurement();
    ASSERT_EQ(count, n);
    const QString file = tmp.path() + "/run.bin";
    gen.CreateDataFile(file, "e2e");
    TRecordArray records{};
    gen.AppendRecords(file, count, 0, records, false);
    port->WaitPrompt();
    gen.ReleaseElectrodes();

    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_EQ(bytes.size(), 1029 + count * 304);
    for (int k = 0; k < count; ++k) {
        TDataRecord r;
        std::memcpy(&r, bytes.constData() + 1029 + k * 304, 304);
        SCOPED_TRACE(k);
        EXPECT_EQ(r.Ten, 10);
        EXPECT_EQ(r.Version, c.generation == 1 ? 2 : 3);
        EXPECT_EQ(r.One, 1);
        EXPECT_EQ(r.PulseTime, float(p.Time) * 10.0f);
        EXPECT_EQ(r.Windows[0], float(p.TM[0]) * 10.0f);
        EXPECT_EQ(r.Channel, std::uint8_t(count * 16 + k));
        EXPECT_EQ(r.Coords, GetQuadCoords(*model, k));
        EXPECT_EQ((r.Flags & TDataRecord::LevelFlag) != 0, k == 4) << "Level -1 of the fifth quadripole";
        EXPECT_GT(r.In, 0.0f);
        const double k_factor = GeometricFactor(*model, k);
        EXPECT_NEAR(r.Rho, k_factor * r.Vp / r.In, 1e-3 * std::fabs(r.Rho) + 1e-3);
        EXPECT_NEAR(r.Rho, 100.0f, 2.0f) << "the simulator's homogeneous ground";
        EXPECT_EQ(r.Latitude, 4523.456f);
        if (c.generation == 2) {
            EXPECT_GT(r.TxBattery, 9.0f);
            EXPECT_GT(r.Date, 40000.0);
        } else {
            EXPECT_EQ(r.TxBattery, 0.0f);
            EXPECT_EQ(r.Date, 0.0);
        }
    }

    // High speed on the same group: the answer's layout follows the channel
    // count, and its Vp / In gives the model's ground too.
    model->SpeedStartChannel = count;
    model->ShownHealth = [] { return std::array<float, 3>{12.0f, 12.0f, 30.0f}; };
    gen.SpeedMeasure(electrodes, true);
    port->WaitPrompt();
    for (int k = 0; k < count; ++k) {
        SCOPED_TRACE(k);
        const auto r = gen.ChannelRecord(k);
        const float in = GetLE<float>(r, std::size_t(gen.Table()->OffIn));
        // The 12 V of the speed start through the simulator's two contacts of 0.5 to 0.8 kOhm.
        EXPECT_NEAR(in, 9.5f, 2.5f);
        EXPECT_NEAR(GeometricFactor(*model, k) * GetLE<float>(r, std::size_t(gen.Table()->OffResistance)), 100.0, 2.0);
    }
    gen.Escape();
    port->Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Links, TProtocolE2e,
                         ::testing::Values(TCase{"ptyGeneration2", true, 2, 10}, TCase{"tcpGeneration1", false, 1, 10},
                                           TCase{"tcpEightChannels", false, 2, 8}, TCase{"ptyGeneration1", true, 1, 10}),
                         [](const auto &caseInfo) { return std::string(caseInfo.param.name); });
