#pragma once
// One link's raw byte access (a serial port, the USB chip, a TCP socket):
// open and close, reads with a deadline, writes, and the line controls the
// link really has. The instrument's framing sits above it in TPortVirt and
// never asks which link carries its bytes.
//
// Every byte written to or read from the instrument goes through Write,
// Read, ReadNow or DiscardInput, which hand it to the wire trace once.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

class TTransport {
public:
    // How the owner waits while a read waits for bytes: it yields to the
    // operator, watches Stop and the progress watchdog, and may throw.
    class TWaiter {
    public:
        virtual ~TWaiter() = default;
        // Until count bytes are waiting, the timeout passes or the link drops.
        virtual bool WaitForRx(int count, int timeoutMs) = 0;
        // Sleeps in the event loop for at most ms (one slice).
        virtual void IdleWait(int ms) = 0;
        // Gives the instrument ms (a line settling): the window keeps
        // answering, Stop does not cut it short.
        virtual void Rest(int ms) = 0;
    };

    TTransport() = default;
    virtual ~TTransport();
    TTransport(const TTransport &) = delete;
    TTransport &operator=(const TTransport &) = delete;

    void SetWaiter(TWaiter &waiter) { Waiter = &waiter; }

    // Returns the new link state (> 0) on success, 0 on failure or cancel.
    virtual int Open(int portSelector, int baudRate, const QString &dialNumber, bool waitForDsr,
                     const QString &modemInit, int byteDelayMs) = 0;
    virtual void Close() = 0;
    // > 0 open (the port selector), 0 closed, -1 cancelled or dropped.
    virtual int LinkState() const = 0;
    virtual void SetLinkState(int state) = 0;

    // Waits (yielding) until buffer.size() bytes are there or timeoutMs
    // passes, then takes what is there: the count, or -1 when the link is
    // down or the device failed.
    int Read(std::span<std::uint8_t> buffer, int timeoutMs);
    // One byte already waiting, without waiting: the byte, or -1.
    int ReadNow();
    // Bytes accepted, or -1 when the link is down or the device failed.
    int Write(std::span<const std::uint8_t> data);
    // Throws away what the instrument sent and nobody read.
    void DiscardInput();
    virtual void DiscardOutput() = 0;
    // Bytes waiting to be read / still leaving; -1 when the link is down.
    virtual int Waiting() = 0;
    virtual int Unsent() = 0;

    virtual QString Name() const = 0;
    virtual QString Info() = 0;
    virtual int MaxBaudRate() const = 0;
    // The line rate where the link has one (0: none).
    virtual int BaudRate() const { return 0; }
    virtual void SetBaudRate(int) {}
    virtual void SetLatencyTimer(int) {}
    // Modem lines: false / no value where the link has none.
    virtual bool SetDtr(bool) { return false; }
    virtual bool SetRts(bool) { return false; }
    virtual std::optional<bool> Dsr() { return std::nullopt; }
    // Longest nap of a wait for the instrument. A link whose arrivals wake
    // the event loop (a socket, a serial port) sleeps until data, a deadline
    // or the operator; one that must be polled (the USB chip) looks often.
    virtual int WaitSliceMs() const { return 10; }

protected:
    // What is waiting now, at most buffer.size() bytes: the count, or -1.
    virtual int ReadWaiting(std::span<std::uint8_t> buffer) = 0;
    virtual int TakeByte() = 0;
    virtual int WriteBytes(std::span<const std::uint8_t> data) = 0;
    // Returns what it took out of the link's buffer, for the trace.
    virtual QByteArray DropInput() = 0;

    bool LinkDown() const { return LinkState() <= 0; }
    // A pause of ms through the owner's Rest (a plain sleep without one).
    void Rest(int ms);
    TWaiter *Waiter = nullptr;
};
