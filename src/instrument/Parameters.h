#pragma once
// The rules of the measurement settings as the Configuration page edits them:
// each entry is checked, an invalid one is replaced by a fixed value with a
// beep, and the record follows the replacement. Headless, so the CLI and the
// tests apply exactly what the window does.
#include "instrument/StartParameters.h"

#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>

// One row of the IP timing table: Time, VDly, MDly, TM1..TM20 (units of 10 ms).
using TIPTimingRow = std::array<std::uint16_t, 23>;

// Row of a pulse time index (0 "8000 ms" .. 5 "250 ms") and IP mode
// (0..3; "Programmable" uses the "Arithmetic" row).
const TIPTimingRow &IPTimingRow(int timeIndex, int ipMode);
// Copies a row over Time .. TM20.
void ApplyIPTiming(TStartParameters &p, int timeIndex, int ipMode);

inline constexpr int ProgrammableIPMode = 4;

// What an edit shows after its rule ran.
struct TEditOutcome {
    int Value = 0;      // the value stored
    QString Text;       // the edit's new text
    bool Beep = false;
};

namespace ParameterRules {
// "Vp :" and "Vab :" radio buttons.
void SelectVp(TStartParameters &p);
void SelectVab(TStartParameters &p);
// Items of the Vp and Vab lists (0-based).
void SetVpItem(TStartParameters &p, int item);
void SetVabItem(TStartParameters &p, int item);
// "Vab Maximum :" in volts; stored in tens of volts.
TEditOutcome VabMaximum(TStartParameters &p, const QString &text);
void SetRhoOnly(TStartParameters &p, bool rhoOnly);
// Pulse time and IP mode lists; false when the index did not change.
bool ChooseTime(TStartParameters &p, int index);
bool ChooseIPMode(TStartParameters &p, int mode);
// "Channel :" of the standard setup. trigger is the trigger edit's value;
// triggerText receives the trigger edit's text when the rule changes it.
TEditOutcome StdChannel(TStartParameters &p, const QString &text, int trigger, QString &triggerText);
TEditOutcome Trigger(TStartParameters &p, const QString &text);
TEditOutcome QMax(TStartParameters &p, const QString &text);
// Minimum stacks; maxRaised tells that CrenMax followed (with a beep).
TEditOutcome StackMin(TStartParameters &p, const QString &text, bool &maxRaised);
TEditOutcome StackMax(TStartParameters &p, const QString &text);
// High-speed edits.
TEditOutcome SpeedTime(std::uint16_t &speedStartTime, const QString &text);
TEditOutcome SpeedTxVoltage(float &voltage, const QString &text, const QLocale &locale);
TEditOutcome SpeedChannel(std::int32_t &channels, const QString &text);
} // namespace ParameterRules

// Survey position in degree-minute notation (+-DDMM.mmm).
namespace Position {
// "045:23.456 N" for 4523.456 as latitude.
QString Text(float value, bool latitude);
// Parses "DDD:MM.mmm L"; false (value untouched) when a part is not a number.
bool Parse(const QString &text, bool latitude, float &value);
} // namespace Position

// The IP timing dialog's check: windows that would end after the pulse are
// cut to 0. mdlyMs and widthsMs are the dialog's entries in ms. Returns true
// when a window was cut (the dialog is shown again).
bool ApplyIPWindows(TStartParameters &p, const QString &mdlyText, const std::array<QString, 20> &widthTexts);
