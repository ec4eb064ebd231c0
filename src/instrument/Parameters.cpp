#include "instrument/Parameters.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {
constexpr TIPTimingRow Row(std::uint16_t time, std::uint16_t vdly, std::uint16_t mdly, std::initializer_list<std::uint16_t> tm)
{
    TIPTimingRow r{};
    r[0] = time;
    r[1] = vdly;
    r[2] = mdly;
    std::size_t i = 3;
    for (auto v : tm)
        r[i++] = v;
    return r;
}

// Widths written out in full: 8000, 4000, 2000, 1000, 500 and 250 ms, each
// Arithmetic, Semi logarithmic, Logarithmic, Cole-Cole.
constexpr std::array<std::array<TIPTimingRow, 4>, 6> Table = {{
    {{Row(800, 534, 96, {32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32}),
      Row(800, 534, 32, {16, 16, 16, 16, 16, 16, 16, 16, 32, 32, 32, 32, 32, 32, 64, 64, 64, 64, 64, 64}),
      Row(800, 534, 16, {12, 22, 42, 82, 162, 322}),
      Row(800, 534, 2, {4, 6, 8, 10, 12, 15, 18, 22, 25, 28, 32, 36, 40, 45, 50, 58, 70, 85, 101, 118})}},
    {{Row(400, 262, 48, {16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16}),
      Row(400, 262, 16, {8, 8, 8, 8, 8, 8, 8, 8, 16, 16, 16, 16, 16, 16, 32, 32, 32, 32, 32, 32}),
      Row(400, 262, 16, {12, 22, 42, 82, 162}),
      Row(400, 262, 2, {4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 25, 28, 32, 38, 45, 53})}},
    {{Row(200, 126, 24, {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8}),
      Row(200, 126, 4, {4, 4, 4, 4, 4, 4, 4, 8, 8, 8, 8, 8, 8, 8, 16, 16, 16, 16, 16, 16}),
      Row(200, 126, 16, {12, 22, 42, 82}),
      Row(200, 126, 2, {2, 3, 3, 3, 4, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 18, 20})}},
    {{Row(100, 58, 12, {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}),
      Row(100, 58, 4, {2, 2, 2, 2, 2, 2, 2, 2, 4, 4, 4, 4, 4, 4, 8, 8, 8, 8, 8, 8}),
      Row(100, 58, 16, {12, 22, 42}),
      Row(100, 58, 2, {1, 2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 7, 8, 9})}},
    {{Row(50, 28, 6, {4, 4, 4}), Row(50, 28, 4, {4, 8, 16}), Row(50, 28, 16, {8, 18}), Row(50, 28, 16, {8, 18})}},
    {{Row(25, 13, 0, {}), Row(25, 13, 0, {}), Row(25, 13, 0, {}), Row(25, 13, 0, {})}},
}};

// A whole decimal number, as the edits accept it.
bool ToInt(const QString &text, int &out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (ok)
        out = v;
    return ok;
}
} // namespace

const TIPTimingRow &IPTimingRow(int timeIndex, int ipMode)
{
    timeIndex = std::clamp(timeIndex, 0, 5);
    if (ipMode < 0 || ipMode > 3)
        ipMode = 0;
    return Table[static_cast<std::size_t>(timeIndex)][static_cast<std::size_t>(ipMode)];
}

void ApplyIPTiming(TStartParameters &p, int timeIndex, int ipMode)
{
    const TIPTimingRow &r = IPTimingRow(timeIndex, ipMode);
    p.Time = r[0];
    p.VDly = r[1];
    p.MDly = r[2];
    for (std::size_t i = 0; i < 20; ++i)
        p.TM[i] = r[i + 3];
}

namespace ParameterRules {

void SelectVp(TStartParameters &p)
{
    if (p.VpCode() == 0)
        p.SetVpCode(1);
    p.SetVabCode(0);
}

void SelectVab(TStartParameters &p)
{
    p.SetVpCode(0);
    if (p.VabCode() == 0)
        p.SetVabCode(1);
}

void SetVpItem(TStartParameters &p, int item) { p.SetVpCode(std::clamp(item, 0, 4) + 1); }
void SetVabItem(TStartParameters &p, int item) { p.SetVabCode(std::clamp(item, 0, 8) + 1); }

TEditOutcome VabMaximum(TStartParameters &p, const QString &text)
{
    TEditOutcome o;
    int v = 0;
    if (!ToInt(text, v) || v < 1 || v > 799) {
        v = 800;
        o.Beep = true;
        o.Text = QStringLiteral("800");
    } else {
        o.Text = text.trimmed();
    }
    p.SetVabMax(v / 10);
    o.Value = v;
    return o;
}

void SetRhoOnly(TStartParameters &p, bool rhoOnly) { p.SetRhoOnly(rhoOnly); }

bool ChooseTime(TStartParameters &p, int index)
{
    index = std::clamp(index, 0, 5);
    if (index == p.TimeIndex())
        return false;
    if (p.IPMode() == ProgrammableIPMode)
        p.SetIPMode(0);
    p.SetTimeIndex(index);
    ApplyIPTiming(p, index, p.IPMode());
    return true;
}

bool ChooseIPMode(TStartParameters &p, int mode)
{
    mode = std::clamp(mode, 0, ProgrammableIPMode);
    if (mode == p.IPMode())
        return false;
    p.SetIPMode(mode);
    ApplyIPTiming(p, p.TimeIndex(), mode);
    return true;
}

TEditOutcome StdChannel(TStartParameters &p, const QString &text, int trigger, QString &triggerText)
{
    TEditOutcome o;
    int v = 0;
    if (!ToInt(text, v) || v < 1 || v > 10) {
        o.Beep = true;
        o.Text = QStringLiteral("10");
        o.Value = 10;
        p.Channel = 10;
        return o;
    }
    o.Value = v;
    o.Text = QString::number(v);
    p.ChannelSynchro = trigger - 1;
    p.Channel = v;
    if (p.Channel - 1 < p.ChannelSynchro) {
        p.ChannelSynchro = p.Channel - 1;
        triggerText = QString::number(p.Channel);
    }
    return o;
}

TEditOutcome Trigger(TStartParameters &p, const QString &text)
{
    TEditOutcome o;
    int v = 0;
    if (!ToInt(text, v) || v < 1 || v > p.Channel) {
        o.Beep = true;
        v = 1;
    }
    o.Value = v;
    o.Text = QString::number(v);
    p.ChannelSynchro = v - 1;
    return o;
}

TEditOutcome QMax(TStartParameters &p, const QString &text)
{
    // The stored value is a percentage with decimals (a configuration may
    // hold 1.5): tabbing through the field must keep it, in either decimal sign.
    TEditOutcome o;
    QString t = text.trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    float v = t.toFloat(&ok);
    if (!ok || !(v >= 0.0f) || v > 99.0f) {
        o.Beep = true;
        v = 0.0f;
    }
    o.Value = int(v);
    o.Text = QString::number(double(v));
    p.CrenEt = v;
    return o;
}

TEditOutcome StackMin(TStartParameters &p, const QString &text, bool &maxRaised)
{
    TEditOutcome o;
    maxRaised = false;
    int v = 0;
    if (!ToInt(text, v) || v < 1 || v > 999) {
        o.Beep = true;
        v = 4;
    }
    o.Value = v;
    o.Text = QString::number(v);
    p.CrenMin = v;
    if (p.CrenMax < v) {
        p.CrenMax = v;
        maxRaised = true;
        o.Beep = true;
    }
    return o;
}

TEditOutcome StackMax(TStartParameters &p, const QString &text)
{
    TEditOutcome o;
    int v = 0;
    if (!ToInt(text, v) || v <= p.CrenMin || v > 999) {
        o.Beep = true;
        v = p.CrenMin;
    }
    o.Value = v;
    o.Text = QString::number(v);
    p.CrenMax = v;
    return o;
}

TEditOutcome SpeedTime(std::uint16_t &speedStartTime, const QString &text)
{
    TEditOutcome o;
    int ms = 0;
    if (ToInt(text, ms))
        speedStartTime = std::uint16_t(std::clamp(ms / 10, 15, 800));
    o.Value = speedStartTime * 10;
    o.Text = QString::number(o.Value);
    return o;
}

TEditOutcome SpeedTxVoltage(float &voltage, const QString &text, const QLocale &locale)
{
    TEditOutcome o;
    bool ok = false;
    const float v = locale.toFloat(text.trimmed(), &ok);
    // No transmitter goes beyond 800 V; a larger number is as bad as no number
    // (and would not fit the integer shown).
    if (!ok || !(v >= 0.0f && v <= 800.0f)) {
        voltage = 12.0f;
        o.Beep = true;
        o.Text = QStringLiteral("12");
    } else {
        voltage = v;
        o.Text = text.trimmed();
    }
    o.Value = int(voltage);
    return o;
}

TEditOutcome SpeedChannel(std::int32_t &channels, const QString &text)
{
    TEditOutcome o;
    int v = 0;
    if (!ToInt(text, v) || v < 1 || v > 10) {
        o.Beep = true;
        v = 10;
    }
    channels = v;
    o.Value = v;
    o.Text = QString::number(v);
    return o;
}
} // namespace ParameterRules

namespace Position {
QString Text(float value, bool latitude)
{
    const float a = std::fabs(value) * 0.01f;
    const float d = std::floor(a);
    const float m = (a - d) * 100.0f;
    const char letter = latitude ? (value >= 0 ? 'N' : 'S') : (value >= 0 ? 'E' : 'W');
    // A point in every language, as the field's mask shows it.
    return QString::asprintf("%03.0f:%06.3f %c", double(d), double(m), letter);
}

bool Parse(const QString &text, bool latitude, float &value)
{
    const QString t = text.leftJustified(12, QLatin1Char(' '));
    bool okD = false, okM = false, okT = false;
    const double degrees = t.mid(0, 3).trimmed().toDouble(&okD);
    const double minutes = t.mid(4, 2).trimmed().toDouble(&okM);
    const double thousandths = t.mid(7, 3).trimmed().toDouble(&okT);
    if (!okD || !okM || !okT)
        return false;
    const QChar letter = t.at(11);
    const double sign = letter == QLatin1Char(latitude ? 'N' : 'E') ? 1.0 : -1.0;
    value = static_cast<float>((degrees * 100.0 + minutes + thousandths * 0.001) * sign);
    return true;
}
} // namespace Position

bool ApplyIPWindows(TStartParameters &p, const QString &mdlyText, const std::array<QString, 20> &widthTexts)
{
    int mdly = 0;
    if (!ToInt(mdlyText, mdly))
        mdly = 120;
    p.MDly = std::uint16_t(std::clamp(mdly / 10, 0, 65535));
    int sum = p.MDly + 8;
    bool cut = false;
    for (std::size_t i = 0; i < 20; ++i) {
        int width = 0;
        if (!ToInt(widthTexts[i], width))
            width = 0;
        width = std::clamp(width / 10, 0, 65535);
        sum += width;
        if (sum > p.Time) {
            width = 0;
            cut = true;
        }
        p.TM[i] = std::uint16_t(width);
    }
    return cut;
}
