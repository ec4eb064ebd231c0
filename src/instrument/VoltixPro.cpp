#include "instrument/VoltixPro.h"

#include "base/WireTrace.h"
#include "instrument/VoltixProGen.h"

#include <QStringList>

void TVoltixProVxx::CreateDataFile(const QString &, const QByteArray &, bool) {}
void TVoltixProVxx::AppendRecords(const QString &, int, int, TRecordArray &, bool) {}
void TVoltixProVxx::SetChannelCount(int) {}
void TVoltixProVxx::SetParameters(TStartParameters) {}
void TVoltixProVxx::Escape() {}
void TVoltixProVxx::GetParameters() {}
void TVoltixProVxx::SendParameters() {}
void TVoltixProVxx::GetDescription() {}
int TVoltixProVxx::RunMeasurement() { return 0; }
void TVoltixProVxx::SpeedMeasure(const TElectrodeList &, bool) {}
void TVoltixProVxx::ChangeMode(std::int32_t) {}
void TVoltixProVxx::SwitchElectrodes(const TElectrodeList &) {}
void TVoltixProVxx::ReleaseElectrodes() {}
void TVoltixProVxx::GetGpsData(std::array<std::uint8_t, 4> &) {}
void TVoltixProVxx::ReadRxResistances() {}
void TVoltixProVxx::ReadResistance() {}
float TVoltixProVxx::ReadTxResistance() { return 0.0f; }

TVoltixPro::TVoltixPro(TUserInterface &ui, TClock &clock)
    : Ui(ui), Clock(clock), ProtocolObject(std::make_unique<TVoltixProVxx>())
{
}

TVoltixPro::~TVoltixPro() = default;

bool TVoltixPro::ChooseProtocol(std::uint32_t typeCode)
{
    InstrumentType = typeCode;
    const TGenerationTable *gen = GenerationOf(typeCode);
    if (WireTrace::Active())
        WireTrace::Note(gen ? QStringLiteral("type code 0x%1: generation %2").arg(typeCode, 8, 16, QLatin1Char('0')).arg(gen->Generation)
                            : QStringLiteral("type code 0x%1: unknown, protocol kept").arg(typeCode, 8, 16, QLatin1Char('0')));
    if (!gen)
        return false;
    if (gen->Generation == 1)
        ProtocolObject = std::make_unique<TVoltixProV1>(*this);
    else
        ProtocolObject = std::make_unique<TVoltixProV2>(*this);
    return true;
}

float TVoltixPro::LineResistanceOf(int node) const noexcept
{
    if (node < 0 || node >= NodeTableSize)
        return 0.0f;
    return LineResistance[static_cast<std::size_t>(node)];
}

bool TVoltixPro::RestartRequested(const QStringList &arguments)
{
    return arguments.size() > 1 && arguments[1].contains(QStringLiteral("RESTART"));
}
