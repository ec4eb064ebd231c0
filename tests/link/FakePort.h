#pragma once
// A scriptable loopback link: bytes the PC writes go to an instrument-side
// responder, which queues its answers for the PC to read. Time is a fake
// clock that moves only while the port waits.
#include "link/PortVirt.h"
#include "link/Transport.h"
#include "support/FakeClock.h"
#include "support/ScriptedUi.h"

#include <deque>
#include <functional>
#include <optional>

// The transport half: its fields are the test's handles on the line.
class TFakeLink : public TTransport {
public:
    std::deque<std::uint8_t> Rx;                     // waiting for the PC
    QByteArray Tx;                                   // everything the PC wrote
    std::function<void(std::uint8_t)> OnWrite;       // the instrument hears one byte
    std::function<void()> OnIdle;                    // called on every yield
    int State = 1;
    int Baud = 19200;
    bool DropWhenDry = false;                        // the peer has nothing more to say
    bool KeepOnFlush = false;                        // input counts as arriving after each flush
    int StuckTx = 0;                                 // Unsent reports this until the link drops
    int Flushes = 0;

    void Feed(QByteArrayView bytes)
    {
        for (char c : bytes)
            Rx.push_back(static_cast<std::uint8_t>(c));
    }
    void Feed(std::initializer_list<int> bytes)
    {
        for (int b : bytes)
            Rx.push_back(static_cast<std::uint8_t>(b));
    }

    int Open(int, int, const QString &, bool, const QString &, int) override { return State; }
    void Close() override { State = 0; }
    int LinkState() const override { return State; }
    void SetLinkState(int state) override { State = state; }
    void DiscardOutput() override {}
    int Waiting() override { return State <= 0 ? -1 : static_cast<int>(Rx.size()); }
    int Unsent() override { return State <= 0 ? -1 : StuckTx; }
    QString Name() const override { return QStringLiteral("Fake"); }
    QString Info() override { return QStringLiteral("NA"); }
    int MaxBaudRate() const override { return 115200; }
    int BaudRate() const override { return Baud; }
    void SetBaudRate(int value) override { Baud = value; }

protected:
    int ReadWaiting(std::span<std::uint8_t> buffer) override
    {
        int n = 0;
        while (n < static_cast<int>(buffer.size()) && !Rx.empty()) {
            buffer[n++] = Rx.front();
            Rx.pop_front();
        }
        return n;
    }
    int TakeByte() override
    {
        if (Rx.empty())
            return -1;
        const int b = Rx.front();
        Rx.pop_front();
        return b;
    }
    int WriteBytes(std::span<const std::uint8_t> data) override
    {
        for (std::uint8_t byte : data) {
            Tx.append(static_cast<char>(byte));
            if (OnWrite)
                OnWrite(byte);
        }
        return static_cast<int>(data.size());
    }
    QByteArray DropInput() override
    {
        QByteArray dropped;
        if (!KeepOnFlush) {
            for (std::uint8_t b : Rx)
                dropped.append(static_cast<char>(b));
            Rx.clear();
        }
        ++Flushes;
        return dropped;
    }
};

// The framing over it; the transport part comes first so that it exists
// before the port that uses it.
class TFakePort : public TFakeLink, public TPortVirt {
public:
    // Past this much simulated time the link drops, so a broken test fails instead of hanging.
    static constexpr std::int64_t GiveUpMs = 100LL * 3600 * 1000;

    TFakePort(TScriptedUi &ui, TFakeClock &clock)
        : TPortVirt(ui, clock, static_cast<TTransport &>(*this)), FakeClock(clock)
    {
        ui.OnYield = [this](int waitMs) {
            FakeClock.Advance(waitMs);
            if (OnIdle)
                OnIdle();
            if (DropWhenDry && waitMs > 0 && Rx.empty())
                State = 0;
            if (FakeClock.Now > GiveUpMs)
                State = 0;
        };
    }

    std::optional<TIdentifyValues> Values;           // other links' Identify values

protected:
    TIdentifyValues IdentifyValues() const override { return Values ? *Values : TPortVirt::IdentifyValues(); }

private:
    TFakeClock &FakeClock;
};
