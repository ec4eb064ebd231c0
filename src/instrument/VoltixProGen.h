#pragma once
// The protocol of a connected instrument. Both generations speak the same
// commands; what differs (image sizes, offsets, timeouts, data-file details)
// comes from the generation's table.
#include "instrument/Generation.h"
#include "instrument/VoltixPro.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

class TVoltixProGen : public TVoltixProVxx {
public:
    TVoltixProGen(TVoltixPro &owner, const TGenerationTable &table);

    void CreateDataFile(const QString &fileName, const QByteArray &headerText, bool replace = true) override;
    void AppendRecords(const QString &fileName, int count, int first, TRecordArray &records, bool lowCurrent) override;
    void SetChannelCount(int n) override;
    void SetParameters(TStartParameters parameters) override;
    void Escape() override;
    void GetParameters() override;
    void SendParameters() override;
    void GetDescription() override;
    int RunMeasurement() override;
    QString MeasurementFault() const override { return Fault; }
    void SpeedMeasure(const TElectrodeList &electrodes, bool useVoltage) override;
    void ChangeMode(std::int32_t mode) override;
    void SwitchElectrodes(const TElectrodeList &electrodes) override;
    void ReleaseElectrodes() override;
    void GetGpsData(std::array<std::uint8_t, 4> &out) override;
    void ReadRxResistances() override;
    void ReadResistance() override;
    float ReadTxResistance() override;
    const TGenerationTable *Table() const override { return &Gen; }

    // The instrument images, for the display and for tests.
    std::span<std::uint8_t> ChannelRecord(int k);
    std::span<std::uint8_t> ParameterBlock() { return Parameters; }
    std::span<std::uint8_t> DescriptionBlock() { return Description; }
    // The instrument's channel count from the description block.
    std::int32_t InstrumentChannels() const;
    // Ends the exchange when the command was not accepted (the result of
    // SendCommand or PromptAndSendCommand): refused, link lost or unanswered.
    static void RequireCommand(TPortVirt &port, std::uint8_t code, bool accepted);

protected:
    TPortVirt &Port();
    void Command(std::uint8_t code);
    void SendRaw(std::span<const std::uint8_t> bytes);
    template <class T>
    void SendValue(T value);
    template <class T>
    T ReadValue();

    TVoltixPro &Owner;
    const TGenerationTable &Gen;
    std::vector<std::uint8_t> Records;
    std::vector<std::uint8_t> Parameters;
    std::vector<std::uint8_t> Description;

private:
    // Checks what a run dialogue announced and received against the group.
    int CheckedCount(std::int32_t count, int receivedBytes, int group);
    QString Fault;
};

class TVoltixProV2 final : public TVoltixProGen {
public:
    explicit TVoltixProV2(TVoltixPro &owner) : TVoltixProGen(owner, Generation2) {}
};

class TVoltixProV1 final : public TVoltixProGen {
public:
    explicit TVoltixProV1(TVoltixPro &owner) : TVoltixProGen(owner, Generation1) {}
};
