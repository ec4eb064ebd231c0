#include "link/PortIP.h"

#include "base/Clock.h"
#include "base/TarnelError.h"
#include "base/UserInterface.h"

#include <QTcpSocket>

#include <algorithm>

TPortIP::TPortIP(TUserInterface &ui, TClock &clock)
    : TPortVirt(ui, clock), Socket(std::make_unique<QTcpSocket>())
{
    // The socket's events arrive through the event loop, during a yield of a
    // waiting operation, and only change the link state.
    QObject::connect(Socket.get(), &QTcpSocket::connected, [this] { State = LinkSelector; });
    QObject::connect(Socket.get(), &QTcpSocket::disconnected, [this] { State = -1; });
    QObject::connect(Socket.get(), &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError) { State = -1; });
}

TPortIP::TPortIP(TUserInterface &ui) : TPortIP(ui, SystemClock()) {}

TPortIP::~TPortIP()
{
    Socket->disconnect();
    Socket->abort();
}

int TPortIP::Connect(int portSelector, int, const QString &address, bool, const QString &, int)
{
    QString host = address.trimmed();
    int port = DefaultPort;
    if (host.isEmpty())
        host = DefaultAddress();
    if (const int colon = host.lastIndexOf(':'); colon > 0 && host.count(':') == 1) {
        bool ok = false;
        const int p = host.mid(colon + 1).toInt(&ok);
        if (ok && p > 0 && p < 65536) {
            port = p;
            host.truncate(colon);
        }
    }
    AddressText = host;
    RemoteHost = host;
    RemotePort = port;
    Socket->abort();

    if (!UiServices.Ask(TQuestion::Confirm(QStringLiteral("connect to ") + host,
                                           QStringLiteral("Connect Wavenode on VOLTIX/KELVO \nthen press < OK > button")))) {
        State = -1;
        return 0;
    }

    State = 0;
    // Commands go out a byte at a time and wait for their echo: no batching.
    Socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Socket->connectToHost(RemoteHost, static_cast<quint16>(RemotePort));
    const std::int64_t start = Clock.Ms();
    while (State != LinkSelector) {
        IdleWait(ConnectTimeoutMs);
        if (Clock.Ms() - start > ConnectTimeoutMs || State < 0) {
            Socket->abort();
            UiServices.Ask(TQuestion::Notice(QStringLiteral("Unable to connect to ") + host));
            AddressText = QStringLiteral("Not connected");
            return 0;
        }
    }
    Socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return portSelector;
}

void TPortIP::Disconnect()
{
    if (State <= 0)
        return;
    Socket->abort();
    State = 0;
}

int TPortIP::WriteBlock(std::span<const std::uint8_t> data)
{
    if (LinkDown())
        return -1;
    const qint64 n = Socket->write(reinterpret_cast<const char *>(data.data()), static_cast<qint64>(data.size()));
    Socket->flush();
    return static_cast<int>(n);
}

int TPortIP::RawWriteByte(std::uint8_t byte)
{
    if (LinkDown())
        return -1;
    const char c = static_cast<char>(byte);
    const qint64 n = Socket->write(&c, 1);
    Socket->flush();
    return static_cast<int>(n);
}

int TPortIP::RawRead(std::span<std::uint8_t> buffer, int timeoutMs)
{
    if (LinkDown())
        return -1;
    WaitForRx(static_cast<int>(buffer.size()), timeoutMs);
    const qint64 n = Socket->read(reinterpret_cast<char *>(buffer.data()), static_cast<qint64>(buffer.size()));
    return static_cast<int>(n);
}

int TPortIP::RawReadByteTimed(int timeoutMs)
{
    if (LinkDown() || !WaitForRx(1, timeoutMs))
        return -1;
    char c = 0;
    return Socket->getChar(&c) ? static_cast<std::uint8_t>(c) : -1;
}

int TPortIP::RawReadByte()
{
    if (LinkDown())
        return -1;
    char c = 0;
    return Socket->getChar(&c) ? static_cast<std::uint8_t>(c) : 0;
}

int TPortIP::RxCount()
{
    if (LinkDown())
        return -1;
    return static_cast<int>(Socket->bytesAvailable());
}

void TPortIP::FlushInput()
{
    if (!LinkDown())
        Socket->readAll();
    UiServices.Yield();
}

std::uint8_t TPortIP::GetByte()
{
    const int b = RawReadByteTimed(WaitTimeoutMs);
    if (b < 0)
        Fail("Port err. get IP");
    return static_cast<std::uint8_t>(b);
}

void TPortIP::PutByte(std::uint8_t byte)
{
    if (RawWriteByte(byte) <= 0)
        Fail("Port err. put IP");
}

void TPortIP::ReadExact(std::span<std::uint8_t> buffer)
{
    const int n = RawRead(buffer, ReadExactTimeoutMs);
    // A dropped link or a timeout ends the transfer: zero-filled bytes would
    // pass for data.
    if (n < static_cast<int>(buffer.size()))
        Fail("Port err. get IP");
}

TPortVirt::TIdentifyValues TPortIP::IdentifyValues() const
{
    return {.DrainTimeoutMs = 100, .AnswerTimeoutMs = 2000, .FallbackBaud = 0, .EscapePass = 21,
            .EscapeFailureFails = true};
}

void TPortIP::IdentifyFinish(QByteArray &firstLine) { firstLine = AddressText.toLatin1(); }
