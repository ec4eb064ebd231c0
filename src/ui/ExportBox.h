#pragma once
// "Export…" beside the data file on the Configuration page: the data file in
// the format of a processing tool, chosen in ExportFormatCB. The loaded
// survey gives the electrodes their field numbers.
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QPushButton;
class TShell;

class TExportBox : public QWidget {
    Q_OBJECT
public:
    TExportBox(TShell &shell, QWidget *parent = nullptr);

    // The save dialog (caption, start path, filter, suffix); tests replace it.
    std::function<QString(const QString &, const QString &, const QString &, const QString &)> SaveDialog;

    void ExportBtnClick();

    QComboBox *ExportFormatCB;
    // Numbers a line from its other end.
    QCheckBox *ExportReverseCb;
    QPushButton *ExportBtn;

private:
    TShell &Shell;
};
