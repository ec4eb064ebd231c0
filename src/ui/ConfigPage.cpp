#include "ui/ConfigPage.h"

#include "app/Shell.h"
#include "base/TextCodec.h"
#include "base/UserInterface.h"
#include "instrument/Parameters.h"
#include "instrument/VoltixPro.h"
#include "mqtt/MqttSettings.h"
#include "ui/ExportBox.h"
#include "ui/IPTimeFrm.h"
#include "ui/MainFrm.h"
#include "ui/ReportFrm.h"
#include "ui/UpDownEdit.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QScrollArea>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {
QLabel *PathLabel(QWidget *parent, const char *name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    l->setMinimumWidth(90);
    l->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return l;
}

QLabel *Value(QWidget *parent, const char *name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setMinimumWidth(44);
    return l;
}

QPushButton *Button(QWidget *parent, const QString &caption, const char *name)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QString DialogStart(const QString &path) { return path.isEmpty() ? QString() : path; }

QString DefaultOpen(QWidget *parent, const QString &caption, const QString &start, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, start, filter);
}

QString DefaultSave(QWidget *parent, const QString &caption, const QString &start, const QString &filter,
                    const QString &suffix)
{
    QFileDialog dialog(parent, caption, start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    if (!start.isEmpty())
        dialog.selectFile(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}
} // namespace

std::function<void(const QString &)> TConfigPage::ReportSaveError()
{
    return [this](const QString &text) { Shell.FileError(text); };
}

TConfigPage::TConfigPage(TShell &shell, QWidget *parent) : QWidget(parent), Shell(shell)
{
    setObjectName(QStringLiteral("ConfigurationTb"));
    OpenDialog = [this](const QString &c, const QString &s, const QString &f) { return DefaultOpen(this, c, s, f); };
    SaveDialog = [this](const QString &c, const QString &s, const QString &f, const QString &x) {
        return DefaultSave(this, c, s, f, x);
    };

    // On a small screen (800 x 600) the page scrolls rather than pushing
    // the window past the screen's edges.
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("ConfigurationScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    outer->addWidget(scroll);
    auto *content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("ConfigurationContent"));
    scroll->setWidget(content);
    auto *grid = new QGridLayout(content);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setSpacing(4);
    auto *left = new QVBoxLayout;
    left->addWidget(BuildNodes());
    left->addWidget(BuildAcquisition());
    left->addWidget(BuildConfigurationFile());
    left->addWidget(BuildComment(), 1);
    auto *right = new QVBoxLayout;
    right->addWidget(BuildMode());
    right->addWidget(BuildStandard());
    right->addWidget(BuildHighSpeed());
    right->addWidget(BuildPosition());
    right->addWidget(BuildQuality());
    right->addWidget(BuildMqtt());
    right->addStretch(1);
    grid->addLayout(left, 0, 0);
    grid->addLayout(right, 0, 1);
    grid->setColumnStretch(0, 1);
    KeepPlaces();
}

void TConfigPage::KeepPlaces()
{
    // Controls that come and go with the options keep their room, and the
    // two setup groups take the same size: nothing around them moves when
    // an option changes.
    for (QWidget *w : std::initializer_list<QWidget *>{TxVoltageLbl, TxVoltageEdt, VmnCB, VabMaxLbl, VabMaxEdt, VabCB,
                                                       IPModeLbl, IPModeCB, IPModeProgBtn}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    const QSize both = StandardGb->sizeHint().expandedTo(HighSpeedGb->sizeHint());
    StandardGb->setMinimumSize(both);
    HighSpeedGb->setMinimumSize(both);
}

QWidget *TConfigPage::BuildNodes()
{
    auto *g = new QGroupBox(QStringLiteral("Nodes Configuration"), this);
    g->setObjectName(QStringLiteral("NodesConfigurationGb"));
    auto *l = new QGridLayout(g);
    l->setVerticalSpacing(2);
    l->addWidget(new QLabel(QStringLiteral("Quadripoles file :"), g), 0, 0);
    QuadripoleFileTxt = PathLabel(g, "QuadripoleFileTxt");
    l->addWidget(QuadripoleFileTxt, 0, 1, 1, 3);
    auto *openQ = Button(g, QStringLiteral("Open file"), "OpenQuadripoleFileBtn");
    auto *viewQ = Button(g, QStringLiteral("View"), "ViewQuadripoleFileBtn");
    viewQ->setToolTip(QStringLiteral("View the quadripole file"));
    l->addWidget(openQ, 0, 4);
    l->addWidget(viewQ, 0, 5);
    l->addWidget(new QLabel(QStringLiteral("Nb quadripoles :"), g), 1, 0);
    QuadripoleMaxLblx = Value(g, "QuadripoleMaxLblx");
    l->addWidget(QuadripoleMaxLblx, 1, 1);
    l->addWidget(new QLabel(QStringLiteral("Coordinates file :"), g), 2, 0);
    CoordinateFileTxt = PathLabel(g, "CoordinateFileTxt");
    l->addWidget(CoordinateFileTxt, 2, 1, 1, 3);
    auto *openC = Button(g, QStringLiteral("Open file"), "OpenCoordinateFileBtn");
    auto *viewC = Button(g, QStringLiteral("View"), "ViewCoordinateFileBtn");
    viewC->setToolTip(QStringLiteral("View the coordinate file"));
    l->addWidget(openC, 2, 4);
    l->addWidget(viewC, 2, 5);
    l->addWidget(new QLabel(QStringLiteral("Nb  nodes :"), g), 3, 0);
    NbNodesLblx = Value(g, "NbNodesLblx");
    l->addWidget(NbNodesLblx, 3, 1);
    l->setColumnStretch(3, 1);
    connect(openQ, &QPushButton::clicked, this, &TConfigPage::OpenQuadripoleFileBtnClick);
    connect(openC, &QPushButton::clicked, this, &TConfigPage::OpenCoordinateFileBtnClick);
    connect(viewQ, &QPushButton::clicked, this, [this] {
        TReportFrm::Execute(window(), QStringLiteral("*.Txt"), Shell.State.QuadripoleFile, ReportSaveError());
    });
    connect(viewC, &QPushButton::clicked, this, [this] {
        TReportFrm::Execute(window(), QStringLiteral("*.Txt"), Shell.State.CoordinateFile, ReportSaveError());
    });
    return g;
}

QWidget *TConfigPage::BuildMode()
{
    auto *g = new QGroupBox(QStringLiteral("Measurement mode"), this);
    g->setObjectName(QStringLiteral("MeasModeGb"));
    auto *l = new QHBoxLayout(g);
    l->setContentsMargins(6, 2, 6, 2);
    MeasMode = new QButtonGroup(g);
    MeasMode->setObjectName(QStringLiteral("MeasMode"));
    const char *names[] = {"StandardRdBtn", "HighSpeedRdBtn", "SpOnlyRdBtn"};
    const char *captions[] = {"Standard", "High speed", "SP only"};
    for (int i = 0; i < 3; ++i) {
        auto *b = new QRadioButton(QString::fromLatin1(captions[i]), g);
        b->setObjectName(QString::fromLatin1(names[i]));
        MeasMode->addButton(b, i);
        l->addWidget(b);
    }
    connect(MeasMode, &QButtonGroup::idClicked, this, [this](int id) {
        Shell.State.MeasMode = id;
        ShowModeGroups();
    });
    return g;
}

QWidget *TConfigPage::BuildStandard()
{
    StandardGb = new QGroupBox(QStringLiteral("Standard setup"), this);
    StandardGb->setObjectName(QStringLiteral("StandardGb"));
    auto *l = new QGridLayout(StandardGb);
    l->setVerticalSpacing(2);
    TStartParameters &p = Shell.Model->StartParameters;

    VpRdBtn = new QRadioButton(QStringLiteral("Vp  :"), StandardGb);
    VpRdBtn->setObjectName(QStringLiteral("VpRdBtn"));
    VabRdBtn = new QRadioButton(QStringLiteral("Vab :"), StandardGb);
    VabRdBtn->setObjectName(QStringLiteral("VabRdBtn"));
    auto *levelGroup = new QButtonGroup(StandardGb);
    levelGroup->addButton(VpRdBtn);
    levelGroup->addButton(VabRdBtn);
    VmnCB = new QComboBox(StandardGb);
    VmnCB->setObjectName(QStringLiteral("VmnCB"));
    VmnCB->addItems({QStringLiteral("Save energy"), QStringLiteral("50 mV"), QStringLiteral("200 mV"),
                     QStringLiteral("800 mV"), QStringLiteral("Vp maximun")});
    VabCB = new QComboBox(StandardGb);
    VabCB->setObjectName(QStringLiteral("VabCB"));
    VabCB->addItems({QStringLiteral("12 V"), QStringLiteral("25 V"), QStringLiteral("50 V"), QStringLiteral("100 V"),
                     QStringLiteral("200 V"), QStringLiteral("400 V"), QStringLiteral("800 V"), QStringLiteral("MAX"),
                     QStringLiteral("External DC")});
    VabMaxLbl = new QLabel(QStringLiteral("Vab Maximum :"), StandardGb);
    VabMaxEdt = new TUpDownEdit(QStringLiteral("VabMaxEdt"), 10, 800, 10, StandardGb);
    l->addWidget(VpRdBtn, 0, 0);
    l->addWidget(VmnCB, 0, 1);
    l->addWidget(VabMaxLbl, 0, 2);
    l->addWidget(VabMaxEdt, 0, 3);
    l->addWidget(VabRdBtn, 1, 0);
    l->addWidget(VabCB, 1, 1);

    RhoOnlyRdBtn = new QRadioButton(QStringLiteral("Rho only"), StandardGb);
    RhoOnlyRdBtn->setObjectName(QStringLiteral("RhoOnlyRdBtn"));
    RhoIPRdBtn = new QRadioButton(QStringLiteral("Rho and  IP"), StandardGb);
    RhoIPRdBtn->setObjectName(QStringLiteral("RhoIPRdBtn"));
    auto *rhoGroup = new QButtonGroup(StandardGb);
    rhoGroup->addButton(RhoOnlyRdBtn);
    rhoGroup->addButton(RhoIPRdBtn);
    l->addWidget(RhoOnlyRdBtn, 2, 0);
    l->addWidget(RhoIPRdBtn, 2, 1);

    l->addWidget(new QLabel(QStringLiteral("Time :"), StandardGb), 3, 0);
    TimeCB = new QComboBox(StandardGb);
    TimeCB->setObjectName(QStringLiteral("TimeCB"));
    TimeCB->addItems({QStringLiteral("8000 ms"), QStringLiteral("4000 ms"), QStringLiteral("2000 ms"),
                      QStringLiteral("1000 ms"), QStringLiteral("500 ms"), QStringLiteral("250 ms")});
    l->addWidget(TimeCB, 3, 1);
    IPModeLbl = new QLabel(QStringLiteral("IP mode :"), StandardGb);
    IPModeCB = new QComboBox(StandardGb);
    IPModeCB->setObjectName(QStringLiteral("IPModeCB"));
    IPModeCB->addItems({QStringLiteral("Arithmetic"), QStringLiteral("Semi logarithmic"), QStringLiteral("Logarithmic"),
                        QStringLiteral("Cole-Cole"), QStringLiteral("Programmable")});
    IPModeProgBtn = Button(StandardGb, QStringLiteral("View"), "IPModeProgBtn");
    l->addWidget(IPModeLbl, 4, 0);
    l->addWidget(IPModeCB, 4, 1);
    l->addWidget(IPModeProgBtn, 4, 2);

    StdChannelEdn = new TUpDownEdit(QStringLiteral("StdChannelEdn"), 1, 10, 1, StandardGb);
    TriggerEdn = new TUpDownEdit(QStringLiteral("TriggerEdn"), 1, 10, 1, StandardGb);
    QMaxEdn = new TUpDownEdit(QStringLiteral("QMaxEdn"), 0, 99, 1, StandardGb);
    StackMinEdn = new TUpDownEdit(QStringLiteral("StackMinEdn"), 1, 999, 1, StandardGb);
    StackMaxEdn = new TUpDownEdit(QStringLiteral("StackMaxEdn"), 1, 999, 1, StandardGb);
    l->addWidget(new QLabel(QStringLiteral("Channel :"), StandardGb), 5, 0);
    l->addWidget(StdChannelEdn, 5, 1);
    l->addWidget(new QLabel(QStringLiteral("Trigger :"), StandardGb), 5, 2);
    l->addWidget(TriggerEdn, 5, 3);
    l->addWidget(new QLabel(QStringLiteral("Stack min :"), StandardGb), 6, 0);
    l->addWidget(StackMinEdn, 6, 1);
    l->addWidget(new QLabel(QStringLiteral("Stack max :"), StandardGb), 6, 2);
    l->addWidget(StackMaxEdn, 6, 3);
    l->addWidget(new QLabel(QStringLiteral("Q max (%):"), StandardGb), 7, 0);
    l->addWidget(QMaxEdn, 7, 1);

    connect(VpRdBtn, &QRadioButton::clicked, this, [this, &p] {
        ParameterRules::SelectVp(p);
        ShowLevelControls();
    });
    connect(VabRdBtn, &QRadioButton::clicked, this, [this, &p] {
        ParameterRules::SelectVab(p);
        ShowLevelControls();
    });
    connect(VmnCB, &QComboBox::activated, this, [&p](int i) { ParameterRules::SetVpItem(p, i); });
    connect(VabCB, &QComboBox::activated, this, [&p](int i) { ParameterRules::SetVabItem(p, i); });
    VabMaxEdt->OnExit = [this, &p] {
        const TEditOutcome o = ParameterRules::VabMaximum(p, VabMaxEdt->Text());
        VabMaxEdt->SetText(o.Text);
        if (o.Beep)
            Beep();
    };
    connect(RhoOnlyRdBtn, &QRadioButton::clicked, this, [this, &p] {
        ParameterRules::SetRhoOnly(p, true);
        ShowLevelControls();
    });
    connect(RhoIPRdBtn, &QRadioButton::clicked, this, [this, &p] {
        ParameterRules::SetRhoOnly(p, false);
        ShowLevelControls();
    });
    connect(TimeCB, &QComboBox::activated, this, [this, &p](int i) {
        if (ParameterRules::ChooseTime(p, i))
            IPModeCB->setCurrentIndex(p.IPMode());
    });
    connect(IPModeCB, &QComboBox::activated, this, [&p](int i) { ParameterRules::ChooseIPMode(p, i); });
    connect(IPModeProgBtn, &QPushButton::clicked, this, &TConfigPage::IPModeProgBtnClick);
    StdChannelEdn->OnExit = [this, &p] {
        QString trigger;
        const TEditOutcome o =
            ParameterRules::StdChannel(p, StdChannelEdn->Text(), TriggerEdn->Text().trimmed().toInt(), trigger);
        StdChannelEdn->SetText(o.Text);
        if (o.Beep) {
            Beep();
            return;
        }
        TriggerEdn->SetRange(1, p.Channel);
        if (!trigger.isEmpty())
            TriggerEdn->SetText(trigger);
    };
    TriggerEdn->OnBeforeStep = [this, &p] { TriggerEdn->SetRange(1, p.Channel); };
    TriggerEdn->OnExit = [this, &p] {
        const TEditOutcome o = ParameterRules::Trigger(p, TriggerEdn->Text());
        TriggerEdn->SetText(o.Text);
        if (o.Beep)
            Beep();
    };
    QMaxEdn->OnExit = [this, &p] {
        const TEditOutcome o = ParameterRules::QMax(p, QMaxEdn->Text());
        QMaxEdn->SetText(o.Text);
        if (o.Beep)
            Beep();
    };
    StackMinEdn->OnExit = [this, &p] {
        bool raised = false;
        const TEditOutcome o = ParameterRules::StackMin(p, StackMinEdn->Text(), raised);
        StackMinEdn->SetText(o.Text);
        if (raised)
            StackMaxEdn->SetText(QString::number(p.CrenMax));
        StackMaxEdn->SetRange(p.CrenMin, 999);
        if (o.Beep)
            Beep();
    };
    StackMaxEdn->OnBeforeStep = [this, &p] { StackMaxEdn->SetRange(p.CrenMin, 999); };
    StackMaxEdn->OnExit = [this, &p] {
        const TEditOutcome o = ParameterRules::StackMax(p, StackMaxEdn->Text());
        StackMaxEdn->SetText(o.Text);
        if (o.Beep)
            Beep();
    };
    return StandardGb;
}

QWidget *TConfigPage::BuildHighSpeed()
{
    HighSpeedGb = new QGroupBox(QStringLiteral("Setup"), this);
    HighSpeedGb->setObjectName(QStringLiteral("HighSpeedGb"));
    auto *l = new QGridLayout(HighSpeedGb);
    l->setVerticalSpacing(2);
    TVoltixPro &m = *Shell.Model;
    TimeEdt = new QLineEdit(HighSpeedGb);
    TimeEdt->setObjectName(QStringLiteral("TimeEdt"));
    TimeEdt->setFixedWidth(60);
    TxVoltageLbl = new QLabel(QStringLiteral("Tx voltage  (V) :"), HighSpeedGb);
    TxVoltageEdt = new QLineEdit(HighSpeedGb);
    TxVoltageEdt->setObjectName(QStringLiteral("TxVoltageEdt"));
    TxVoltageEdt->setFixedWidth(60);
    ChannelEdn = new TUpDownEdit(QStringLiteral("ChannelEdn"), 1, 10, 1, HighSpeedGb);
    l->addWidget(new QLabel(QStringLiteral("Time (ms) :"), HighSpeedGb), 0, 0);
    l->addWidget(TimeEdt, 0, 1);
    l->addWidget(TxVoltageLbl, 0, 2);
    l->addWidget(TxVoltageEdt, 0, 3);
    l->addWidget(new QLabel(QStringLiteral("Channel :"), HighSpeedGb), 1, 0);
    l->addWidget(ChannelEdn, 1, 1);
    OnLeave(TimeEdt, [this, &m] {
        TimeEdt->setText(ParameterRules::SpeedTime(m.SpeedStartTime, TimeEdt->text()).Text);
    });
    OnLeave(TxVoltageEdt, [this, &m] {
        const TEditOutcome o = ParameterRules::SpeedTxVoltage(m.SpeedStartTxVoltage, TxVoltageEdt->text(), Shell.Locale);
        TxVoltageEdt->setText(o.Text);
        if (o.Beep)
            Beep();
    });
    ChannelEdn->OnExit = [this, &m] {
        const TEditOutcome o = ParameterRules::SpeedChannel(m.SpeedStartChannel, ChannelEdn->Text());
        ChannelEdn->SetText(o.Text);
        if (o.Beep)
            Beep();
    };
    return HighSpeedGb;
}

QWidget *TConfigPage::BuildPosition()
{
    auto *g = new QGroupBox(QStringLiteral("Position"), this);
    g->setObjectName(QStringLiteral("PositionGb"));
    auto *l = new QHBoxLayout(g);
    l->setContentsMargins(6, 2, 6, 2);
    LatitudeLblx = new QLineEdit(g);
    LatitudeLblx->setObjectName(QStringLiteral("LatitudeLblx"));
    LongitudeLblx = new QLineEdit(g);
    LongitudeLblx->setObjectName(QStringLiteral("LongitudeLblx"));
    for (QLineEdit *e : {LatitudeLblx, LongitudeLblx}) {
        // Optional positions, so a half-typed entry still reaches the check.
        e->setInputMask(QStringLiteral("000:00.000 a;_"));
        e->setFixedWidth(104);
    }
    l->addWidget(new QLabel(QStringLiteral("Latitude :"), g));
    l->addWidget(LatitudeLblx);
    l->addWidget(new QLabel(QStringLiteral("Longitude :"), g));
    l->addWidget(LongitudeLblx);
    l->addStretch(1);
    auto commit = [this](QLineEdit *edit, bool latitude) {
        TStartParameters &p = Shell.Model->StartParameters;
        float &value = latitude ? p.Latitude : p.Longitude;
        QString text = edit->displayText();
        text.replace(QLatin1Char('_'), QLatin1Char(' '));
        if (!Position::Parse(text, latitude, value)) {
            Shell.Ui.Message(QStringLiteral("\"%1\" is not a valid %2 (DDD:MM.mmm and N/S or E/W); the previous "
                                            "position is kept.")
                                 .arg(edit->displayText(), latitude ? QStringLiteral("latitude") : QStringLiteral("longitude")));
        }
        edit->setText(Position::Text(value, latitude));
    };
    OnLeave(LatitudeLblx, [commit, this] { commit(LatitudeLblx, true); });
    OnLeave(LongitudeLblx, [commit, this] { commit(LongitudeLblx, false); });
    return g;
}

QWidget *TConfigPage::BuildQuality()
{
    auto *g = new QGroupBox(QStringLiteral("Quality control"), this);
    g->setObjectName(QStringLiteral("QualityGb"));
    auto *l = new QGridLayout(g);
    l->setVerticalSpacing(2);
    struct TField {
        QLineEdit *&Edit;
        const char *Name, *Caption;
        float TQualityKeys::*Key;
    };
    const TField fields[] = {
        {MinCurrentEdt, "MinCurrentEdt", "In min (mA) :", &TQualityKeys::MinCurrent},
        {MinVoltageEdt, "MinVoltageEdt", "|Vp| min (mV) :", &TQualityKeys::MinVoltage},
        {MaxReciprocalEdt, "MaxReciprocalEdt", "Reciprocal max (%) :", &TQualityKeys::MaxReciprocalError},
    };
    int column = 0;
    for (const TField &f : fields) {
        f.Edit = new QLineEdit(g);
        f.Edit->setObjectName(QString::fromLatin1(f.Name));
        f.Edit->setFixedWidth(60);
        l->addWidget(new QLabel(QString::fromLatin1(f.Caption), g), column / 4, column % 4);
        l->addWidget(f.Edit, column / 4, column % 4 + 1);
        column += 2;
        QLineEdit *edit = f.Edit;
        const auto key = f.Key;
        // A floor is a number from 0 ("." or ","); anything else keeps the previous value.
        OnLeave(edit, [this, edit, key] {
            bool ok = false;
            const double v = ParseFileReal(edit->text().trimmed(), &ok);
            if (ok && v >= 0 && v <= 1e6)
                Shell.QualityKeys.*key = float(v);
            else
                Beep();
            edit->setText(QualityText(Shell.QualityKeys.*key));
        });
    }
    g->setToolTip(QStringLiteral("Records below these floors, or whose reciprocal differs by more, are flagged; "
                                 "Q is judged against Q max"));
    return g;
}

QString TConfigPage::QualityText(float value)
{
    return Shell.Locale.toString(double(value), 'g', 6).remove(Shell.Locale.groupSeparator());
}

QWidget *TConfigPage::BuildAcquisition()
{
    auto *g = new QGroupBox(QStringLiteral("Acquisition"), this);
    g->setObjectName(QStringLiteral("AcquisitionGb"));
    auto *l = new QGridLayout(g);
    l->setVerticalSpacing(2);
    l->addWidget(new QLabel(QStringLiteral("Acquisition data file :"), g), 0, 0, 1, 2);
    AcquisitionFileSTxt = PathLabel(g, "AcquisitionFileSTxt");
    l->addWidget(AcquisitionFileSTxt, 0, 2);
    auto *browse = Button(g, QStringLiteral("Save as..."), "BrowseBtn");
    l->addWidget(browse, 0, 3);
    auto *datrem = Button(g, QStringLiteral("Datrem"), "BitBtn1");
    datrem->setToolTip(QStringLiteral("Open the acquisition file with its processing program"));
    l->addWidget(datrem, 0, 4);
    DuplicateCheckBox = new QCheckBox(g);
    DuplicateCheckBox->setObjectName(QStringLiteral("DuplicateCheckBox"));
    l->addWidget(DuplicateCheckBox, 1, 0);
    l->addWidget(new QLabel(QStringLiteral("Duplicate file on :"), g), 1, 1);
    DuplicateFileSTxt = PathLabel(g, "DuplicateFileSTxt");
    l->addWidget(DuplicateFileSTxt, 1, 2);
    DuplicateBtn = Button(g, QStringLiteral("Duplicate on"), "DuplicateBtn");
    DuplicateBtn->setToolTip(QStringLiteral("Duplicate file on "));
    l->addWidget(DuplicateBtn, 1, 3);
    LowCurrentCheckBox = new QCheckBox(QStringLiteral("Low current box connected "), g);
    LowCurrentCheckBox->setObjectName(QStringLiteral("LowCurrentCheckBox"));
    StoreResistanceCheckBox = new QCheckBox(QStringLiteral("Store line resistance values"), g);
    StoreResistanceCheckBox->setObjectName(QStringLiteral("StoreResistanceCheckBox"));
    l->addWidget(LowCurrentCheckBox, 2, 0, 1, 3);
    l->addWidget(new TExportBox(Shell, g), 2, 3, 2, 2, Qt::AlignRight | Qt::AlignTop);
    l->addWidget(StoreResistanceCheckBox, 3, 0, 1, 3);
    l->setColumnStretch(2, 1);
    connect(browse, &QPushButton::clicked, this, &TConfigPage::BrowseBtnClick);
    connect(DuplicateBtn, &QPushButton::clicked, this, &TConfigPage::DuplicateBtnClick);
    connect(DuplicateCheckBox, &QCheckBox::clicked, this, &TConfigPage::DuplicateCheckBoxClick);
    connect(datrem, &QPushButton::clicked, this, [this] {
        if (auto *frm = qobject_cast<TMainFrm *>(window()))
            frm->BitBtn1Click();
    });
    connect(LowCurrentCheckBox, &QCheckBox::toggled, this, [this](bool on) { Shell.State.LowCurrent = on; });
    connect(StoreResistanceCheckBox, &QCheckBox::toggled, this, [this](bool on) { Shell.State.StoreResistance = on; });
    return g;
}

QWidget *TConfigPage::BuildConfigurationFile()
{
    auto *g = new QGroupBox(QStringLiteral("Configuration file"), this);
    g->setObjectName(QStringLiteral("ConfigurationFileGb"));
    auto *l = new QHBoxLayout(g);
    l->setContentsMargins(6, 2, 6, 2);
    ConfigFileTxt = PathLabel(g, "ConfigFileTxt");
    auto *open = Button(g, QStringLiteral("Open file"), "OpenConfigurationFileBtn");
    auto *save = Button(g, QStringLiteral("Save file"), "SaveConfigurationFileBtn");
    l->addWidget(ConfigFileTxt, 1);
    l->addWidget(open);
    l->addWidget(save);
    connect(open, &QPushButton::clicked, this, &TConfigPage::OpenConfigurationFileBtnClick);
    connect(save, &QPushButton::clicked, this, &TConfigPage::SaveConfigurationFileBtnClick);
    return g;
}

QWidget *TConfigPage::BuildComment()
{
    auto *g = new QGroupBox(QStringLiteral("Comment"), this);
    g->setObjectName(QStringLiteral("CommentGb"));
    auto *l = new QVBoxLayout(g);
    l->setContentsMargins(6, 2, 6, 2);
    CommentMemo = new QPlainTextEdit(g);
    CommentMemo->setObjectName(QStringLiteral("CommentMemo"));
    CommentMemo->setMinimumHeight(36);
    // Tab moves to the next field (the stored comment never holds tabs typed to leave the box).
    CommentMemo->setTabChangesFocus(true);
    l->addWidget(CommentMemo);
    connect(CommentMemo, &QPlainTextEdit::textChanged, this, [this] {
        QString text = CommentMemo->toPlainText();
        if (text.size() > 1000) {
            // The header of the data file holds at most 1000 typed characters.
            text.truncate(1000);
            const QSignalBlocker block(CommentMemo);
            CommentMemo->setPlainText(text);
            CommentMemo->moveCursor(QTextCursor::End);
            Beep();
        }
        Shell.State.CommentMemo = text;
    });
    return g;
}

QWidget *TConfigPage::BuildMqtt()
{
    auto *g = new QGroupBox(QStringLiteral("Fleet report"), this);
    g->setObjectName(QStringLiteral("MqttGb"));
    auto *l = new QGridLayout(g);
    l->setVerticalSpacing(2);
    MqttCheckBox = new QCheckBox(QStringLiteral("Publish to MQTT"), g);
    MqttCheckBox->setObjectName(QStringLiteral("MqttCheckBox"));
    l->addWidget(MqttCheckBox, 0, 0, 1, 2);
    l->addWidget(new QLabel(QStringLiteral("Broker :"), g), 1, 0);
    MqttBrokerEdt = new QLineEdit(g);
    MqttBrokerEdt->setObjectName(QStringLiteral("MqttBrokerEdt"));
    MqttBrokerEdt->setPlaceholderText(QStringLiteral("mqtt://HOST[:PORT]"));
    l->addWidget(MqttBrokerEdt, 1, 1);
    l->addWidget(new QLabel(QStringLiteral("Topic :"), g), 2, 0);
    MqttTopicEdt = new QLineEdit(g);
    MqttTopicEdt->setObjectName(QStringLiteral("MqttTopicEdt"));
    MqttTopicEdt->setPlaceholderText(TMqttSettings::DefaultTopic());
    l->addWidget(MqttTopicEdt, 2, 1);
    connect(MqttCheckBox, &QCheckBox::clicked, this, [this] { ApplyMqttControls(); });
    OnLeave(MqttBrokerEdt, [this] { ApplyMqttControls(); });
    OnLeave(MqttTopicEdt, [this] { ApplyMqttControls(); });
    return g;
}

void TConfigPage::ApplyMqttControls()
{
    TMqttKeys keys = Shell.MqttKeys;
    keys.Publish = MqttCheckBox->isChecked();
    keys.Broker = MqttBrokerEdt->text().trimmed();
    keys.Topic = MqttTopicEdt->text().trimmed();
    if (keys == Shell.MqttKeys)
        return;
    Shell.MqttKeys = keys;
    Shell.ApplyMqtt();
}

void TConfigPage::Beep() { Shell.Ui.Beep(); }

void TConfigPage::ShowModeGroups()
{
    const bool standard = Shell.State.MeasMode == 0;
    StandardGb->setVisible(standard);
    HighSpeedGb->setVisible(!standard);
    const bool highSpeed = Shell.State.MeasMode == 1;
    TxVoltageLbl->setVisible(highSpeed);
    TxVoltageEdt->setVisible(highSpeed);
}

void TConfigPage::ShowLevelControls()
{
    const TStartParameters &p = Shell.Model->StartParameters;
    const bool vp = p.Config[0] >= 32;
    VpRdBtn->setChecked(vp);
    VabRdBtn->setChecked(!vp);
    VmnCB->setVisible(vp);
    VabMaxLbl->setVisible(vp);
    VabMaxEdt->setVisible(vp);
    VabCB->setVisible(!vp);
    VmnCB->setCurrentIndex(p.VpCode() - 1);
    VabCB->setCurrentIndex(p.VabCode() - 1);
    const bool rhoOnly = p.RhoOnly();
    RhoOnlyRdBtn->setChecked(rhoOnly);
    RhoIPRdBtn->setChecked(!rhoOnly);
    IPModeLbl->setVisible(!rhoOnly);
    IPModeCB->setVisible(!rhoOnly);
    IPModeProgBtn->setVisible(!rhoOnly);
}

void TConfigPage::ShowParameters()
{
    const TVoltixPro &m = *Shell.Model;
    const TStartParameters &p = m.StartParameters;
    // "##0": rounded, in a range an int holds whatever the model was given.
    TxVoltageEdt->setText(QString::number(std::lround(std::clamp(double(m.SpeedStartTxVoltage), -1e9, 1e9))));
    TimeEdt->setText(QString::number(m.SpeedStartTime * 10));
    ChannelEdn->SetText(QString::number(m.SpeedStartChannel));
    StdChannelEdn->SetText(QString::number(p.Channel));
    TriggerEdn->SetRange(1, qMax(1, p.Channel));
    TriggerEdn->SetText(QString::number(p.ChannelSynchro + 1));
    StackMinEdn->SetText(QString::number(p.CrenMin));
    StackMaxEdn->SetText(QString::number(p.CrenMax));
    StackMaxEdn->SetRange(p.CrenMin, 999);
    QMaxEdn->SetText(QString::number(double(p.CrenEt)));
    // Showing "Rho only" applies its rule to the option bits.
    ParameterRules::SetRhoOnly(Shell.Model->StartParameters, p.RhoOnly());
    TimeCB->setCurrentIndex(qBound(0, p.TimeIndex(), 5));
    IPModeCB->setCurrentIndex(qBound(0, p.IPMode(), 4));
    VabMaxEdt->SetText(QString::number(p.VabMax() * 10));
    ShowLevelControls();
    LatitudeLblx->setText(Position::Text(p.Latitude, true));
    LongitudeLblx->setText(Position::Text(p.Longitude, false));
    MinCurrentEdt->setText(QualityText(Shell.QualityKeys.MinCurrent));
    MinVoltageEdt->setText(QualityText(Shell.QualityKeys.MinVoltage));
    MaxReciprocalEdt->setText(QualityText(Shell.QualityKeys.MaxReciprocalError));
}

void TConfigPage::ShowSurveyFiles()
{
    QuadripoleMaxLblx->setText(QString::number(Shell.Model->QuadCount));
    NbNodesLblx->setText(QString::number(Shell.Model->NodeCount));
    TMainFrm::ShowShortPath(QuadripoleFileTxt, Shell.State.QuadripoleFile);
    TMainFrm::ShowShortPath(CoordinateFileTxt, Shell.State.CoordinateFile);
}

void TConfigPage::ShowFiles()
{
    const TAppState &s = Shell.State;
    if (QAbstractButton *b = MeasMode->button(qBound(0, s.MeasMode, 2)))
        b->setChecked(true);
    ShowModeGroups();
    StoreResistanceCheckBox->setChecked(s.StoreResistance);
    LowCurrentCheckBox->setChecked(s.LowCurrent);
    TMainFrm::ShowShortPath(ConfigFileTxt, s.ConfigLoaded ? s.ConfigFile : QString());
    TMainFrm::ShowShortPath(AcquisitionFileSTxt, s.AcquisitionFile);
    TMainFrm::ShowShortPath(DuplicateFileSTxt, s.DuplicateAcquisitionFile);
    DuplicateCheckBox->setChecked(s.DuplicateAcquisition);
    DuplicateFileSTxt->setEnabled(s.DuplicateAcquisition);
    DuplicateBtn->setEnabled(s.DuplicateAcquisition);
    {
        const QSignalBlocker block(CommentMemo);
        CommentMemo->setPlainText(s.CommentMemo);
    }
    MqttCheckBox->setChecked(Shell.MqttKeys.Publish);
    MqttBrokerEdt->setText(Shell.MqttKeys.Broker);
    MqttTopicEdt->setText(Shell.MqttKeys.Topic);
}

void TConfigPage::CommitEdits()
{
    // Taking the focus away runs the rule of an edit still being typed in.
    if (QWidget *focus = QApplication::focusWidget(); focus && isAncestorOf(focus)) {
        setFocus();
        focus->clearFocus();
    }
}

void TConfigPage::Save()
{
    CommitEdits();
    Shell.SaveConfiguration(Shell.State.ConfigLoaded ? Shell.State.ConfigFile : QString());
}

void TConfigPage::OpenQuadripoleFileBtnClick()
{
    const QString path = OpenDialog(QStringLiteral("Quadripole file"), DialogStart(Shell.State.QuadripoleFile),
                                    QStringLiteral("Quadripole file (*.Txt *.txt *.TXT)"));
    if (path.isEmpty())
        return;
    Shell.OpenQuadripoleFile(path);
    Save();
}

void TConfigPage::OpenCoordinateFileBtnClick()
{
    const QString path = OpenDialog(QStringLiteral("Coordinate file"), DialogStart(Shell.State.CoordinateFile),
                                    QStringLiteral("Coordinate file (*.Txt *.txt *.TXT)"));
    if (path.isEmpty())
        return;
    Shell.OpenCoordinateFile(path);
    Save();
}

void TConfigPage::OpenConfigurationFileBtnClick()
{
    const QString path = OpenDialog(QStringLiteral("Configuration file"), DialogStart(Shell.State.ConfigFile),
                                    QStringLiteral("Configuration file (*.Ini *.ini *.INI)"));
    if (!path.isEmpty())
        Shell.LoadConfiguration(path);
}

void TConfigPage::SaveConfigurationFileBtnClick()
{
    Save();
    const QString path = SaveDialog(QStringLiteral("Configuration file"), DialogStart(Shell.State.ConfigFile),
                                    QStringLiteral("Configuration file (*.Ini *.ini *.INI)"), QStringLiteral("Ini"));
    if (!path.isEmpty())
        Shell.SaveConfiguration(path);
}

void TConfigPage::BrowseBtnClick()
{
    const QString path = SaveDialog(QStringLiteral("Acquisition data file"), DialogStart(Shell.State.AcquisitionFile),
                                    QStringLiteral("Acquisition data file (*.bin)"), QStringLiteral("bin"));
    if (path.isEmpty())
        return;
    Shell.State.AcquisitionFile = path;
    TMainFrm::ShowShortPath(AcquisitionFileSTxt, path);
}

void TConfigPage::DuplicateBtnClick()
{
    const QString path =
        SaveDialog(QStringLiteral("Duplicate file"), DialogStart(Shell.State.DuplicateAcquisitionFile),
                   QStringLiteral("Acquisition data file (*.bin)"), QStringLiteral("bin"));
    if (path.isEmpty())
        return;
    Shell.State.DuplicateAcquisitionFile = path;
    TMainFrm::ShowShortPath(DuplicateFileSTxt, path);
}

void TConfigPage::DuplicateCheckBoxClick()
{
    Shell.State.DuplicateAcquisition = DuplicateCheckBox->isChecked();
    DuplicateFileSTxt->setEnabled(Shell.State.DuplicateAcquisition);
    DuplicateBtn->setEnabled(Shell.State.DuplicateAcquisition);
}

void TConfigPage::IPModeProgBtnClick()
{
    TStartParameters &p = Shell.Model->StartParameters;
    TIPTimeFrm::Run(this, p, p.IPMode() == ProgrammableIPMode, [this] { Beep(); });
}
