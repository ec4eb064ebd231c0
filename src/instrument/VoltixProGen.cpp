#include "instrument/VoltixProGen.h"

#include "base/Clock.h"
#include "base/DateText.h"
#include "base/TarnelError.h"
#include "base/WireTrace.h"
#include "base/UserInterface.h"
#include "instrument/DataFile.h"
#include "instrument/SpeedAnswer.h"
#include "instrument/Wire.h"
#include "link/PortVirt.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

namespace {
constexpr int CommandTimeoutMs = 2000;

// The link's error classes may take their kind or fix it themselves: either
// way the error leaves with the kind the decision needs.
template <class E>
[[noreturn]] void Raise(TErrorKind kind, const QString &message)
{
    if constexpr (std::is_constructible_v<E, TErrorKind, const QString &>)
        throw E(kind, message);
    else
        throw E(message);
}

TBlockProgress ProgressIf(bool on) { return on ? TBlockProgress::ProgressBar : TBlockProgress::None; }

void NoteCommand(std::uint8_t code, const char *detail = nullptr)
{
    if (!WireTrace::Active())
        return;
    const char *name = TPortVirt::CommandName(code);
    QString text = QStringLiteral("command %1 \"%2\"").arg(code).arg(QLatin1String(name ? name : "unknown"));
    if (detail)
        text += QStringLiteral(": ") + QLatin1String(detail);
    WireTrace::Note(text);
}

void NoteAnswer(std::uint8_t code, bool accepted, bool refused)
{
    if (WireTrace::Active() && !accepted)
        NoteCommand(code, refused ? "refused by the instrument" : "not acknowledged");
}

// A token as read, in hex when it is not two printable letters (a timeout
// leaves "00" or a half-written token).
QString TokenText(const std::array<std::uint8_t, 2> &token)
{
    const auto printable = [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; };
    if (printable(token[0]) && printable(token[1]))
        return QStringLiteral("token \"%1%2\"").arg(QChar(char16_t(token[0]))).arg(QChar(char16_t(token[1])));
    return QStringLiteral("token %1 %2 (hex)").arg(uint(token[0]), 2, 16, QLatin1Char('0')).arg(uint(token[1]), 2, 16, QLatin1Char('0'));
}

void NoteToken(const std::array<std::uint8_t, 2> &token, const QString &meaning)
{
    if (WireTrace::Active())
        WireTrace::Note(TokenText(token) + QStringLiteral(": ") + meaning);
}
} // namespace

TVoltixProGen::TVoltixProGen(TVoltixPro &owner, const TGenerationTable &table)
    : Owner(owner), Gen(table),
      Records(static_cast<std::size_t>(table.RecordSize * ChannelRecordCount), 0),
      Parameters(static_cast<std::size_t>(table.ParameterSize), 0), Description(DescriptionSize, 0)
{
}

std::span<std::uint8_t> TVoltixProGen::ChannelRecord(int k)
{
    k = std::clamp(k, 0, ChannelRecordCount - 1);
    return std::span<std::uint8_t>(Records).subspan(static_cast<std::size_t>(k * Gen.RecordSize),
                                                    static_cast<std::size_t>(Gen.RecordSize));
}

std::int32_t TVoltixProGen::InstrumentChannels() const { return GetLE<std::int32_t>(Description, 0); }

TPortVirt &TVoltixProGen::Port()
{
    if (!Owner.Port)
        throw ETarnelError(TErrorKind::LinkLost, "Port err.");
    return *Owner.Port;
}

void TVoltixProGen::RequireCommand(TPortVirt &port, std::uint8_t code, bool accepted)
{
    if (accepted)
        return;
    // Going on would send the command's data to an instrument that never took
    // the command, and read whatever it says next as the answer.
    if (port.GetState() <= 0)
        throw ETarnelError(TErrorKind::LinkLost, "Port err. Setcmd");
    if (port.CommandRefused())
        Raise<ERefusedError>(TErrorKind::Refused, TPortVirt::RefusedText(code));
    Raise<ENoAnswerError>(TErrorKind::Timeout, QStringLiteral("Port err. Setcmd"));
}

void TVoltixProGen::Command(std::uint8_t code)
{
    TPortVirt &port = Port();
    NoteCommand(code);
    const bool accepted = port.SendCommand(code, CommandTimeoutMs);
    NoteAnswer(code, accepted, !accepted && port.CommandRefused());
    RequireCommand(port, code, accepted);
}

void TVoltixProGen::SendRaw(std::span<const std::uint8_t> bytes) { Port().WriteBlock(bytes); }

template <class T>
void TVoltixProGen::SendValue(T value)
{
    std::array<std::uint8_t, sizeof(T)> bytes{};
    std::memcpy(bytes.data(), &value, sizeof(T));
    SendRaw(bytes);
}

template <class T>
T TVoltixProGen::ReadValue()
{
    std::array<std::uint8_t, sizeof(T)> bytes{};
    Port().ReadExact(bytes);
    T value{};
    std::memcpy(&value, bytes.data(), sizeof(T));
    return value;
}

void TVoltixProGen::CreateDataFile(const QString &fileName, const QByteArray &headerText, bool replace)
{
    WriteDataFileHeader(fileName, headerText, Owner.Now(), replace);
}

void TVoltixProGen::AppendRecords(const QString &fileName, int count, int first, TRecordArray &records, bool lowCurrent)
{
    // A record count from the instrument beyond the ten channel records would
    // read past them: only what exists is converted.
    // ... and never past the last quadripole of the survey.
    const int available = std::max(0, std::min(ChannelRecordCount, Owner.QuadCount - first));
    count = std::clamp(count, 0, available);
    const double day = DayNumber(Owner.Now());
    for (int k = 0; k < count; ++k)
        ConvertChannelRecord(Gen, ChannelRecord(k), Owner, first + k, lowCurrent, day,
                             records[static_cast<std::size_t>(k)]);
    AppendDataRecords(fileName, std::span<const TDataRecord>(records.data(), static_cast<std::size_t>(count)));
}

void TVoltixProGen::SetChannelCount(int n)
{
    PutLE<std::int32_t>(Parameters, 0, n);
    SendParameters();
}

void TVoltixProGen::SetParameters(TStartParameters parameters)
{
    GetDescription();
    GetParameters();
    const auto wanted = static_cast<std::uint32_t>(parameters.Channel);
    const auto available = static_cast<std::uint32_t>(InstrumentChannels());
    PutLE<std::uint32_t>(Parameters, 0, std::min(wanted, available));
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(&parameters);
    std::memcpy(Parameters.data() + 4, bytes + 4, ParameterBytesSent - 4);
    SendParameters();
}

void TVoltixProGen::Escape()
{
    TBusyScope busy(Owner.Ui);
    Command(27);
}

void TVoltixProGen::GetParameters()
{
    TBusyScope busy(Owner.Ui);
    Command(28);
    Port().ReceiveBlockInto(Parameters, ProgressIf(Gen.BlockProgress), TBlockErrors::ErrorIndicator);
    Port().WaitPrompt();
}

void TVoltixProGen::SendParameters()
{
    TBusyScope busy(Owner.Ui);
    if (Gen.RestartFlag) {
        Parameters[27] &= 0x7F;
        if (Owner.RestartFlag)
            Parameters[27] |= 0x80;
    }
    Command(29);
    Port().SendBlockFrom(std::span<const std::uint8_t>(Parameters), TBlockErrors::ErrorIndicator,
                         ProgressIf(Gen.BlockProgress));
    Port().WaitPrompt();
}

void TVoltixProGen::GetDescription()
{
    TBusyScope busy(Owner.Ui);
    Command(30);
    Port().ReceiveBlockInto(Description, ProgressIf(Gen.BlockProgress), TBlockErrors::ErrorIndicator);
    Port().WaitPrompt();
}

int TVoltixProGen::RunMeasurement()
{
    TBusyScope busy(Owner.Ui);
    TUserInterface &ui = Owner.Ui;
    Fault.clear();
    // The group size SetChannelCount sent bounds what the run may announce.
    const int group = std::clamp<std::int32_t>(GetLE<std::int32_t>(Parameters, 0), 0, ChannelRecordCount);
    // A group that arrives short must not be completed by an earlier group's records.
    std::fill(Records.begin(), Records.end(), std::uint8_t(0));
    Command(32);
    std::int32_t count = 0;
    int received = -1; // bytes of the records block after the last "GO"; -1 when none came
    // Maximum stacks + 3; the stack count as sent may be anything.
    const int stackLimit = std::clamp(GetLE<std::int32_t>(Parameters, 16), 0, 999) + 3;
    // A measurement's stacks may last longer than the watchdog's limit: its
    // tokens are progress, as far as a measurement can have them, so an
    // instrument that repeats itself still runs out of time.
    bool started = false;
    for (;;) {
        std::array<std::uint8_t, 2> token = {'0', '0'};
        ui.SetProgressRange(0, stackLimit);
        ui.SetProgressPosition(0);
        Port().RawRead(token, Gen.TokenTimeoutMs);
        if (token == std::array<std::uint8_t, 2>{'S', 'T'}) {
            NoteToken(token, QStringLiteral("end of the run, %1 records announced").arg(count));
            return CheckedCount(count, received, group);
        }
        if (token != std::array<std::uint8_t, 2>{'G', 'O'}) {
            NoteToken(token, QStringLiteral("not a run token: the group gets no records"));
            return 0;
        }
        NoteToken(token, QStringLiteral("measuring"));
        if (!std::exchange(started, true))
            Port().NoteProgress();
        int stacks = 0;
        std::array<std::uint8_t, 4> countBytes{};
        Port().RawRead(countBytes, Gen.CountTimeoutMs);
        std::memcpy(&count, countBytes.data(), 4);
        if (WireTrace::Active())
            WireTrace::Note(QStringLiteral("record count %1").arg(count));
        received = -1;
        for (;;) {
            token = {'0', '0'};
            Port().RawRead(token, Gen.TokenTimeoutMs);
            if (token == std::array<std::uint8_t, 2>{'O', 'K'}) {
                NoteToken(token, QStringLiteral("the records block follows"));
                try {
                    received = Port().ReceiveBlockInto(Records, ProgressIf(Gen.BlockProgress),
                                                       TBlockErrors::ErrorIndicator);
                } catch (const ETarnelError &e) {
                    // A block that could not be received on a live link is a
                    // failed measurement of the group, not a lost link.
                    const bool linkDown = Port().GetState() <= 0;
                    if (WireTrace::Active())
                        WireTrace::Note(QStringLiteral("records block: %1%2")
                                            .arg(e.Message(), linkDown ? QStringLiteral(" (link down)") : QString()));
                    if (e.Kind() != TErrorKind::Checksum || linkDown)
                        throw;
                    Port().FlushInput();
                    Fault = QStringLiteral("the records block failed");
                    if (WireTrace::Active())
                        WireTrace::Note(QStringLiteral("the group is judged wrong, the link goes on"));
                    return WrongGroup;
                }
                if (WireTrace::Active())
                    WireTrace::Note(QStringLiteral("records block of %1 bytes").arg(received));
                break;
            }
            if (token == std::array<std::uint8_t, 2>{'+', '-'}) {
                NoteToken(token, QStringLiteral("stack %1").arg(stacks + 1));
                ui.SetProgressPosition(ui.ProgressPosition() + 1);
                if (++stacks <= stackLimit)
                    Port().NoteProgress();
                continue;
            }
            NoteToken(token, QStringLiteral("not \"OK\" or \"+-\": back to waiting for \"GO\" or \"ST\""));
            break;
        }
    }
}

int TVoltixProGen::CheckedCount(std::int32_t count, int receivedBytes, int group)
{
    if (count == 0)
        return 0;
    if (count < 0 || count > group) {
        Fault = QStringLiteral("record count %1 for a group of %2").arg(count).arg(group);
        return WrongGroup;
    }
    if (receivedBytes < count * Gen.RecordSize) {
        Fault = receivedBytes < 0 ? QStringLiteral("no records block for %1 records").arg(count)
                                  : QStringLiteral("records block of %1 bytes for %2 records")
                                        .arg(receivedBytes)
                                        .arg(count);
        return WrongGroup;
    }
    for (int k = 0; k < count; ++k) {
        const int index = ChannelRecord(k)[ChannelOffset::Channel] & 0x0F;
        if (index >= group) {
            Fault = QStringLiteral("record %1 has channel %2 outside the group of %3").arg(k + 1).arg(index + 1).arg(group);
            return WrongGroup;
        }
    }
    return count;
}

void TVoltixProGen::SpeedMeasure(const TElectrodeList &electrodes, bool useVoltage)
{
    const float voltage = useVoltage ? Owner.SpeedStartTxVoltage : 0.0f;
    Owner.SpeedFlag = 1;
    Owner.SpeedDelay = 12;
    TBusyScope busy(Owner.Ui);
    if (Gen.RetrySpeedCommand) {
        NoteCommand(34);
        while (!Port().SendCommand(34, CommandTimeoutMs)) {
            NoteCommand(34, "not acknowledged, sent again");
            Port().FlushOutput();
            Port().FlushInput();
        }
    } else {
        Command(34);
    }
    std::array<std::uint8_t, 4 + 2 + 2 + 2 + 26> head{};
    std::size_t at = 0;
    AppendLE(std::span<std::uint8_t>(head), at, voltage);
    AppendLE(std::span<std::uint8_t>(head), at, Owner.SpeedStartTime);
    AppendLE(std::span<std::uint8_t>(head), at, Owner.SpeedDelay);
    AppendLE(std::span<std::uint8_t>(head), at, Owner.SpeedFlag);
    for (std::int16_t e : electrodes)
        AppendLE(std::span<std::uint8_t>(head), at, e);
    SendRaw(head);
    Port().PutByte(0x55);

    // The answer holds two values per channel plus the currents; an absurd
    // channel count in the description is bounded.
    const TSpeedAnswer layout{std::clamp<std::int32_t>(InstrumentChannels(), 0, 64)};
    std::vector<std::uint8_t> answer(layout.ByteCount(), 0);
    Port().ReadExact(answer);
    std::vector<float> values(std::size_t(layout.ValueCount()), 0.0f);
    std::memcpy(values.data(), answer.data(), answer.size());
    // A channel the instrument does not have reads as 0.
    const auto value = [&](int i) { return i >= 0 && i < int(values.size()) ? values[std::size_t(i)] : 0.0f; };
    const auto channelValue = [&](int k, int i) { return k < layout.Channels ? value(i) : 0.0f; };

    const int channels = std::clamp<std::int32_t>(Owner.SpeedStartChannel, 0, ChannelRecordCount);
    const std::array<float, 3> health = Owner.ShownHealth();
    const float in = (value(layout.CurrentPositive()) - value(layout.CurrentNegative())) * 0.5f;
    for (int k = 0; k < channels; ++k) {
        std::span<std::uint8_t> r = ChannelRecord(k);
        r[0] = std::uint8_t((Owner.SpeedStartChannel % 16) * 16 + (k % 16));
        r[1] = 2;
        PutLE<std::uint16_t>(r, ChannelOffset::Counter, 0);
        PutLE<float>(r, ChannelOffset::Latitude, Owner.StartParameters.Latitude);
        PutLE<float>(r, ChannelOffset::Longitude, Owner.StartParameters.Longitude);
        PutLE<std::uint16_t>(r, ChannelOffset::PulseTime, Owner.SpeedStartTime);
        const float plus = channelValue(k, layout.Positive(k)), minus = channelValue(k, layout.Negative(k));
        const float sp = (plus + minus) * 0.5f;
        const float vp = (plus - minus) * 0.5f;
        PutLE<float>(r, Gen.OffSp, sp);
        PutLE<float>(r, Gen.OffVp, vp);
        PutLE<float>(r, Gen.OffIn, in);
        PutLE<float>(r, Gen.OffM, 0.0f);
        PutLE<float>(r, Gen.OffQ, 0.0f);
        PutLE<float>(r, Gen.OffResistance, std::fabs(in) > 0.001f ? vp / in : 0.0f);
        for (int w = 0; w < 20; ++w) {
            PutLE<std::uint16_t>(r, ChannelOffset::Windows + 2 * w, 0);
            PutLE<float>(r, Gen.OffChargeabilities + 4 * w, 0.0f);
        }
        if (Gen.WritesInstrumentState) {
            PutLE<std::uint16_t>(r, ChannelOffset::WindowDelay, 0);
            PutLE<float>(r, Gen.OffValue, 0.0f);
            PutLE<float>(r, Gen.OffRxResistance, 0.0f);
            PutLE<float>(r, Gen.OffTxBattery, health[0]);
            PutLE<float>(r, Gen.OffRxBattery, health[1]);
            PutLE<float>(r, Gen.OffTemperature, health[2]);
            PutLE<float>(r, Gen.OffVab, voltage);
        }
    }
    Port().PutByte(0x00);
}

void TVoltixProGen::ChangeMode(std::int32_t mode)
{
    TBusyScope busy(Owner.Ui);
    Command(37);
    SendValue<std::int32_t>(mode);
    Port().Rest(500);
    if (mode != 0)
        SendValue<std::uint16_t>(1);
    Port().WaitPrompt();
}

void TVoltixProGen::SwitchElectrodes(const TElectrodeList &electrodes)
{
    TBusyScope busy(Owner.Ui);
    Command(41);
    SendValue<std::uint16_t>(1);
    std::array<std::uint8_t, 26> list{};
    std::size_t at = 0;
    for (std::int16_t e : electrodes)
        AppendLE(std::span<std::uint8_t>(list), at, e);
    SendRaw(list);
    Port().WaitPrompt();
}

void TVoltixProGen::ReleaseElectrodes()
{
    TBusyScope busy(Owner.Ui);
    Command(41);
    SendValue<std::uint16_t>(1);
    SendRaw(std::array<std::uint8_t, 26>{});
    Port().WaitPrompt();
}

void TVoltixProGen::GetGpsData(std::array<std::uint8_t, 4> &out)
{
    TBusyScope busy(Owner.Ui);
    out.fill(0);
    Command(42);
    // Cancel sends the sentence offered.
    const QString sentence =
        Owner.Ui.Ask(TQuestion::Input(QStringLiteral("GPS Download"), QStringLiteral("Enter NMEA sentence"), QStringLiteral("GPGGA")))
            .Value;
    std::array<std::uint8_t, 5> text{};
    const QByteArray bytes = sentence.toLatin1();
    for (std::size_t i = 0; i < text.size() && i < static_cast<std::size_t>(bytes.size()); ++i)
        text[i] = static_cast<std::uint8_t>(bytes[static_cast<qsizetype>(i)]);
    SendRaw(text);
    const auto n = static_cast<std::size_t>(std::clamp<std::int32_t>(ReadValue<std::int32_t>(), 0, 4));
    Port().ReadExact(std::span<std::uint8_t>(out.data(), n));
    Port().WaitPrompt();
}

void TVoltixProGen::ReadRxResistances()
{
    TBusyScope busy(Owner.Ui);
    for (int i = 0; i < ChannelRecordCount; ++i) {
        if (i == 0) {
            Command(43);
        } else {
            NoteCommand(43, "after the prompt");
            const bool accepted = Port().PromptAndSendCommand(43, CommandTimeoutMs);
            NoteAnswer(43, accepted, !accepted && Port().CommandRefused());
            RequireCommand(Port(), 43, accepted);
        }
        SendValue<std::int32_t>(i);
        PutLE<float>(ChannelRecord(i), Gen.OffRxResistance, ReadValue<float>());
    }
    Port().WaitPrompt();
}

void TVoltixProGen::ReadResistance()
{
    TBusyScope busy(Owner.Ui);
    Command(43);
    SendValue<std::int32_t>(0);
    Owner.Resistance = ReadValue<float>();
    Port().WaitPrompt();
}

float TVoltixProGen::ReadTxResistance()
{
    TBusyScope busy(Owner.Ui);
    Command(44);
    const float value = ReadValue<float>();
    Port().WaitPrompt();
    return value;
}
