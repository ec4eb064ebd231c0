#include "link/TcpTransport.h"

#include "base/Clock.h"
#include "base/UserInterface.h"

#include <QTcpSocket>

TTcpTransport::TTcpTransport(TUserInterface &ui, TClock &clock)
    : Ui(ui), Clock(clock), Socket(std::make_unique<QTcpSocket>())
{
    // The socket's events arrive through the event loop, during a yield of a
    // waiting operation, and only change the link state.
    QObject::connect(Socket.get(), &QTcpSocket::connected, [this] { State = LinkSelector; });
    QObject::connect(Socket.get(), &QTcpSocket::disconnected, [this] { State = -1; });
    QObject::connect(Socket.get(), &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError) { State = -1; });
}

TTcpTransport::~TTcpTransport()
{
    Socket->disconnect();
    Socket->abort();
}

int TTcpTransport::Open(int portSelector, int, const QString &address, bool, const QString &, int)
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
    Host = host;
    Port = port;
    Socket->abort();

    if (!Ui.Ask(TQuestion::Confirm(QStringLiteral("connect to ") + host,
                                   QStringLiteral("Connect Wavenode on VOLTIX/KELVO \nthen press < OK > button")))) {
        State = -1;
        return 0;
    }

    State = 0;
    // Commands go out a byte at a time and wait for their echo: no batching.
    Socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Socket->connectToHost(Host, static_cast<quint16>(Port));
    const std::int64_t start = Clock.Ms();
    while (State != LinkSelector) {
        if (Waiter)
            Waiter->IdleWait(ConnectTimeoutMs);
        else
            Ui.WaitEvents(ConnectTimeoutMs);
        if (Clock.Ms() - start > ConnectTimeoutMs || State < 0) {
            Socket->abort();
            Ui.Ask(TQuestion::Notice(QStringLiteral("Unable to connect to ") + host));
            AddressText = QStringLiteral("Not connected");
            return 0;
        }
    }
    Socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return portSelector;
}

void TTcpTransport::Close()
{
    if (State <= 0)
        return;
    Socket->abort();
    State = 0;
}

int TTcpTransport::WriteBytes(std::span<const std::uint8_t> data)
{
    const qint64 n = Socket->write(reinterpret_cast<const char *>(data.data()), static_cast<qint64>(data.size()));
    Socket->flush();
    return static_cast<int>(n);
}

int TTcpTransport::ReadWaiting(std::span<std::uint8_t> buffer)
{
    const qint64 n = Socket->read(reinterpret_cast<char *>(buffer.data()), static_cast<qint64>(buffer.size()));
    return static_cast<int>(n);
}

int TTcpTransport::TakeByte()
{
    char c = 0;
    return Socket->getChar(&c) ? static_cast<std::uint8_t>(c) : -1;
}

int TTcpTransport::Waiting()
{
    if (LinkDown())
        return -1;
    return static_cast<int>(Socket->bytesAvailable());
}

QByteArray TTcpTransport::DropInput()
{
    QByteArray dropped;
    if (!LinkDown())
        dropped = Socket->readAll();
    // A flush is one of the points where the operator is listened to.
    Ui.Yield();
    return dropped;
}
