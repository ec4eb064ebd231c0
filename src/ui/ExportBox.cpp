#include "ui/ExportBox.h"

#include "app/Shell.h"
#include "base/TarnelError.h"
#include "base/UserInterface.h"
#include "instrument/DataExporter.h"
#include "instrument/VoltixPro.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace {
struct TFormatChoice {
    TExportFormat Format;
    const char *Name;   // in the list
    const char *Filter; // in the save dialog
};
const TFormatChoice Choices[] = {
    {TExportFormat::Csv, "CSV", "CSV table (*.csv)"},
    {TExportFormat::Unified, "Unified", "Unified data format (*.ohm)"},
    {TExportFormat::Protocol, "R2 protocol", "R2 protocol (*_protocol.dat *.dat)"},
    {TExportFormat::Res2dinv, "Res2DInv", "Res2DInv general array (*_res2dinv.dat *.dat)"},
};
} // namespace

TExportBox::TExportBox(TShell &shell, QWidget *parent) : QWidget(parent), Shell(shell)
{
    setObjectName(QStringLiteral("ExportBox"));
    auto *l = new QHBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    ExportFormatCB = new QComboBox(this);
    ExportFormatCB->setObjectName(QStringLiteral("ExportFormatCB"));
    for (const TFormatChoice &c : Choices)
        ExportFormatCB->addItem(QString::fromLatin1(c.Name));
    ExportFormatCB->setToolTip(QStringLiteral("Format of the export"));
    ExportReverseCb = new QCheckBox(QStringLiteral("Reverse"), this);
    ExportReverseCb->setObjectName(QStringLiteral("ExportReverseCb"));
    ExportReverseCb->setToolTip(QStringLiteral("Number the line from its other end"));
    ExportBtn = new QPushButton(QStringLiteral("Export…"), this);
    ExportBtn->setObjectName(QStringLiteral("ExportBtn"));
    ExportBtn->setToolTip(QStringLiteral("Write the acquisition data file for a processing program"));
    l->addWidget(ExportFormatCB);
    l->addWidget(ExportReverseCb);
    l->addWidget(ExportBtn);
    SaveDialog = [this](const QString &caption, const QString &start, const QString &filter, const QString &suffix) {
        QFileDialog dialog(this, caption, start, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(suffix);
        dialog.selectFile(start);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };
    connect(ExportBtn, &QPushButton::clicked, this, &TExportBox::ExportBtnClick);
}

void TExportBox::ExportBtnClick()
{
    const int index = std::max(0, ExportFormatCB->currentIndex());
    const TFormatChoice &choice = Choices[index];
    const QString dataFile = Shell.State.AcquisitionFile;
    const QString path = SaveDialog(QStringLiteral("Export"), DefaultExportPath(dataFile, choice.Format),
                                    QString::fromLatin1(choice.Filter),
                                    TDataExporter::ExtensionOf(choice.Format).mid(1));
    if (path.isEmpty())
        return;
    // The save dialog has asked about replacing the chosen file; the electrode
    // list written beside a protocol export is asked about here.
    if (choice.Format == TExportFormat::Protocol) {
        const QString electrodes = ElectrodesPathFor(dataFile, path);
        if (QFileInfo::exists(electrodes) && !SameFile(electrodes, dataFile) &&
            !Shell.Ui.Confirm(QStringLiteral("%1 already exists.\nReplace it?").arg(electrodes),
                              QStringLiteral("Export")))
            return;
    }
    try {
        TExportQuality quality;
        quality.Settings = TQualitySettings::FromConfig(Shell.CurrentValues());
        TExportOptions options;
        options.Reverse = ExportReverseCb->isChecked();
        // The loaded survey's numbers, used when they name every electrode of
        // the data file (another survey's do not).
        options.Numbers = FieldNumbersOf(*Shell.Model);
        const QString survey =
            !Shell.State.CoordinateFile.isEmpty() ? Shell.State.CoordinateFile : Shell.State.QuadripoleFile;
        options.NumbersFrom = survey.isEmpty() ? QStringLiteral("the survey") : QFileInfo(survey).fileName();
        const TExportResult result = ExportDataFile(dataFile, choice.Format, path, true, options, quality);
        if (!result.Warning.isEmpty()) {
            Shell.EventLog.AddStamped(result.Warning, LogColor::Maroon);
        }
        QString text = QStringLiteral("Exported %1 records to %2").arg(result.Written).arg(path);
        if (result.LeftOut > 0)
            text += QStringLiteral(" (%1 record%2 without a current, with Rho <= 0, without a geometric factor or with damaged values left out)")
                        .arg(result.LeftOut)
                        .arg(result.LeftOut == 1 ? "" : "s");
        if (result.TornBytes > 0)
            text += QStringLiteral(" (a partial or zero-filled last record of %1 bytes left out)").arg(result.TornBytes);
        Shell.EventLog.AddStampedAside(text, LogColor::Black);
        if (!result.ElectrodesPath.isEmpty())
            Shell.EventLog.AddStampedAside(
                QStringLiteral("Electrode positions written to %1").arg(result.ElectrodesPath), LogColor::Black);
        if (!result.Numbering.isEmpty())
            Shell.EventLog.AddStampedAside(QStringLiteral("Export: %1").arg(result.Numbering), LogColor::Black);
    } catch (const ETarnelError &e) {
        Shell.EventLog.AddStamped(QStringLiteral("Export failed: ") + e.Message(), LogColor::Red);
        Shell.Ui.ErrorBox(QStringLiteral("Export"), e.Message());
    }
}
