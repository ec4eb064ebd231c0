#pragma once
// The "Acquisition" page: the last measured group, electrode by electrode and
// channel by channel, with the progress of the run.
#include <QWidget>

#include <array>
#include <cstdint>

class QGroupBox;
class QLabel;
class QLocale;
struct TDataRecord;

class TAcqPage : public QWidget {
    Q_OBJECT
public:
    explicit TAcqPage(QWidget *parent = nullptr);

    void ShowMeasurement(const TDataRecord *records, const std::int16_t *electrodes, int n, const QLocale &locale);
    void HideData();
    void ShowProgress(const QString &label);
    void ShowEstimate(const QString &text);
    void ShowMode(const QString &mode);
    // The QC colour of each channel of the group shown (green good, red
    // flagged, the flags as tool tip) and the run's count.
    void ShowQuality(const unsigned *flags, int count, int flagged, int total);

private:
    QGroupBox *DataGB;
    QLabel *ModeMeasLbl, *QuadripoleLblx, *EstimatedTimeLblx, *InLblx, *QcCountLbl;
    // Rows Ca, Cb, P1..P11: node, X, Y, Z.
    std::array<std::array<QLabel *, 4>, 13> Electrodes{};
    std::array<QWidget *, 13> ElectrodeCaptions{};
    // Channels 1..10: Vp, Rho, M, Sp, Q, and the column caption.
    std::array<std::array<QLabel *, 5>, 10> Channels{};
    std::array<QLabel *, 10> QcLabels{};
    std::array<QLabel *, 10> ChannelCaptions{};
};
