#pragma once
// The instrument model: the survey layout plus the acquisition settings, the
// line resistances and the protocol object of the connected instrument.
#include "instrument/DataRecord.h"
#include "instrument/StartParameters.h"
#include "survey/Sequence.h"

#include <QDateTime>
#include <QLocale>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

class TPortVirt;
class TClock;
class TUserInterface;
class TVoltixPro;
struct TGenerationTable;

using TElectrodeList = TSequence::ElectrodeList;

// The protocol object. This base does nothing, so the model always has one;
// a connection replaces it by the object of the instrument's generation.
class TVoltixProVxx {
public:
    virtual ~TVoltixProVxx() = default;

    virtual void CreateDataFile(const QString &fileName, const QByteArray &headerText, bool replace = true);
    virtual void AppendRecords(const QString &fileName, int count, int first, TRecordArray &records, bool lowCurrent);
    virtual void SetChannelCount(int n);
    virtual void SetParameters(TStartParameters parameters);
    virtual void Escape();
    virtual void GetParameters();
    virtual void SendParameters();
    virtual void GetDescription();
    // The run dialogue's record count, 0 when the dialogue failed, or
    // WrongGroup when the records of the group did not arrive whole and
    // truthful (what was wrong is in MeasurementFault()).
    virtual int RunMeasurement();
    static constexpr int WrongGroup = -1;
    virtual QString MeasurementFault() const { return {}; }
    virtual void SpeedMeasure(const TElectrodeList &electrodes, bool useVoltage);
    virtual void ChangeMode(std::int32_t mode);
    virtual void SwitchElectrodes(const TElectrodeList &electrodes);
    virtual void ReleaseElectrodes();
    virtual void GetGpsData(std::array<std::uint8_t, 4> &out);
    virtual void ReadRxResistances();
    virtual void ReadResistance();
    virtual float ReadTxResistance();

    // The generation's table, or nullptr for the do-nothing object.
    virtual const TGenerationTable *Table() const { return nullptr; }
};

class TVoltixPro : public TSequence {
public:
    explicit TVoltixPro(TUserInterface &ui, TClock &clock);
    ~TVoltixPro();

    std::uint32_t InstrumentType = 0;
    std::array<float, NodeTableSize> LineResistance = {};
    float SpeedStartTxVoltage = 12.0f;
    std::uint16_t SpeedStartTime = 25;
    std::uint16_t SpeedStartDelay = 12;
    std::uint16_t SpeedFlag = 0;
    std::uint16_t SpeedDelay = 0;
    std::int32_t SpeedStartChannel = 10;
    TStartParameters StartParameters;
    Node P1 = {0, 0, 0, 0};
    Node P2 = {0, 0, 0, 0};
    float Resistance = 0.0f;

    TVoltixProVxx &Protocol() { return *ProtocolObject; }
    // Replaces the protocol object by the one of typeCode; an unknown code
    // keeps the current one. Returns true when it was replaced.
    bool ChooseProtocol(std::uint32_t typeCode);

    // Line resistance of a node number; 0 outside the table.
    float LineResistanceOf(int node) const noexcept;

    // Environment of the protocol objects.
    TPortVirt *Port = nullptr;          // the current port, not owned
    TUserInterface &Ui;
    TClock &Clock;
    // Set when the program's first argument contains "RESTART".
    bool RestartFlag = false;
    // Transmitter battery, receiver battery and temperature as the health
    // monitor shows them; fast measurements record them.
    std::function<std::array<float, 3>()> ShownHealth = [] { return std::array<float, 3>{0, 0, 0}; };
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

    static bool RestartRequested(const QStringList &arguments);

private:
    std::unique_ptr<TVoltixProVxx> ProtocolObject;
};
