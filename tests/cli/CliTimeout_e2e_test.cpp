// tarnelpro-cli against instruments that stop answering, answer garbage or
// hang up in the middle of a block: every command ends, with exit status 1
// and a message, and the groups measured before stay in the data file whole.
#include "cli/CliFixture.h"
#include "instrument/DataRecord.h"
#include "link/SimProcess.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

// A TCP peer for one connection that plays a broken instrument.
class TRawPeer {
public:
    enum TMode { Silent, Garbage, HangUpInBlock };

    explicit TRawPeer(TMode mode) : Mode(mode)
    {
        Server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(Server, reinterpret_cast<sockaddr *>(&a), len) != 0 || ::listen(Server, 1) != 0)
            return;
        ::getsockname(Server, reinterpret_cast<sockaddr *>(&a), &len);
        Port = ntohs(a.sin_port);
        Thread = std::thread([this] { Serve(); });
    }
    ~TRawPeer()
    {
        Done = true;
        if (Thread.joinable())
            Thread.join();
        ::close(Server);
    }
    QString Link() const { return QStringLiteral("tcp:127.0.0.1:%1").arg(Port); }

private:
    // A byte, -1 after timeoutMs, -2 when the peer is gone or the test ends.
    int Read(int fd, int timeoutMs)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return Done ? -2 : -1;
        unsigned char c = 0;
        return ::read(fd, &c, 1) == 1 ? c : -2;
    }
    // No SIGPIPE when the program has already hung up.
    void Write(int fd, const QByteArray &b)
    {
        [[maybe_unused]] const auto n = ::send(fd, b.constData(), size_t(b.size()), MSG_NOSIGNAL);
    }

    void Serve()
    {
        pollfd p{Server, POLLIN, 0};
        while (!Done && ::poll(&p, 1, 100) <= 0) {
        }
        if (Done)
            return;
        const int fd = ::accept(Server, nullptr, nullptr);
        if (fd < 0)
            return;
        bool identified = false;
        for (int b; (b = Read(fd, 20)) != -2;) {
            if (Mode == Garbage) {
                Write(fd, QByteArray(64, char(0x9A)));
                continue;
            }
            if (Mode == Silent || b < 0)
                continue;
            if (b == '@' && !identified) {
                identified = true;
                Write(fd, QByteArray("@VOLTIX PRO 10\r\nSN 7 V2.10 RAW\r\n") + QByteArray("\x02\x00\x00\x10", 4) + ":>");
            } else if (b == '@') {
                Write(fd, "@");
            } else if (identified && b == 30) {
                // The description: echo the command, then the block transfer
                // ends after half of its first block.
                Read(fd, 1000);
                Write(fd, QByteArray(1, char(30)));
                for (int s; (s = Read(fd, 1000)) != 0;)
                    if (s == -2)
                        break;
                Write(fd, QByteArray(1, 0));
                Write(fd, QByteArray("\xB0\x00\x00\x00", 4));
                Read(fd, 1000);
                Read(fd, 1000);
                Write(fd, QByteArray("\x01\x00", 2) + QByteArray("\x00\x2C", 2) + QByteArray(88, 0));
                break;
            }
        }
        ::close(fd);
    }

    TMode Mode;
    int Server = -1;
    int Port = 0;
    std::atomic<bool> Done{false};
    std::thread Thread;
};

struct TCliTimeout : TCliFixture {
    // Runs a command and measures how long it took.
    TResult Timed(const QStringList &args, qint64 &ms)
    {
        QElapsedTimer t;
        t.start();
        const TResult r = Run(args, 60000);
        ms = t.elapsed();
        return r;
    }
};

TEST_F(TCliTimeout, identifyAgainstABrokenInstrumentEndsWithAnError)
{
    struct Case {
        const char *what;
        std::function<QString()> start; // the link; the peer lives in the holders below
        QString message;
    };
    std::unique_ptr<TRawPeer> raw;
    std::unique_ptr<TSimProcess> sim;
    const std::vector<Case> cases = {
        {"silent line", [&] { raw = std::make_unique<TRawPeer>(TRawPeer::Silent); return raw->Link(); },
         "no answer from the instrument for 5 s"},
        {"garbage line", [&] { raw = std::make_unique<TRawPeer>(TRawPeer::Garbage); return raw->Link(); },
         "identification failed"},
        {"hang-up inside a block", [&] { raw = std::make_unique<TRawPeer>(TRawPeer::HangUpInBlock); return raw->Link(); },
         "Port err. get IP"},
        {"silent after identifying",
         [&] {
             sim = std::make_unique<TSimProcess>(QStringList{"--tcp", "127.0.0.1:0", "--fault", "silent-after-identify"});
             return "tcp:" + sim->TcpAddress();
         },
         "no answer from the instrument for 5 s"},
        {"garbage after identifying",
         [&] {
             sim = std::make_unique<TSimProcess>(QStringList{"--tcp", "127.0.0.1:0", "--fault", "garbage-after-identify"});
             return "tcp:" + sim->TcpAddress();
         },
         // No wake-up echo: the description command is never taken.
         "Port err. Setcmd"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString link = c.start();
        qint64 ms = 0;
        const TResult r = Timed({"identify", "--link", link, "--yes", "--timeout", "5"}, ms);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains(c.message)) << r.Err.toStdString();
        EXPECT_TRUE(r.Out.isEmpty()) << "no identification printed: " << r.Out.toStdString();
        EXPECT_LT(ms, 20000);
        raw.reset();
        sim.reset();
    }
}

// The instrument falls silent after two groups, over TCP and over a pty: the
// command ends after the timeout and the file holds exactly those groups.
TEST_F(TCliTimeout, acquireStoppedBySilenceKeepsTheWholeGroupsMeasured)
{
    for (const bool pty : {false, true}) {
        SCOPED_TRACE(pty ? "pty" : "tcp");
        Survey(QString());
        QStringList args = {"--time-scale", "0", "--fault", "silent-after-groups=2", "--coordinates",
                            Tmp.path() + "/coords.txt"};
        args << (pty ? QStringList{"--pty", Tmp.path() + "/tty"} : QStringList{"--tcp", "127.0.0.1:0"});
        TSimProcess sim(args);
        ASSERT_FALSE(sim.Where().isEmpty());
        const QString ini = Survey(pty ? QString() : sim.TcpAddress());
        const QString out = Tmp.path() + (pty ? "/pty.bin" : "/tcp.bin");
        QStringList run = {"acquire", "--config", ini, "--yes", "--timeout", "5", "--output", out};
        if (pty)
            run << "--link" << "serial:" + Tmp.path() + "/tty";
        qint64 ms = 0;
        const TResult r = Timed(run, ms);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains("no answer from the instrument for 5 s")) << r.Err.toStdString();
        EXPECT_LT(ms, 30000);

        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray data = f.readAll();
        ASSERT_EQ(data.size(), 1029 + 20 * 304);
        // Record by record: ten whole channels per group, quadripoles 1 to 20 in order.
        for (int k = 0; k < 20; ++k) {
            SCOPED_TRACE(k);
            TDataRecord rec;
            std::memcpy(&rec, data.constData() + 1029 + k * 304, sizeof rec);
            const int group = k / 10, channel = k % 10;
            EXPECT_EQ(rec.Ten, 10);
            EXPECT_EQ(rec.Channel, 0xA0 | channel);
            EXPECT_EQ(rec.Coords[0], float(5 * (13 * group + 1))) << "A of quadripole " << k + 1;
            EXPECT_EQ(rec.Coords[2], float(5 * (13 * group + 3 + channel))) << "M of quadripole " << k + 1;
            EXPECT_NEAR(rec.Rho, 100.0f, 2.0f) << "the simulator's ground";
        }
    }
}

} // namespace
