#pragma once
// The FTDI calls the USB link makes, in the shape of the vendor driver's API
// (status 0 = success, results through out-parameters), so that the link's
// use of them can be checked against a fake device.
#include <cstdint>
#include <memory>
#include <span>

class TFtdiDevice {
public:
    static constexpr int Ok = 0;
    static constexpr int PurgeRx = 1;
    static constexpr int PurgeTx = 2;
    static constexpr int FlowNone = 0, FlowRtsCts = 0x100, FlowDtrDsr = 0x200, FlowXonXoff = 0x400;
    static constexpr unsigned ModemDsr = 0x20;

    virtual ~TFtdiDevice() = default;
    virtual int ListDevices(int &count) = 0;
    virtual int Open(int index) = 0;
    virtual int Close() = 0;
    virtual int Read(std::span<std::uint8_t> buffer, int &read) = 0;
    virtual int Write(std::span<const std::uint8_t> data, int &written) = 0;
    virtual int SetBaudRate(int rate) = 0;
    // Word length 7/8; stop bits 0 = one, 2 = two; parity 0 none, 1 odd, 2 even, 3 mark, 4 space.
    virtual int SetDataCharacteristics(int wordLength, int stopBits, int parity) = 0;
    virtual int SetFlowControl(int mode, std::uint8_t xon, std::uint8_t xoff) = 0;
    virtual int SetDtr(bool on) = 0;
    virtual int SetRts(bool on) = 0;
    virtual int GetModemStatus(unsigned &status) = 0;
    virtual int Purge(int mask) = 0;
    virtual int SetTimeouts(int readMs, int writeMs) = 0;
    virtual int GetQueueStatus(int &received) = 0;
    virtual int GetStatus(int &received, int &toSend, int &events) = 0;
    virtual int SetLatencyTimer(int ms) = 0;
    // Versions as major, minor, build in bytes 2, 1, 0.
    virtual int GetDriverVersion(std::uint32_t &version) = 0;
    virtual int GetLibraryVersion(std::uint32_t &version) = 0;
};

// The device on libftdi1; the "driver" version is the USB stack's (libusb).
std::unique_ptr<TFtdiDevice> MakeLibFtdiDevice();
