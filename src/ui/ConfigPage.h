#pragma once
// The "Configuration" page: survey files, measurement mode and settings,
// survey position, data files, comment and configuration files. Each control
// applies its rule to the model when the operator leaves it.
#include <QWidget>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class TShell;
class TUpDownEdit;

class TConfigPage : public QWidget {
    Q_OBJECT
public:
    TConfigPage(TShell &shell, QWidget *parent = nullptr);

    // Fills the controls from the state and the model.
    void ShowParameters();
    void ShowSurveyFiles();
    void ShowFiles();
    // Commits an edit still being typed (its rule runs).
    void CommitEdits();

    // Open/save dialogs; tests replace them.
    std::function<QString(const QString &caption, const QString &start, const QString &filter)> OpenDialog;
    std::function<QString(const QString &caption, const QString &start, const QString &filter, const QString &suffix)>
        SaveDialog;

    void OpenQuadripoleFileBtnClick();
    void OpenCoordinateFileBtnClick();
    void OpenConfigurationFileBtnClick();
    void SaveConfigurationFileBtnClick();
    void BrowseBtnClick();
    void DuplicateBtnClick();
    void DuplicateCheckBoxClick();
    void IPModeProgBtnClick();

private:
    void KeepPlaces();
    // A report window's save that failed: red in the event log and the status.
    std::function<void(const QString &)> ReportSaveError();
    QWidget *BuildNodes();
    QWidget *BuildMode();
    QWidget *BuildStandard();
    QWidget *BuildHighSpeed();
    QWidget *BuildPosition();
    QWidget *BuildQuality();
    QString QualityText(float value);
    QWidget *BuildAcquisition();
    QWidget *BuildConfigurationFile();
    QWidget *BuildComment();
    QWidget *BuildMqtt();
    // Takes the MQTT controls into the [Mqtt] keys and starts or ends the report.
    void ApplyMqttControls();
    void ShowModeGroups();
    void ShowLevelControls();
    void Beep();
    void Save();

    TShell &Shell;

    QLabel *QuadripoleFileTxt, *CoordinateFileTxt, *QuadripoleMaxLblx, *NbNodesLblx;
    QButtonGroup *MeasMode;
    QGroupBox *StandardGb, *HighSpeedGb;
    QRadioButton *VpRdBtn, *VabRdBtn, *RhoOnlyRdBtn, *RhoIPRdBtn;
    QComboBox *VmnCB, *VabCB, *TimeCB, *IPModeCB;
    QLabel *VabMaxLbl, *IPModeLbl;
    TUpDownEdit *VabMaxEdt, *StdChannelEdn, *TriggerEdn, *QMaxEdn, *StackMinEdn, *StackMaxEdn, *ChannelEdn;
    QPushButton *IPModeProgBtn;
    QLineEdit *TimeEdt, *TxVoltageEdt, *LatitudeLblx, *LongitudeLblx;
    QLineEdit *MinCurrentEdt, *MinVoltageEdt, *MaxReciprocalEdt;
    QLabel *TxVoltageLbl;
    QLabel *AcquisitionFileSTxt, *DuplicateFileSTxt, *ConfigFileTxt;
    QCheckBox *DuplicateCheckBox, *LowCurrentCheckBox, *StoreResistanceCheckBox;
    QPushButton *DuplicateBtn;
    QPlainTextEdit *CommentMemo;
    QCheckBox *MqttCheckBox;
    QLineEdit *MqttBrokerEdt, *MqttTopicEdt;
};
