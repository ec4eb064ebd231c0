// voltix-sim: plays the instrument over a pty or a loopback TCP port.
#include "base/SilentUi.h"
#include "sim/SimInstrument.h"
#include "survey/Sequence.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char *const UsageText =
    "usage: voltix-sim (--pty PATH | --tcp [HOST:]PORT [--listen-any])\n"
    "  [--generation 1|2] [--type-code HEX] [--channels N] [--time-scale F] [--baud B]\n"
    "  [--seed S] [--model homogeneous:RHO | layered:RHO1,H1,RHO2[,H2,RHO3...] | anomaly:RHO_BG,RHO_BODY,X,Z,RADIUS]\n"
    "  [--noise PCT] [--chargeability M | BG,BODY | M1,M2...  (mV/V; one per layer of a layered model)]\n"
    "  [--coordinates FILE] [--battery TX,RX] [--temperature T] [--bad-electrodes LIST]\n"
    "  [--fault crc-every=N|ff-replies=K|silent-wakeups=K|drop-after-groups=N|\n"
    "           battery-low-at-group=N|overheat-at-group=N|bad-token-every=N|noise=P|slow-ms=T|\n"
    "           count-inflate-at-group=N|short-block-at-group=N|crc-forever-at-group=N|\n"
    "           pc-crc-every=N|garbage-after-identify|silent-after-identify|silent-after-groups=N]...\n";

[[noreturn]] void Usage(const char *why)
{
    std::fprintf(stderr, "voltix-sim: %s\n%s", why, UsageText);
    std::exit(2);
}

// Reads and writes one file descriptor; --baud paces the output.
class TFdWire : public TSimWire {
public:
    TFdWire(int fd, int baud) : Fd(fd), Baud(baud) {}
    int ReadByte(int timeoutMs) override
    {
        for (;;) {
            pollfd p{Fd, POLLIN, 0};
            const int r = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
            if (r < 0 && errno == EINTR)
                continue;
            if (r == 0)
                return -1;
            if (r < 0)
                return -2;
            unsigned char c = 0;
            const ssize_t n = ::read(Fd, &c, 1);
            if (n == 1)
                return c;
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            return -2;
        }
    }
    bool Write(const QByteArray &bytes) override
    {
        const char *p = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0) {
            const qsizetype chunk = Baud > 0 ? std::min<qsizetype>(left, 16) : left;
            const ssize_t n = ::write(Fd, p, size_t(chunk));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN) {
                    pollfd w{Fd, POLLOUT, 0};
                    ::poll(&w, 1, 100);
                    continue;
                }
                return false;
            }
            if (Baud > 0)
                std::this_thread::sleep_for(std::chrono::microseconds(n * 10'000'000LL / Baud));
            p += n;
            left -= n;
        }
        return true;
    }
    void HangUp() override { HungUp = true; }
    bool HungUp = false;

private:
    int Fd;
    int Baud;
};

QString LinkPath;

void RemoveLink(int)
{
    if (!LinkPath.isEmpty())
        ::unlink(QFile::encodeName(LinkPath).constData());
    std::_Exit(0);
}

// A pty whose slave stays open here, so the program may close and reopen it.
struct TPty {
    int Master = -1;
    int Slave = -1;
    bool Open(const QString &path)
    {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0)
            return false;
        const char *name = ::ptsname(Master);
        if (!name)
            return false;
        Slave = ::open(name, O_RDWR | O_NOCTTY);
        if (Slave < 0)
            return false;
        termios t{};
        ::tcgetattr(Slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(Slave, TCSANOW, &t);
        const QByteArray link = QFile::encodeName(path);
        ::unlink(link.constData());
        return ::symlink(name, link.constData()) == 0;
    }
    void Close()
    {
        ::close(Master);
        ::close(Slave);
    }
};

bool ParseFault(const QString &text, TSimFaults &f)
{
    if (text == "garbage-after-identify") {
        f.GarbageAfterIdentify = true;
        return true;
    }
    if (text == "silent-after-identify") {
        f.SilentAfterIdentify = true;
        return true;
    }
    const auto parts = text.split('=');
    if (parts.size() != 2)
        return false;
    bool ok = false;
    const QString key = parts[0];
    if (key == "noise") {
        f.Noise = parts[1].toDouble(&ok);
        return ok;
    }
    const int v = parts[1].toInt(&ok);
    if (!ok || v < 0)
        return false;
    if (key == "crc-every") f.CrcEvery = v;
    else if (key == "ff-replies") f.FfReplies = v;
    else if (key == "silent-wakeups") f.SilentWakeUps = v;
    else if (key == "drop-after-groups") f.DropAfterGroups = v;
    else if (key == "battery-low-at-group") f.BatteryLowAtGroup = v;
    else if (key == "overheat-at-group") f.OverheatAtGroup = v;
    else if (key == "bad-token-every") f.BadTokenEvery = v;
    else if (key == "slow-ms") f.SlowMs = v;
    else if (key == "count-inflate-at-group") f.CountInflateAtGroup = v;
    else if (key == "short-block-at-group") f.ShortBlockAtGroup = v;
    else if (key == "crc-forever-at-group") f.CrcForeverAtGroup = v;
    else if (key == "pc-crc-every") f.PcCrcEvery = v;
    else if (key == "silent-after-groups") f.SilentAfterGroups = v;
    else return false;
    return true;
}

// The node positions of a coordinate file in the program's format (a
// combined survey file works too).
bool LoadCoordinates(const QString &file, TSimOptions &o)
{
    if (!QFileInfo(file).isFile())
        return false;
    auto survey = std::make_unique<TSequence>();
    const TLoadReport report = survey->ReadCoordinateFile(file);
    if (!report.Found || (report.Count == 0 && report.Failed))
        return false;
    o.Nodes.assign(TSequence::NodeTableSize, {0, 0, 0});
    for (int n = 0; n < TSequence::NodeTableSize; ++n) {
        const Node &node = survey->Nodes[std::size_t(n)];
        o.Nodes[std::size_t(n)] = {node.X, node.Y, node.Z};
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.contains(QStringLiteral("--help"))) {
        std::fputs(UsageText, stdout);
        return 0;
    }

    TSimOptions o;
    QString ptyPath, tcp;
    bool listenAny = false, typeGiven = false;
    // Applied once the model is known: how many values it takes depends on it.
    std::vector<double> chargeability;
    auto value = [&](int &i) {
        if (i + 1 >= args.size())
            Usage(("missing value after " + args[i]).toLocal8Bit().constData());
        return args[++i];
    };
    auto number = [](const QString &s, const char *what) {
        bool ok = false;
        const double v = s.toDouble(&ok);
        if (!ok)
            Usage(what);
        return v;
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == "--pty") ptyPath = value(i);
        else if (a == "--tcp") tcp = value(i);
        else if (a == "--listen-any") listenAny = true;
        else if (a == "--generation") o.Generation = int(number(value(i), "bad --generation"));
        else if (a == "--type-code") {
            bool ok = false;
            o.TypeCode = value(i).toUInt(&ok, 0);
            if (!ok)
                Usage("bad --type-code");
            typeGiven = true;
        }
        else if (a == "--channels") o.Channels = int(number(value(i), "bad --channels"));
        else if (a == "--time-scale") o.TimeScale = number(value(i), "bad --time-scale");
        else if (a == "--baud") o.Baud = int(number(value(i), "bad --baud"));
        else if (a == "--seed") o.Seed = unsigned(number(value(i), "bad --seed"));
        else if (a == "--temperature") o.Temperature = number(value(i), "bad --temperature");
        else if (a == "--battery") {
            const auto p = value(i).split(',');
            if (p.size() != 2)
                Usage("bad --battery");
            o.TxBattery = number(p[0], "bad --battery");
            o.RxBattery = number(p[1], "bad --battery");
        } else if (a == "--bad-electrodes") {
            for (const auto &n : value(i).split(',', Qt::SkipEmptyParts))
                o.BadElectrodes.push_back(int(number(n, "bad --bad-electrodes")));
        } else if (a == "--model") {
            const QString error = o.Earth.Parse(value(i));
            if (!error.isEmpty())
                Usage(error.toLocal8Bit().constData());
        } else if (a == "--noise") {
            o.NoisePercent = number(value(i), "bad --noise");
            if (o.NoisePercent < 0)
                Usage("bad --noise");
        } else if (a == "--chargeability") {
            chargeability.clear();
            for (const QString &m : value(i).split(','))
                chargeability.push_back(number(m, "bad --chargeability"));
        } else if (a == "--coordinates") {
            if (!LoadCoordinates(value(i), o))
                Usage("cannot read --coordinates");
        } else if (a == "--fault") {
            if (!ParseFault(value(i), o.Faults))
                Usage("bad --fault");
        } else {
            Usage(("unknown argument " + a).toLocal8Bit().constData());
        }
    }
    if (!chargeability.empty()) {
        const QString error = o.Earth.SetChargeability(chargeability);
        if (!error.isEmpty())
            Usage(error.toLocal8Bit().constData());
    }
    if (ptyPath.isEmpty() == tcp.isEmpty())
        Usage("give one of --pty and --tcp");
    if (o.Generation != 1 && o.Generation != 2)
        Usage("--generation is 1 or 2");
    if (o.Channels < 1 || o.Channels > 10)
        Usage("--channels is 1 to 10");
    if (!typeGiven)
        o.TypeCode = o.Generation == 1 ? 0x10000001u : 0x10000002u;

    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTERM, RemoveLink);
    std::signal(SIGINT, RemoveLink);

    TSimInstrument instrument(o);

    if (!ptyPath.isEmpty()) {
        LinkPath = ptyPath;
        TPty pty;
        if (!pty.Open(ptyPath)) {
            std::perror("voltix-sim: pty");
            return 1;
        }
        std::printf("voltix-sim ready pty:%s\n", ptyPath.toLocal8Bit().constData());
        std::fflush(stdout);
        for (;;) {
            TFdWire wire(pty.Master, o.Baud);
            instrument.Serve(wire);
            if (wire.HungUp) {
                // Hanging up: a fresh pty replaces the one the program holds.
                pty.Close();
                if (!pty.Open(ptyPath))
                    return 1;
            }
        }
    }

    QString host = QStringLiteral("127.0.0.1");
    QString portText = tcp;
    if (const int colon = tcp.lastIndexOf(':'); colon >= 0) {
        host = tcp.left(colon);
        portText = tcp.mid(colon + 1);
    }
    if (listenAny)
        host = QStringLiteral("0.0.0.0");
    bool ok = false;
    const int port = portText.toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        Usage("bad --tcp port");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(port));
    if (::inet_pton(AF_INET, host.toLatin1().constData(), &addr.sin_addr) != 1)
        Usage("bad --tcp host (an IPv4 address)");
    if (!listenAny && (ntohl(addr.sin_addr.s_addr) >> 24) != 127)
        Usage("--tcp listens on loopback only unless --listen-any");
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(server, 1) != 0) {
        std::perror("voltix-sim: tcp");
        return 1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(server, reinterpret_cast<sockaddr *>(&addr), &len);
    std::printf("voltix-sim ready tcp:%s:%d\n", host.toLatin1().constData(), ntohs(addr.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int client = ::accept(server, nullptr, nullptr);
        if (client < 0) {
            if (errno == EINTR)
                continue;
            std::perror("voltix-sim: accept");
            return 1;
        }
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        TFdWire wire(client, o.Baud);
        instrument.Serve(wire);
        ::close(client);
    }
}
