#include "link/FtdiDevice.h"

#include <ftdi.h>
#include <libusb.h>

#include <chrono>
#include <algorithm>
#include <deque>
#include <thread>

namespace {
constexpr int Failed = 4; // the vendor API's "I/O error"

std::uint32_t PackVersion(int major, int minor, int build)
{
    return (std::uint32_t(major & 0xFF) << 16) | (std::uint32_t(minor & 0xFF) << 8) | std::uint32_t(build & 0xFF);
}

class TLibFtdiDevice final : public TFtdiDevice {
public:
    TLibFtdiDevice() : Ctx(ftdi_new()) {}
    ~TLibFtdiDevice() override
    {
        if (Ctx) {
            Close();
            ftdi_free(Ctx);
        }
    }

    int ListDevices(int &count) override
    {
        count = 0;
        if (!Ctx)
            return Failed;
        ftdi_device_list *list = nullptr;
        const int n = ftdi_usb_find_all(Ctx, &list, 0, 0);
        ftdi_list_free(&list);
        if (n < 0)
            return Failed;
        count = n;
        return Ok;
    }
    int Open(int index) override
    {
        if (!Ctx)
            return Failed;
        ftdi_device_list *list = nullptr;
        const int n = ftdi_usb_find_all(Ctx, &list, 0, 0);
        int status = Failed;
        ftdi_device_list *it = list;
        for (int i = 0; it && i < index; ++i)
            it = it->next;
        if (n > index && it && ftdi_usb_open_dev(Ctx, it->dev) == 0) {
            IsOpen = true;
            Ahead.clear();
            status = Ok;
        }
        ftdi_list_free(&list);
        return status;
    }
    int Close() override
    {
        if (IsOpen)
            ftdi_usb_close(Ctx);
        IsOpen = false;
        Ahead.clear();
        return Ok;
    }
    // Reads like the vendor driver: waits up to the read timeout for the whole count.
    int Read(std::span<std::uint8_t> buffer, int &read) override
    {
        read = 0;
        if (!IsOpen)
            return Failed;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ReadTimeoutMs);
        while (Ahead.size() < buffer.size()) {
            if (Pull() < 0)
                return Failed;
            if (Ahead.size() >= buffer.size() || std::chrono::steady_clock::now() >= deadline)
                break;
        }
        while (read < int(buffer.size()) && !Ahead.empty()) {
            buffer[read++] = Ahead.front();
            Ahead.pop_front();
        }
        return Ok;
    }
    int Write(std::span<const std::uint8_t> data, int &written) override
    {
        written = 0;
        if (!IsOpen)
            return Failed;
        const int n = ftdi_write_data(Ctx, data.data(), int(data.size()));
        if (n < 0)
            return Failed;
        written = n;
        return Ok;
    }
    int SetBaudRate(int rate) override { return Status(IsOpen ? ftdi_set_baudrate(Ctx, rate) : -1); }
    int SetDataCharacteristics(int wordLength, int stopBits, int parity) override
    {
        if (!IsOpen)
            return Failed;
        return Status(ftdi_set_line_property(Ctx, wordLength == 7 ? BITS_7 : BITS_8,
                                             stopBits == 2 ? STOP_BIT_2 : STOP_BIT_1,
                                             static_cast<ftdi_parity_type>(parity >= 0 && parity <= 4 ? parity : 0)));
    }
    int SetFlowControl(int mode, std::uint8_t xon, std::uint8_t xoff) override
    {
        if (!IsOpen)
            return Failed;
        if (mode == FlowXonXoff)
            return Status(ftdi_setflowctrl_xonxoff(Ctx, xon, xoff));
        return Status(ftdi_setflowctrl(Ctx, mode));
    }
    int SetDtr(bool on) override { return Status(IsOpen ? ftdi_setdtr(Ctx, on ? 1 : 0) : -1); }
    int SetRts(bool on) override { return Status(IsOpen ? ftdi_setrts(Ctx, on ? 1 : 0) : -1); }
    int GetModemStatus(unsigned &status) override
    {
        status = 0;
        unsigned short s = 0;
        if (!IsOpen || ftdi_poll_modem_status(Ctx, &s) < 0)
            return Failed;
        status = s & 0xFF;
        return Ok;
    }
    int Purge(int mask) override
    {
        if (!IsOpen)
            return Failed;
        int r = 0;
        if (mask & PurgeRx) {
            Ahead.clear();
            r |= ftdi_tciflush(Ctx);
        }
        if (mask & PurgeTx)
            r |= ftdi_tcoflush(Ctx);
        return Status(r);
    }
    int SetTimeouts(int readMs, int writeMs) override
    {
        ReadTimeoutMs = readMs;
        if (Ctx)
            Ctx->usb_write_timeout = writeMs;
        return Ok;
    }
    // libftdi has no receive-queue query: what the chip holds is read ahead, so the count is exact.
    int GetQueueStatus(int &received) override
    {
        received = 0;
        if (!IsOpen || Pull() < 0)
            return Failed;
        received = int(Ahead.size());
        return Ok;
    }
    int GetStatus(int &received, int &toSend, int &events) override
    {
        toSend = 0; // writes complete before ftdi_write_data returns
        events = 0;
        return GetQueueStatus(received);
    }
    int SetLatencyTimer(int ms) override
    {
        return Status(IsOpen ? ftdi_set_latency_timer(Ctx, static_cast<unsigned char>(std::clamp(ms, 1, 255))) : -1);
    }
    int GetDriverVersion(std::uint32_t &version) override
    {
        const libusb_version *v = libusb_get_version();
        if (!v)
            return Failed;
        version = PackVersion(v->major, v->minor, v->micro);
        return Ok;
    }
    int GetLibraryVersion(std::uint32_t &version) override
    {
        const ftdi_version_info v = ftdi_get_library_version();
        version = PackVersion(v.major, v.minor, v.micro);
        return Ok;
    }

private:
    static int Status(int r) { return r < 0 ? Failed : Ok; }
    // One bulk read; the chip answers within its latency timer even when idle.
    int Pull()
    {
        unsigned char chunk[512];
        const int n = ftdi_read_data(Ctx, chunk, sizeof chunk);
        if (n < 0)
            return n;
        Ahead.insert(Ahead.end(), chunk, chunk + n);
        return n;
    }

    ftdi_context *Ctx;
    bool IsOpen = false;
    int ReadTimeoutMs = 500;
    std::deque<std::uint8_t> Ahead;
};
} // namespace

std::unique_ptr<TFtdiDevice> MakeLibFtdiDevice() { return std::make_unique<TLibFtdiDevice>(); }
