#pragma once
// "About": system, version, product, copyright and the support addresses.
#include <QDialog>

class QLabel;
class QPlainTextEdit;

class TAboutBoxFrm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBoxFrm(QWidget *owner);

    // "6.6.0" -> "V06.06.00": major, minor and release numbers, two digits each.
    static QString VersionText(const QString &version);
    // The distribution's PRETTY_NAME from an os-release file; empty when absent.
    static QString SystemName(const QString &osRelease = QStringLiteral("/etc/os-release"));


    QLabel *WindowsLbl = nullptr;
    QLabel *Version = nullptr;
    QLabel *ProductName = nullptr;
    QLabel *Copyright = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
};
