#include "app/OpeningPort.h"
#include "app/RecordingView.h"
#include "app/Shell.h"
#include "base/Folders.h"
#include "base/SafeFile.h"
#include "base/TarnelError.h"
#include "instrument/DataFileReader.h"
#include "instrument/FakeInstrument.h"
#include "instrument/VoltixPro.h"
#include "link/PortVirt.h"
#include "support/LockHolder.h"
#include "support/SmallFs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstring>
#include <map>

#include <optional>

namespace {
// A view that records what an action shows and answers its questions.
class TActionView : public TRecordingView {
public:
    int Action = 0;
    bool Overwrite = true;
    QString NewFile;
    QStringList Labels, Estimates;
    int Measurements = 0;
    bool Running = false;
    bool PauseDown = false;
    std::vector<std::array<float, 3>> Shown; // which, resistance, P2
    int ChooseAction(int preselected) override
    {
        Preselected = preselected;
        return Action;
    }
    int Preselected = -2;
    int OverwriteQuestions = 0;
    bool AskOverwrite(const QString &) override
    {
        ++OverwriteQuestions;
        return Overwrite;
    }
    std::optional<TExistingFile> Existing; // unset: the overwrite question
    int ExistingQuestions = 0;
    TExistingFile AskExistingFile(const QString &path) override
    {
        ++ExistingQuestions;
        return Existing ? *Existing : TRecordingView::AskExistingFile(path);
    }
    QString ChooseAcquisitionFileDialog(const QString &) override { return NewFile; }
    void SetActionRunning(bool running) override { Running = running; }
    void SetPauseDown(bool down) override { PauseDown = down; }
    void ShowMeasurement(const TDataRecord *, const std::int16_t *, int) override { ++Measurements; }
    void ShowProgressLabel(const QString &text) override { Labels << text; }
    void ShowEstimatedTime(const QString &text) override { Estimates << text; }
    float Maximum = 500.0f;
    int Selection = 0;
    float MaxResistance() const override { return Maximum; }
    int NodeSelection() const override { return Selection; }
    std::array<int, 2> Pair{0, 0};
    std::array<int, 2> NodePair() const override { return Pair; }
    void ShowResistance(int which, const Node &, const Node &p2, float r) override
    {
        Shown.push_back({float(which), r, float(p2.Number)});
    }
    bool SkipShown = false;
    void ShowSkip(bool shown) override { SkipShown = shown; }
    // The graph hooks in the order the controller called them.
    QStringList Graphs;
    void InitProgressGraph() override { Graphs << "init"; }
    void UpdateProgressGraph(int n, int s) override { Graphs << QStringLiteral("progress %1 %2").arg(n).arg(s); }
    void BuildPseudoSection() override { Graphs << "build"; }
    void UpdatePseudoSection(const TDataRecord *records, int first, int count) override
    {
        Graphs << QStringLiteral("section %1 %2%3").arg(first).arg(count).arg(records ? "" : " none");
        for (int k = 0; records && k < count; ++k)
            SectionRho.push_back(records[k].Rho);
    }
    std::vector<float> SectionRho;
    // Quality: the channels' flags of each group, the counts, the section's flags.
    std::vector<std::vector<unsigned>> GroupFlags;
    QString QualityCount;
    std::map<int, unsigned> QuadFlags;
    void ShowQuality(const unsigned *flags, int count, int flagged, int total) override
    {
        if (flags)
            GroupFlags.emplace_back(flags, flags + count);
        QualityCount = QStringLiteral("%1 flagged of %2").arg(flagged).arg(total);
    }
    void SetQualityFlags(int quad, unsigned flags) override { QuadFlags[quad] = flags; }
    void ClearQualityFlags() override { QuadFlags.clear(); }
};

struct TRunFixture : ::testing::Test {
    QTemporaryDir Tmp;
    TScriptedUi Ui;
    TActionView View;
    TFakeClock Clock;
    std::unique_ptr<TShell> Shell;
    TOpeningPort *Port = nullptr;
    std::unique_ptr<TFakeInstrument> Instrument;

    void SetUp() override
    {
        qputenv("TARNELPRO_DATA_DIR", Tmp.path().toLocal8Bit());
        Shell = std::make_unique<TShell>(Ui, View, Clock, TShell::TOptions{false});
        Shell->MakePort = [this](int) -> std::unique_ptr<TPortVirt> {
            auto port = std::make_unique<TOpeningPort>(Ui, Clock);
            port->State = 0;
            Port = port.get();
            Instrument = std::make_unique<TFakeInstrument>(*port);
            Instrument->Identifying = true;
            Instrument->AutoRun = true;
            return port;
        };
        Shell->EventLog.Locale = QLocale::c();
        Shell->State.AcquisitionFile = Tmp.path() + "/run.bin";
        Shell->ShowPortImage(true);
        Shell->ToggleConnection();
        ASSERT_TRUE(Shell->LinkOpen());
        Survey();
        Instrument->Commands.clear();
    }
    void TearDown() override { qunsetenv("TARNELPRO_DATA_DIR"); }

    // Three groups of ten chained dipoles on a line of 40 nodes every 5 m.
    void Survey()
    {
        TVoltixPro &m = *Shell->Model;
        m.NodeCount = 40;
        for (int n = 1; n <= 40; ++n)
            m.Nodes[std::size_t(n)] = Node{5.0f * float(n), 0.0f, 0.0f, n};
        m.QuadCount = 30;
        for (int g = 0; g < 3; ++g)
            for (int k = 0; k < 10; ++k)
                m.Quads[std::size_t(g * 10 + k)] = Quadripole{13 * g + 1, 13 * g + 2, 13 * g + 3 + k, 13 * g + 4 + k, 0};
    }
    qint64 FileSize(const QString &path) { return QFileInfo(path).size(); }
    QByteArray Read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList Log() const
    {
        QStringList l;
        for (const auto &line : Shell->EventLog.Lines())
            l << (line.Text.startsWith("< ") && line.Text.contains(" > ") ? line.Text.section(" > ", 1) : line.Text);
        return l;
    }
};
} // namespace

TEST(Estimate, formatsOfTheTimeLeft)
{
    const struct {
        double seconds;
        const char *text;
    } cases[] = {{150, "00:02:30"}, {270, "00:04:00"}, {600, "00:10:00"}, {30 * 3600, "06:00:00 and 1 Day(s)"},
                 {0, "00:00:00"}, {3 * 86400 + 61, "00:01:00 and 3 Day(s)"}};
    for (const auto &c : cases)
        EXPECT_EQ(TShell::EstimateText(c.seconds / 86400.0), QString(c.text)) << c.seconds;
    EXPECT_EQ(TShell::ProgressLabel(20, 10, 480), "21 .. 30 / 480");
}

TEST_F(TRunFixture, standardRunMeasuresEveryGroupAndStoresEveryRecord)
{
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(View.Labels, (QStringList{"1 .. 10 / 30", "11 .. 20 / 30", "21 .. 30 / 30"}));
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 30 * 304);
    EXPECT_EQ(View.Measurements, 3);
    EXPECT_EQ(View.Estimates.size(), 4) << "an estimate every ten quadripoles, then 00:00:00";
    EXPECT_EQ(View.Estimates.last(), "00:00:00");
    // The dispatcher's check, the two pre-run checks, mode 0, the parameter merge.
    const std::vector<int> start = {45, 45, 45, 37, 30, 28, 29};
    ASSERT_GE(Instrument->Commands.size(), start.size());
    EXPECT_EQ(std::vector<int>(Instrument->Commands.begin(), Instrument->Commands.begin() + 7), start);
    EXPECT_EQ(Instrument->Commands.back(), 41) << "electrodes released at the end";
    EXPECT_EQ(Read(Tmp.path() + "/QuadInUsed.bt"), QByteArray("21 .. 30 / 30") + QByteArray(20, ' ') +
                                                        QByteArray(40 - 13 - 20, ' '));
    const QStringList log = Log();
    EXPECT_TRUE(log.contains("Start Standard acquisition"));
    EXPECT_TRUE(log.contains("Aquisition filename " + Shell->State.AcquisitionFile));
    EXPECT_EQ(log.last(), "Standard acquisition Ended");
    EXPECT_TRUE(QFileInfo::exists(Tmp.path() + "/run_Log.txt"));
    EXPECT_EQ(Shell->State.RunState, TRunState::Idle);
    EXPECT_FALSE(View.Running);
    EXPECT_TRUE(View.HealthTimer);
}

TEST_F(TRunFixture, eachRecordIsJudgedAsItArrives)
{
    // Channel 4 of each group is noisy (Q 9 % above Q max 2 %), channel 6 has no voltage;
    // electrode 15 (x 75 m) was above the maximum in the resistance check.
    Shell->Model->StartParameters.CrenEt = 2.0f;
    Instrument->TamperRun = [](std::int32_t &, QByteArray &records) {
        // Dipole-dipole: a negative geometric factor wants a negative Vp for Rho > 0.
        const float q = 9.0f, vp = -100.0f, none = -0.001f;
        for (int k = 0; k < 10; ++k)
            std::memcpy(records.data() + k * 260 + 168, k == 5 ? &none : &vp, 4);
        std::memcpy(records.data() + 3 * 260 + 136, &q, 4);
    };
    TResistanceTable table;
    table.Electrodes = {{14, 70, 0, 0, 1.5f, TElectrodeHealth::Ok}, {15, 75, 0, 0, 900, TElectrodeHealth::Skipped}};
    ASSERT_TRUE(TSafeFile::Write(Tmp.path() + "/run_Resistance.csv", table.Text()).isEmpty());
    Shell->RunStartAction(TShell::ActionAcquisition);

    ASSERT_EQ(View.GroupFlags.size(), 3u);
    const unsigned high = TQualityControl::HighQ, low = TQualityControl::LowVoltage, bad = TQualityControl::BadElectrode;
    EXPECT_EQ(View.GroupFlags[0], (std::vector<unsigned>{0, 0, 0, high, 0, low, 0, 0, 0, 0}));
    EXPECT_EQ(View.GroupFlags[1], (std::vector<unsigned>{bad, bad, bad, bad | high, bad, bad | low, bad, bad, bad, bad}))
        << "electrode 15 injects the second group";
    EXPECT_EQ(View.QualityCount, "14 flagged of 30");
    EXPECT_EQ(View.QuadFlags.size(), 30u);
    EXPECT_EQ(View.QuadFlags[23], high);
    const QStringList quality = Log().filter(QRegularExpression("^Quality "));
    ASSERT_EQ(quality.size(), 3) << Log().join('\n').toStdString();
    EXPECT_EQ(quality[0], "Quality 1 .. 10 / 30: quadripole 4 high_q; quadripole 6 low_voltage");
    EXPECT_TRUE(quality[1].startsWith("Quality 11 .. 20 / 30: quadripole 11 bad_electrode; ")) << quality[1].toStdString();
}

TEST_F(TRunFixture, graphsFollowEveryGroupInTheModesThatDrawThem)
{
    const struct {
        int Mode;
        QStringList Calls;
    } cases[] = {
        {0, {"build", "init", "progress 10 0", "section 0 10", "progress 10 10", "section 10 10", "progress 10 20",
             "section 20 10", "progress 10 30"}},
        // High speed: the progress graph after each group, no pseudo-section.
        {1, {"build", "init", "progress 10 0", "progress 10 10", "progress 10 20", "progress 10 30"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Mode);
        Shell->State.MeasMode = c.Mode;
        Shell->Model->SpeedStartChannel = 10;
        Instrument->SpeedAnswer = std::vector<float>(22, 1.0f);
        View.Graphs.clear();
        View.SectionRho.clear();
        Shell->ChooseAndStartAction();
        EXPECT_EQ(View.Graphs, c.Calls);
        if (c.Mode == 0) {
            // The pseudo-section receives the Rho of every record stored, in quadripole order.
            TDataFileReader file;
            file.Read(Shell->State.AcquisitionFile);
            ASSERT_EQ(file.Records().size(), View.SectionRho.size());
            EXPECT_NE(View.SectionRho[0], View.SectionRho[9]) << "each quadripole its own factor";
            for (std::size_t k = 0; k < View.SectionRho.size(); ++k)
                EXPECT_EQ(file.Records()[k].Rho, View.SectionRho[k]) << k;
        }
    }
}

TEST_F(TRunFixture, aFailedRunDialogueMeasuresTheSameGroupAgain)
{
    Instrument->FailRuns = 2;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(Instrument->Runs, 5);
    EXPECT_EQ(View.Labels.first(), "1 .. 10 / 30 given up, measured again") << "never an empty range as 1 .. 0";
    EXPECT_EQ(View.Labels.last(), "21 .. 30 / 30");
    EXPECT_EQ(Log().filter("Quadripoles 1 .. 10 / 30 given up: the measurement ended without records; measured again").size(), 2);
    EXPECT_EQ(Read(DataFolder() + "QuadInUsed.bt").trimmed(), "21 .. 30 / 30");
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 30 * 304);
}

// Stop ends the exchange waiting on the instrument at once: the group in
// progress is given up and the whole groups stay. The instrument, busy with
// its dialogue, cannot take the release then: it gets it when it answers again.
// An instrument that never ends its run dialogue with "ST" does not keep the
// run on one group: a few attempts, or the watchdog when they are slow.
TEST_F(TRunFixture, aRunDialogueThatNeverEndsWithStEndsTheRun)
{
    // An unexpected token where "ST" belongs, then the prompt, every time.
    Instrument->AutoRun = false;
    Instrument->RunScript = "XX:>";
    Instrument->RunSendsRecords = false;
    try {
        Shell->RunStartAction(TShell::ActionAcquisition);
        FAIL() << "no error";
    } catch (const ETarnelError &e) {
        EXPECT_EQ(e.Message(), "Quadripoles 1 .. 10 / 30: the instrument ended 5 measurements in a row without records");
    }
    EXPECT_EQ(Instrument->Runs, TShell::MaxEmptyRuns);
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029);
    EXPECT_EQ(Instrument->Commands.back(), 41) << "electrodes released by the failure's clean-up";
    EXPECT_TRUE(Log().last().contains("(acquisition ended at quadripoles 1 .. 10 / 30; no quadripole in the data file)"))
        << Log().last().toStdString();

    // Slow failures: the watchdog's limit counts from the group's first attempt.
    Shell->SilenceSeconds = 120;
    Shell->SilenceRaises = true;
    Shell->WatchPort();
    Instrument->Runs = 0;
    Instrument->DuringRun = [this] { Clock.Advance(70000); };
    EXPECT_THROW(
        {
            try {
                Shell->RunStartAction(TShell::ActionAcquisition);
            } catch (const ENoAnswerError &e) {
                EXPECT_EQ(e.Message(), "no answer from the instrument for 120 s");
                throw;
            }
        },
        ENoAnswerError);
    EXPECT_EQ(Instrument->Runs, 2);
}

// Pause pressed during the last group ends with the run: the button comes
// up and the next run measures.
TEST_F(TRunFixture, pauseDuringTheLastGroupIsClearedWhenTheRunEnds)
{
    Instrument->DuringRun = [this] {
        if (Instrument->Runs == 3)
            Shell->TogglePause();
    };
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_TRUE(Log().contains("Paused by user"));
    EXPECT_FALSE(View.PauseDown);
    EXPECT_EQ(Shell->State.RunState, TRunState::Idle);
    Instrument->DuringRun = nullptr;
    const int runs = Instrument->Runs;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(Instrument->Runs, runs + 3);
    EXPECT_FALSE(View.PauseDown);
}

TEST_F(TRunFixture, stopDuringAGroupGivesItUpAndReleasesWhenTheInstrumentAnswers)
{
    Instrument->DuringRun = [this] {
        if (Instrument->Runs == 2)
            Shell->RequestStop();
    };
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 10 * 304);
    EXPECT_EQ(Instrument->Runs, 2);
    const QStringList log = Log();
    EXPECT_EQ(log.count("Stopped by user"), 1);
    EXPECT_TRUE(log.contains("Quadripoles 11 .. 20 / 30 given up"));
    EXPECT_TRUE(log.filter("Electrodes not released: ").size() == 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.last(), "Standard acquisition Ended");
    EXPECT_TRUE(Shell->ElectrodesPending);
    EXPECT_FALSE(View.Running);

    // The instrument ends its dialogue on its own and answers the next tick.
    Instrument = std::make_unique<TFakeInstrument>(*Port);
    Port->Rx.clear();
    Shell->EventLog.HoldRed(); // as an earlier alarm leaves it
    Shell->HealthTick();
    EXPECT_EQ(Instrument->Commands, (std::vector<int>{45, 41}));
    EXPECT_FALSE(Shell->ElectrodesPending);
    EXPECT_EQ(Log().last(), "Electrodes released");
    EXPECT_EQ(Shell->EventLog.Lines().back().Color, LogColor::Black) << "good news is not shown as an alarm";
}

TEST_F(TRunFixture, pauseHoldsTheNextGroupUntilReleased)
{
    // Pause during the first group; release it after twenty waits.
    auto yields = std::make_shared<int>(0);
    const auto original = Ui.OnYield;
    Instrument->DuringRun = [this, yields, original] {
        if (Instrument->Runs != 1)
            return;
        Shell->TogglePause();
        Ui.OnYield = [this, yields, original](int waitMs) {
            original(waitMs);
            if (++*yields == 20 && Shell->State.RunState == TRunState::Paused)
                Shell->TogglePause();
        };
    };
    Shell->RunStartAction(TShell::ActionAcquisition);
    const QStringList log = Log();
    EXPECT_TRUE(log.contains("Paused by user"));
    EXPECT_TRUE(log.contains("Restarted by user"));
    EXPECT_GE(*yields, 20) << "the run waited while paused";
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 30 * 304);
}

TEST_F(TRunFixture, healthAlarmAtTheSecondCheckAbortsBeforeTheDataFile)
{
    int checks = 0;
    auto inner = Port->OnWrite;
    Port->OnWrite = [&](std::uint8_t b) {
        if (b == 45 && ++checks == 3) // dispatcher check, first and second pre-run checks
            Instrument->Health = {9.4f, 12.0f, 30.0f};
        inner(b);
    };
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(Shell->LastRunEnd, TShell::TRunEnd::Aborted);
    EXPECT_FALSE(QFileInfo::exists(Shell->State.AcquisitionFile));
    EXPECT_EQ(Read(Tmp.path() + "/QuadInUsed.bt"), QByteArray(40, ' '));
    const QStringList log = Log();
    EXPECT_TRUE(log.contains("< STOP DATA ACQUISITION >"));
    EXPECT_FALSE(log.contains("Standard acquisition Ended"));
    EXPECT_EQ(View.Page, TPage::Script);
}

TEST_F(TRunFixture, spOnlyAppendsToTheExistingFileWithoutANewHeader)
{
    Shell->RunStartAction(TShell::ActionAcquisition);
    Shell->State.MeasMode = 2;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 60 * 304);
    EXPECT_EQ(Log().last(), "SP only acquisition Ended");
}

TEST_F(TRunFixture, declinedOverwriteRunsIntoTheChosenFileOrNowhere)
{
    QFile(Shell->State.AcquisitionFile).open(QIODevice::WriteOnly);
    View.Overwrite = false;
    View.NewFile = Tmp.path() + "/second.bin";
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(Shell->State.AcquisitionFile, View.NewFile);
    EXPECT_EQ(FileSize(View.NewFile), 1029 + 30 * 304);
    EXPECT_EQ(FileSize(Tmp.path() + "/run.bin"), 0);

    // Cancelling the dialog: no acquisition, but the log is still saved.
    View.NewFile.clear();
    const auto runs = Instrument->Runs;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(Instrument->Runs, runs);
    EXPECT_TRUE(QFileInfo::exists(Tmp.path() + "/second_Log.txt"));
    EXPECT_EQ(Shell->State.RunState, TRunState::Idle);
}

TEST_F(TRunFixture, duplicateGoesToTheFirstFreeNumberedName)
{
    QDir().mkpath(Tmp.path() + "/backup");
    for (const char *name : {"/backup/Line1.bin", "/backup/Line11.bin"})
        QFile(Tmp.path() + name).open(QIODevice::WriteOnly);
    Shell->State.DuplicateAcquisitionFile = Tmp.path() + "/backup/Line1.bin";
    Shell->State.DuplicateAcquisition = true;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(Tmp.path() + "/backup/Line12.bin"), 1029 + 30 * 304);
    EXPECT_EQ(FileSize(Tmp.path() + "/backup/Line1.bin"), 0);
}

TEST_F(TRunFixture, aDuplicateThatCannotBeWrittenIsSaidAndTheDataStays)
{
    Shell->State.DuplicateAcquisitionFile = Tmp.path() + "/no/such/folder/Line1.bin";
    Shell->State.DuplicateAcquisition = true;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 30 * 304);
    ASSERT_EQ(Ui.Errors.size(), 1);
    EXPECT_TRUE(Ui.Errors[0].contains("Duplicate file not written: ")) << Ui.Errors[0].toStdString();
    EXPECT_EQ(Shell->FileErrors.size(), 1);
    bool red = false;
    for (const auto &line : Shell->EventLog.Lines())
        red = red || (line.Color == LogColor::Red && line.Text.contains("Duplicate file not written"));
    EXPECT_TRUE(red);
}

TEST_F(TRunFixture, startPreselectsTheActionOfThePageInFront)
{
    View.Action = -1;
    const struct {
        TPage page;
        int action;
    } cases[] = {{TPage::Resistance, 1}, {TPage::Script, 2}, {TPage::Rho, 0}, {TPage::Configuration, 0}};
    for (const auto &c : cases) {
        View.Page = c.page;
        Shell->ChooseAndStartAction();
        EXPECT_EQ(View.Preselected, c.action);
    }
    EXPECT_TRUE(Instrument->Commands.empty()) << "cancel: no health check, nothing sent";
}

TEST_F(TRunFixture, stopAndPauseOutsideAnAction)
{
    Shell->EventLog.Clear();
    Shell->TogglePause();
    EXPECT_FALSE(View.PauseDown);
    EXPECT_TRUE(Log().isEmpty());
    Shell->RequestStop();
    Shell->RequestStop();
    EXPECT_EQ(Log(), QStringList{"Stopped by user"});
    EXPECT_EQ(Shell->State.RunState, TRunState::StopRequested);
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 30 * 304) << "the next Start runs again";
}

TEST_F(TRunFixture, anErrorInsideAnActionStillRestoresTheWindow)
{
    Shell->State.AcquisitionFile = Tmp.path() + "/no/such/folder/run.bin";
    EXPECT_THROW(Shell->RunStartAction(TShell::ActionAcquisition), ETarnelError);
    EXPECT_EQ(Shell->State.RunState, TRunState::Idle);
    EXPECT_FALSE(View.Running);
    EXPECT_TRUE(View.HealthTimer);
}

TEST_F(TRunFixture, lineResistanceDerivesEachNodesOwnResistance)
{
    const struct {
        std::vector<float> answers;
        float first, second, third;
    } cases[] = {
        {{3, 4, 5, 3, 4, 6}, 1, 2, 3},
        {{700, 700, 200, 700, 700, 700}, 600, 700, 700}, // an open first line is not subtracted
    };
    TVoltixPro &m = *Shell->Model;
    m.QuadCount = 1;
    m.Quads[0] = Quadripole{1, 2, 3, 4, 0};
    Shell->State.StoreResistance = true;
    for (const auto &c : cases) {
        Instrument->Floats = c.answers;
        Shell->CheckLineResistance();
        EXPECT_EQ(m.LineResistance[1], c.first);
        EXPECT_EQ(m.LineResistance[2], c.second);
        EXPECT_EQ(m.LineResistance[3], c.third);
    }
    EXPECT_EQ(Log().last(), "Line resistance check ended");
    Shell->State.StoreResistance = false;
    Shell->CheckLineResistance();
    EXPECT_EQ(m.LineResistance[1], 0.0f) << "the table is cleared at every start";
}

TEST_F(TRunFixture, electrodeCheckRepeatsAHighPairUntilSkipped)
{
    TVoltixPro &m = *Shell->Model;
    m.QuadCount = 1;
    m.Quads[0] = Quadripole{1, 2, 3, 4, 0};
    View.Maximum = 1.0f;
    Instrument->Floats = {0.5f, 1.5f, 1.5f, 1.5f, 1.0f};
    int reads = 0;
    auto inner = Port->OnWrite;
    Port->OnWrite = [&](std::uint8_t b) {
        if (b == 43 && ++reads == 4)
            Shell->RequestSkip();
        inner(b);
    };
    Shell->State.RunState = TRunState::Running;
    Shell->CheckElectrodes();
    // Pair (1,2) at 0.5; pair (2,3) read 1.5 until skipped; pair (3,4) at exactly the maximum.
    EXPECT_EQ(reads, 5);
    EXPECT_EQ(Shell->State.RunState, TRunState::Idle);
    EXPECT_EQ(Instrument->Commands.back(), 41);
    float maxShown = 0;
    for (const auto &s : View.Shown)
        if (s[0] == 2)
            maxShown = s[1];
    EXPECT_EQ(maxShown, 1.5f);
    EXPECT_FALSE(View.SkipShown);
    // Each electrode keeps the lowest of its pairs: the skipped pair blames neither.
    EXPECT_EQ(Read(Tmp.path() + "/run_Resistance.csv"), "electrode,x,y,z,kohm,status\r\n"
                                                         "1,5,0,0,0.5,ok\r\n2,10,0,0,0.5,ok\r\n"
                                                         "3,15,0,0,1,ok\r\n4,20,0,0,1,ok\r\n");
    // Checking one pair again replaces its electrodes and keeps the others.
    View.Selection = 2;
    View.Pair = {2, 3};
    Instrument->Floats = {0.25f};
    Shell->State.RunState = TRunState::Running;
    Shell->CheckElectrodes();
    EXPECT_EQ(Read(Tmp.path() + "/run_Resistance.csv"), "electrode,x,y,z,kohm,status\r\n"
                                                         "1,5,0,0,0.5,ok\r\n2,10,0,0,0.25,ok\r\n"
                                                         "3,15,0,0,0.25,ok\r\n4,20,0,0,1,ok\r\n");
}

TEST_F(TRunFixture, aGroupNotReceivedWholeIsMeasuredOnceMoreThenEndsTheRun)
{
    const struct {
        const char *name;
        int badRuns; // from the second group on
        std::function<void(std::int32_t &, QByteArray &)> tamper;
    } cases[] = {
        {"count inflated", 1, [](std::int32_t &n, QByteArray &) { n += 2; }},
        {"short block", 1, [](std::int32_t &, QByteArray &r) { r.truncate(5 * 260); }},
        {"count inflated twice", 2, [](std::int32_t &n, QByteArray &) { n += 2; }},
        {"short block twice", 2, [](std::int32_t &, QByteArray &r) { r.truncate(5 * 260); }},
    };
    for (const auto &c : cases) {
        auto bad = std::make_shared<int>(c.badRuns);
        const int runsBefore = Instrument->Runs;
        Instrument->TamperRun = [&, bad](std::int32_t &n, QByteArray &r) {
            if (Instrument->Runs - runsBefore >= 2 && *bad > 0) {
                --*bad;
                c.tamper(n, r);
            }
        };
        Shell->EventLog.Clear();
        if (c.badRuns < 2) {
            Shell->RunStartAction(TShell::ActionAcquisition);
            EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 30 * 304) << c.name;
            EXPECT_EQ(Log().filter("11 .. 20 / 30 not received whole").size(), 1) << c.name;
            EXPECT_EQ(Log().last(), "Standard acquisition Ended") << c.name;
            continue;
        }
        EXPECT_THROW(Shell->RunStartAction(TShell::ActionAcquisition), ETarnelError) << c.name;
        // Only the first group, whole; nothing of the group that failed.
        EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 10 * 304) << c.name;
        const QByteArray data = Read(Shell->State.AcquisitionFile);
        for (int k = 0; k < 10; ++k)
            EXPECT_EQ(std::uint8_t(data[1029 + k * 304 + 248]), 0xA0 + k) << c.name;
        const auto &last = Shell->EventLog.Lines().back();
        EXPECT_EQ(last.Color, LogColor::Red) << c.name;
        EXPECT_TRUE(last.Text.contains("acquisition ended at quadripoles 11 .. 20 / 30")) << last.Text.toStdString();
        EXPECT_TRUE(Read(Tmp.path() + "/run_Log.txt").contains("acquisition ended at quadripoles 11 .. 20 / 30"));
        EXPECT_EQ(Instrument->Commands.back(), 41) << c.name << ": electrodes released";
        EXPECT_EQ(Instrument->Sent[41].mid(2), QByteArray(26, '\0')) << c.name;
        EXPECT_EQ(Shell->State.RunState, TRunState::Idle);
        EXPECT_TRUE(Shell->LinkOpen());
    }
}

TEST_F(TRunFixture, startRefusesAnUnknownInstrumentAndAnEmptySurvey)
{
    QFile f(Shell->State.AcquisitionFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("earlier data");
    f.close();
    Shell->DisconnectInstrument();
    Instrument->TypeCode = 0x12345678;
    Instrument->Identifying = true;
    Shell->ToggleConnection();
    EXPECT_EQ(View.Status, "unknown instrument type 0x12345678");
    EXPECT_EQ(Log().last(), "unknown instrument type 0x12345678");
    Instrument->Commands.clear();
    try {
        Shell->RunStartAction(TShell::ActionAcquisition);
        ADD_FAILURE() << "no refusal";
    } catch (const ETarnelError &e) {
        EXPECT_EQ(e.Message(), "unknown instrument type 0x12345678");
    }
    EXPECT_TRUE(Instrument->Commands.empty());

    Shell->DisconnectInstrument();
    Instrument->TypeCode = 0x10000002;
    Instrument->Identifying = true;
    Shell->ToggleConnection();
    Shell->Model->QuadCount = 0;
    Instrument->Commands.clear();
    EXPECT_THROW(Shell->RunStartAction(TShell::ActionAcquisition), ETarnelError);
    EXPECT_TRUE(Instrument->Commands.empty());
    EXPECT_EQ(Read(Shell->State.AcquisitionFile), "earlier data");
    EXPECT_EQ(Shell->EventLog.Lines().back().Color, LogColor::Red);
    EXPECT_FALSE(Log().contains("Standard acquisition Ended"));
}

TEST_F(TRunFixture, startRefusesACoordinateFileItCouldNotReadAndWarnsWhenNoneIsNamed)
{
    QFile q(Tmp.path() + "/quads.txt");
    ASSERT_TRUE(q.open(QIODevice::WriteOnly));
    q.write("# Num A B M N\r\n1 1 2 3 4\r\n2 1 2 4 5\r\n");
    q.close();
    const auto configure = [&](const QString &coordinates, const QByteArray &text) {
        if (!coordinates.isEmpty() && !text.isEmpty()) {
            QFile c(coordinates);
            ASSERT_TRUE(c.open(QIODevice::WriteOnly));
            c.write(text);
        }
        QFile f(Tmp.path() + "/run.ini");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Name]\r\nQuadripoleFile=%1/quads.txt\r\nCoordinateFile=%2\r\n"
                               "[Parameters]\r\nAcquisitionFile=%1/run.bin\r\n")
                    .arg(Tmp.path(), coordinates)
                    .toUtf8());
        f.close();
        ASSERT_TRUE(Shell->LoadConfiguration(f.fileName()));
    };
    Shell->SaveConfigurationOnStart = false;
    const struct {
        QString Coordinates;
        QByteArray Text;
        QString Refusal;
    } named[] = {
        {Tmp.path() + "/gone.txt", {}, "Coordinate file not found: " + Tmp.path() + "/gone.txt"},
        {Tmp.path() + "/bad.txt", "# Num X Y Z\r\n1 x 0 0\r\n", "Coordinate file error: " + Tmp.path() + "/bad.txt"},
        {Tmp.path() + "/empty.txt", "# Num X Y Z\r\n", "Coordinate file error: " + Tmp.path() + "/empty.txt"},
        // Electrode 5 would stand at (0, 0, 0) and give the second quadripole a wrong Rho.
        {Tmp.path() + "/short.txt", "# Num X Y Z\r\n1 0 0 0\r\n2 5 0 0\r\n3 10 0 0\r\n4 15 0 0\r\n",
         "Coordinate file error: " + Tmp.path() +
             "/short.txt: electrode 5 is used by the quadripoles but not in the coordinate file"},
    };
    for (const auto &c : named) {
        SCOPED_TRACE(c.Refusal.toStdString());
        configure(c.Coordinates, c.Text);
        Instrument->Commands.clear();
        try {
            Shell->RunStartAction(TShell::ActionAcquisition);
            ADD_FAILURE() << "no refusal";
        } catch (const ETarnelError &e) {
            EXPECT_TRUE(e.Message().startsWith(c.Refusal)) << e.Message().toStdString();
        }
        EXPECT_TRUE(Instrument->Commands.empty());
        EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/run.bin"));
        EXPECT_EQ(Shell->EventLog.Lines().back().Color, LogColor::Red);
        EXPECT_TRUE(Shell->EventLog.Lines().back().Text.contains(c.Refusal));
    }

    // None named: measured with K = 1, and the log says so.
    configure(QString(), {});
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(Tmp.path() + "/run.bin"), 1029 + 2 * 304);
    bool warned = false;
    for (const auto &line : Shell->EventLog.Lines())
        warned = warned || (line.Color == LogColor::Maroon && line.Text.endsWith("No coordinate file: Rho is Vp/In (geometric factor 1)"));
    EXPECT_TRUE(warned);
}

TEST_F(TRunFixture, connectOrCloseDuringARunEndsTheGroupThenClosesTheLink)
{
    for (bool closing : {false, true}) {
        Shell->ClosingDuringAction = false;
        if (!Shell->LinkOpen()) {
            Instrument->Identifying = true;
            Shell->ToggleConnection();
        }
        ASSERT_TRUE(Shell->LinkOpen());
        std::vector<int> commandsAtPress;
        const int base = Instrument->Runs;
        Instrument->DuringRun = [&] {
            if (Instrument->Runs - base != 2)
                return;
            commandsAtPress = Instrument->Commands;
            if (closing)
                Shell->CloseRequested();
            else
                Shell->ToggleConnection();
            EXPECT_EQ(Instrument->Commands, commandsAtPress) << "nothing sent while the run waits";
            EXPECT_TRUE(Shell->LinkOpen());
        };
        Shell->EventLog.Clear();
        Shell->RunStartAction(TShell::ActionAcquisition);
        // Connect acts as Stop: the group in progress is given up. Closing
        // the window lets it end.
        EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + (closing ? 20 : 10) * 304) << closing;
        EXPECT_FALSE(Shell->LinkOpen()) << closing;
        EXPECT_FALSE(View.ConnectPressed);
        const QStringList log = Log();
        EXPECT_EQ(log.contains("closed during acquisition at quadripole 11"), closing);
        EXPECT_EQ(log.contains("Quadripoles 11 .. 20 / 30 given up"), !closing);
        EXPECT_TRUE(log.contains("Standard acquisition Ended"));
        EXPECT_EQ(log.last(), "Disconnected");
        EXPECT_TRUE(Read(Tmp.path() + "/run_Log.txt").contains("Disconnected"));
        if (closing) {
            // Release, then the escape of the orderly close.
            EXPECT_EQ(std::vector<int>(Instrument->Commands.end() - 2, Instrument->Commands.end()), (std::vector<int>{41, 27}));
        } else {
            // The instrument still in its dialogue is not held up with more commands.
            EXPECT_EQ(Instrument->Commands.back(), 32);
            EXPECT_TRUE(Shell->ElectrodesPending);
            Shell->ElectrodesPending = false;
            Instrument = std::make_unique<TFakeInstrument>(*Port);
            Instrument->AutoRun = true;
        }
        Instrument->DuringRun = nullptr;
    }
}

TEST_F(TRunFixture, aLinkThatDroppedWhileIdleIsShownAtTheNextTick)
{
    Shell->ShowRunControls(true);
    View.LinkOn = true;
    Port->State = -1;
    Shell->HealthTick();
    EXPECT_FALSE(View.LinkOn);
    EXPECT_FALSE(View.ConnectPressed);
    EXPECT_FALSE(View.HealthTimer);
    EXPECT_FALSE(View.RunControls);
    EXPECT_EQ(View.Status, "Link lost");
    EXPECT_EQ(Log().last(), "Link lost");
    EXPECT_EQ(Shell->EventLog.Lines().back().Color, LogColor::Red);
    const auto lines = Shell->EventLog.Lines().size();
    Shell->HealthTick();
    EXPECT_EQ(Shell->EventLog.Lines().size(), lines) << "said once";
}

TEST_F(TRunFixture, aDataFileThatCannotBeWrittenEndsTheRunWithTheElectrodesReleased)
{
    Instrument->DuringRun = [this] {
        if (Instrument->Runs == 2)
            QFile::remove(Shell->State.AcquisitionFile); // a removed stick
    };
    EXPECT_THROW(Shell->RunStartAction(TShell::ActionAcquisition), ETarnelError);
    const auto &last = Shell->EventLog.Lines().back();
    EXPECT_EQ(last.Color, LogColor::Red);
    EXPECT_TRUE(last.Text.contains("Quadripoles 11 .. 20 / 30 measured but not stored")) << last.Text.toStdString();
    EXPECT_EQ(Instrument->Commands.back(), 41);
    EXPECT_EQ(Instrument->Sent[41].mid(2), QByteArray(26, '\0'));
    EXPECT_TRUE(Shell->LinkOpen());
}

TEST_F(TRunFixture, startOnAFullDiskSaysWhatWasNotSavedAndKeepsTheFilesAsTheyWere)
{
    TSmallFs fs(16 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    const QString ini = fs.File("Setup.ini");
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Name]\r\nComment=before\r\n");
    f.close();
    fs.Fill();
    Shell->State.ConfigFile = ini;
    // The data file has room elsewhere; its duplicate goes to the full disk.
    Shell->State.DuplicateAcquisitionFile = fs.File("copy.bin");
    Shell->State.DuplicateAcquisition = true;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 30 * 304);
    EXPECT_EQ(Read(ini), "[Name]\r\nComment=before\r\n");
    EXPECT_FALSE(QFileInfo::exists(fs.File("copy.bin")));
    EXPECT_EQ(QDir(fs.Path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), (QStringList{"Setup.ini", "ballast"}))
        << "no temporary file left behind";
    // The Link menu writes its choice into the same configuration.
    Shell->State.ConfigLoaded = true;
    Shell->ChooseLink(3);
    EXPECT_EQ(Read(ini), "[Name]\r\nComment=before\r\n");

    const QStringList expected{"Can't save configuration", "Duplicate file not written", "Can't save configuration"};
    ASSERT_EQ(Ui.Errors.size(), expected.size()) << Ui.Errors.join('\n').toStdString();
    for (int i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(Ui.Errors[i].contains(expected[i])) << Ui.Errors[i].toStdString();
        EXPECT_TRUE(Ui.Errors[i].endsWith("No space left on device")) << Ui.Errors[i].toStdString();
        bool red = false;
        for (const auto &line : Shell->EventLog.Lines())
            red = red || (line.Color == LogColor::Red && line.Text.endsWith(Ui.Errors[i].section('|', 1)));
        EXPECT_TRUE(red) << "no red line for " << Ui.Errors[i].toStdString();
    }
}

TEST_F(TRunFixture, aDataFileThatAppearedAfterTheQuestionIsAskedAboutAgain)
{
    // Absent at Start, there when the header is written (another program).
    Shell->SaveConfigurationOnStart = false;
    Shell->EventLog.OnLine = [this](const TLogLine &line) {
        if (line.Text.startsWith("Aquisition filename ")) {
            QFile f(Shell->State.AcquisitionFile);
            if (f.open(QIODevice::WriteOnly))
                f.write("someone else's");
        }
    };
    View.Overwrite = false;
    EXPECT_THROW(Shell->RunStartAction(TShell::ActionAcquisition), ETarnelError);
    EXPECT_EQ(Read(Shell->State.AcquisitionFile), "someone else's");
    EXPECT_EQ(View.OverwriteQuestions, 1);
    View.Overwrite = true;
    QFile::remove(Shell->State.AcquisitionFile);
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(Shell->State.AcquisitionFile), 1029 + 30 * 304);
}

TEST_F(TRunFixture, resumeChoiceContinuesTheFileOrRefusesAnotherSurveys)
{
    Shell->RunStartAction(TShell::ActionAcquisition);
    const QString path = Shell->State.AcquisitionFile;
    ASSERT_TRUE(QFile::resize(path, 1029 + 15 * 304)); // one group and a half
    const auto runs = Instrument->Runs;
    View.Existing = TMainView::TExistingFile::Resume;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(Instrument->Runs - runs, 2) << "the half group and the last one";
    EXPECT_EQ(FileSize(path), 1029 + 30 * 304);
    EXPECT_TRUE(Log().contains("Resumed at quadripole 11 / 30 (measured again: 5 record(s) of an incomplete group)"))
        << Log().join('\n').toStdString();

    // The survey changed: nothing measured, nothing written, the reason shown in red.
    ASSERT_TRUE(QFile::resize(path, 1029 + 10 * 304));
    const QByteArray before = Read(path);
    Shell->Model->Nodes[3].X += 1;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(Instrument->Runs - runs, 2);
    EXPECT_EQ(Read(path), before);
    ASSERT_EQ(Ui.Errors.size(), 1);
    EXPECT_TRUE(Ui.Errors[0].startsWith("Resume|")) << Ui.Errors[0].toStdString();
    EXPECT_TRUE(Log().last().startsWith("Resume refused: ")) << Log().last().toStdString();
    EXPECT_FALSE(Shell->Resume);

    // SP only appends as well: the torn tail goes first.
    Shell->Model->Nodes[3].X -= 1;
    QFile torn(path);
    ASSERT_TRUE(torn.open(QIODevice::Append));
    torn.write(QByteArray(100, '\1'));
    torn.close();
    Shell->State.MeasMode = 2;
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(path), 1029 + 30 * 304);
}

// Another program writing the data file (tarnelpro-cli acquire): Start is
// refused before the question, the instrument and any file, with who writes
// it. Once that program is gone, its lock is taken over and Start measures.
TEST_F(TRunFixture, startOnAFileAnotherProgramWritesIsRefusedUntilItHasEnded)
{
    Shell->SaveConfigurationOnStart = false;
    const QString path = Shell->State.AcquisitionFile;
    const QString log = Tmp.path() + "/run_Log.txt";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the other program's groups");
    }
    Shell->SaveEventLog();
    const QByteArray logBefore = Read(log);
    View.Existing = TMainView::TExistingFile::Overwrite;
    TLockHolder other(path, "tarnelpro-cli acquire");
    ASSERT_TRUE(other.Held);

    for (const int action : {int(TShell::ActionAcquisition), int(TShell::ActionResistance)}) {
        SCOPED_TRACE(action);
        try {
            Shell->RunStartAction(action);
            ADD_FAILURE() << "started";
        } catch (const EDataFileBusy &e) {
            EXPECT_TRUE(e.Message().startsWith(
                QStringLiteral("%1 is being written by tarnelpro-cli acquire, process %2, since ").arg(path).arg(other.Pid)))
                << e.Message().toStdString();
        }
        EXPECT_EQ(Shell->EventLog.Lines().back().Color, LogColor::Red);
        EXPECT_TRUE(Log().last().endsWith("; nothing was changed")) << Log().last().toStdString();
        EXPECT_EQ(View.ExistingQuestions, 0);
        EXPECT_TRUE(Instrument->Commands.empty()) << "nothing said to the instrument";
        EXPECT_EQ(Read(path), "the other program's groups");
        EXPECT_EQ(Read(log), logBefore) << "the other program's log is not ours to write";
        EXPECT_FALSE(View.Running);
    }

    const pid_t pid = other.Pid;
    other.Kill();
    Shell->RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(FileSize(path), 1029 + 30 * 304);
    const QStringList takeOver = Log().filter(", which has ended, taken over");
    ASSERT_EQ(takeOver.size(), 1);
    EXPECT_TRUE(takeOver[0].startsWith(QStringLiteral("%1: lock of tarnelpro-cli acquire, process %2, since ").arg(path).arg(pid)))
        << takeOver[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(TDataFileLock::LockFileFor(path))) << "released at the run's end";
}
