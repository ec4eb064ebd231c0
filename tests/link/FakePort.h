#pragma once
// A scriptable loopback link: bytes the PC writes go to an instrument-side
// responder, which queues its answers for the PC to read. Time is a fake
// clock that moves only while the port waits.
#include "link/PortVirt.h"
#include "support/FakeClock.h"
#include "support/ScriptedUi.h"

#include <deque>
#include <functional>
#include <optional>

class TFakePort : public TPortVirt {
public:
    // Past this much simulated time the link drops, so a broken test fails instead of hanging.
    static constexpr std::int64_t GiveUpMs = 100LL * 3600 * 1000;

    TFakePort(TScriptedUi &ui, TFakeClock &clock) : TPortVirt(ui, clock), FakeClock(clock)
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

    std::deque<std::uint8_t> Rx;                     // waiting for the PC
    QByteArray Tx;                                   // everything the PC wrote
    std::function<void(std::uint8_t)> OnWrite;       // the instrument hears one byte
    std::function<void()> OnIdle;                    // called on every yield
    int State = 1;
    int Baud = 19200;
    bool DropWhenDry = false;                        // the peer has nothing more to say
    bool KeepOnFlush = false;                        // input counts as arriving after each flush
    int StuckTx = 0;                                 // TxCount reports this until the link drops
    int Flushes = 0;
    std::optional<TIdentifyValues> Values;           // other links' Identify values

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

    int Connect(int, int, const QString &, bool, const QString &, int) override { return State; }
    void Disconnect() override { State = 0; }
    void FlushInput() override
    {
        if (!KeepOnFlush)
            Rx.clear();
        ++Flushes;
    }
    void FlushOutput() override {}
    int RawWriteByte(std::uint8_t byte) override
    {
        if (State <= 0)
            return -1;
        Tx.append(static_cast<char>(byte));
        if (OnWrite)
            OnWrite(byte);
        return 1;
    }
    int RawRead(std::span<std::uint8_t> buffer, int timeoutMs) override
    {
        if (State <= 0)
            return -1;
        WaitForRx(static_cast<int>(buffer.size()), timeoutMs);
        int n = 0;
        while (n < static_cast<int>(buffer.size()) && !Rx.empty()) {
            buffer[n++] = Rx.front();
            Rx.pop_front();
        }
        return n;
    }
    int RawReadByteTimed(int timeoutMs) override
    {
        if (State <= 0 || !WaitForRx(1, timeoutMs))
            return -1;
        return Pop();
    }
    int RawReadByte() override { return State <= 0 || Rx.empty() ? -1 : Pop(); }
    void SetState(int state) override { State = state; }
    void SetPortNumber(int) override {}
    void SetBaudRate(int value) override { Baud = value; }
    void SetParity(int) override {}
    void SetDataBits(int) override {}
    void SetStopBits(int) override {}
    void SetXonXoff(int) override {}
    void SetDtrDsr(int) override {}
    void SetRtsCts(int) override {}
    void SetDtr(int) override {}
    void SetRts(int) override {}
    int RxCount() override { return State <= 0 ? -1 : static_cast<int>(Rx.size()); }
    int TxCount() override { return State <= 0 ? -1 : StuckTx; }
    int GetState() const override { return State; }
    int GetPortNumber() override { return 1; }
    int GetBaudRate() override { return Baud; }
    int GetDataBits() override { return 8; }
    int GetStopBits() override { return 1; }
    int GetXonXoff() override { return 0; }
    int GetParity() override { return 0; }
    int GetDtrDsr() override { return 0; }
    int GetRtsCts() override { return 0; }
    int GetDtr() override { return 1; }
    int GetRts() override { return 1; }
    int GetDsr() override { return 1; }
    int MaxBaudRate() const override { return 115200; }
    QString LinkName() const override { return QStringLiteral("Fake"); }
    QString LinkInfo() override { return QStringLiteral("NA"); }

protected:
    TIdentifyValues IdentifyValues() const override { return Values ? *Values : TPortVirt::IdentifyValues(); }

private:
    int Pop()
    {
        const int b = Rx.front();
        Rx.pop_front();
        return b;
    }
    TFakeClock &FakeClock;
};
