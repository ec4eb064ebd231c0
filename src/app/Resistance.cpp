// The electrode and line resistance checks of the controller.
#include "app/Shell.h"

#include "app/MainView.h"
#include "base/SafeFile.h"
#include "base/UserInterface.h"
#include "instrument/VoltixPro.h"

#include <QFileInfo>

#include <cmath>

namespace {
TElectrodeList PairList(const Node &p1, const Node &p2)
{
    TElectrodeList list{};
    list[2] = static_cast<std::int16_t>(p1.Number);
    list[3] = static_cast<std::int16_t>(p2.Number);
    return list;
}

struct TExtremes {
    float Minimum = 999999.0f;
    float Maximum = -999999.0f;
};

void UpdateExtremes(TShell &shell, TExtremes &e)
{
    const TVoltixPro &m = *shell.Model;
    if (m.Resistance > e.Maximum) {
        shell.View.ShowResistance(2, m.P1, m.P2, m.Resistance);
        e.Maximum = m.Resistance;
    }
    if (m.Resistance < e.Minimum) {
        shell.View.ShowResistance(1, m.P1, m.P2, m.Resistance);
        e.Minimum = m.Resistance;
    }
}

// One step of the node walk of the chosen selection.
bool Step(const TVoltixPro &m, bool used, int &cursor, Node &out)
{
    return used ? m.NextUsedNode(cursor, out) : m.NextDefinedNode(cursor, out);
}

TElectrodeHealth Health(const Node &n)
{
    TElectrodeHealth e;
    e.Number = n.Number;
    e.X = double(n.X);
    e.Y = double(n.Y);
    e.Z = double(n.Z);
    return e;
}
} // namespace

void TShell::CheckElectrodes()
{
    TVoltixPro &m = *Model;
    int cursor = -1;
    SkipFlag = false;
    TExtremes extremes;
    View.SetNodeCheckPanelEnabled(false);
    View.ShowMaximumFlash(false);
    View.ShowSkip(false);
    View.ShowResistanceChecked(false);
    const float maximum = View.MaxResistance();
    const int selection = View.NodeSelection();
    bool first = true;
    bool last = false;
    Resistances = {};

    while (!last && State.RunState != TRunState::StopRequested) {
        WaitWhilePaused();
        if (selection == 2) {
            const std::array<int, 2> pair = View.NodePair();
            if (!m.GetNode(pair[0], m.P1))
                m.P1 = Node{0, 0, 0, pair[0]};
            if (!m.GetNode(pair[1], m.P2))
                m.P2 = Node{0, 0, 0, pair[1]};
            last = true;
        } else {
            const bool used = selection == 0;
            if (first) {
                if (!Step(m, used, cursor, m.P1))
                    break;
            } else {
                m.P1 = m.P2;
            }
            if (!Step(m, used, cursor, m.P2))
                break;
        }
        first = false;
        const TElectrodeList list = PairList(m.P1, m.P2);
        bool measured = false, skipped = false;
        while (State.RunState != TRunState::StopRequested) {
            WaitWhilePaused();
            if (SkipFlag) {
                SkipFlag = false;
                skipped = measured;
                break;
            }
            m.Protocol().SwitchElectrodes(list);
            m.Protocol().ReadResistance();
            measured = true;
            View.ShowResistance(0, m.P1, m.P2, m.Resistance);
            if (m.Resistance > maximum) {
                View.ShowMaximumFlash(true);
                View.ShowSkip(true);
                Ui.Yield(); // lets "Skip" and "Stop" in
                continue;
            }
            break;
        }
        View.ShowMaximumFlash(false);
        View.ShowSkip(false);
        UpdateExtremes(*this, extremes);
        if (measured) {
            Resistances.AddPair(Health(m.P1), Health(m.P2), m.Resistance, maximum, skipped);
            View.ShowResistanceProfile(Resistances, maximum);
        }
    }
    // Beside the data file: the quality control of the next run takes its
    // bad electrodes from there, and so does `qc`.
    if (!Resistances.Electrodes.empty() && !State.AcquisitionFile.isEmpty()) {
        const QString path = TResistanceTable::FileFor(State.AcquisitionFile);
        // A check stopped early or of one pair keeps the other electrodes' last readings.
        TResistanceTable earlier;
        if (QFileInfo::exists(path) && earlier.Read(path).isEmpty())
            Resistances.Keep(earlier);
        if (const QString error = TSafeFile::Write(path, Resistances.Text()); !error.isEmpty())
            WriteFailed(QStringLiteral("Can't save resistances \"%1\": %2").arg(path, error));
        else
            EventLog.AddStamped(QStringLiteral("Resistances written to ") + path);
    }
    View.ShowResistanceChecked(true);
    View.SetNodeCheckPanelEnabled(true);
    m.Protocol().ReleaseElectrodes();
    View.ShowSkip(false);
    State.RunState = TRunState::Idle;
}

void TShell::CheckLineResistance()
{
    TVoltixPro &m = *Model;
    int cursor = -1;
    TExtremes extremes;
    m.LineResistance.fill(0.0f);
    if (!State.StoreResistance)
        return;
    View.ShowPage(TPage::Resistance);
    // Black even after an alarm, and so are the check's other lines.
    EventLog.AddStamped(QStringLiteral("Start line resistance check"), LogColor::Black);

    const auto measure = [&](const Node &a, const Node &b) {
        m.P1 = a;
        m.P2 = b;
        m.Protocol().SwitchElectrodes(PairList(a, b));
        m.Protocol().ReadResistance();
        return m.Resistance;
    };
    Node u1{}, u2{}, u3{};
    if (!m.NextUsedNode(cursor, u1) || !m.NextUsedNode(cursor, u2))
        return;
    const float r12 = measure(u1, u2);
    if (!m.NextUsedNode(cursor, u3))
        return;
    const float r13 = measure(u1, u3);
    const float r23 = measure(u2, u3);
    float r1 = (r12 + r13 - r23) * 0.5f;
    cursor = -1;
    m.NextUsedNode(cursor, m.P1);
    if (u1.Number >= 0 && u1.Number < TSequence::NodeTableSize)
        m.LineResistance[static_cast<std::size_t>(u1.Number)] = std::fabs(r1);
    if (r1 > 500.0f)
        r1 = 0.0f; // an open line is not subtracted from the others

    const float maximum = View.MaxResistance();
    while (State.RunState != TRunState::StopRequested) {
        WaitWhilePaused();
        Node next{};
        if (!m.NextUsedNode(cursor, next))
            break;
        measure(u1, next);
        View.ShowResistance(0, m.P1, m.P2, m.Resistance);
        View.ShowMaximumFlash(m.Resistance > maximum);
        UpdateExtremes(*this, extremes);
        if (next.Number >= 0 && next.Number < TSequence::NodeTableSize)
            m.LineResistance[static_cast<std::size_t>(next.Number)] = std::fabs(m.Resistance - r1);
    }
    EventLog.AddStamped(QStringLiteral("Line resistance check ended"));
}
