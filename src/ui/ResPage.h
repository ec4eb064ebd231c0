#pragma once
// The "Resistance" page: which node pairs are checked, the maximum accepted,
// and the current, minimum and maximum pairs.
#include <QWidget>

#include <array>

class QComboBox;
class QCustomPlot;
class TResistanceTable;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QLocale;
struct Node;

class TResPage : public QWidget {
    Q_OBJECT
public:
    explicit TResPage(QWidget *parent = nullptr);

    float MaxResistance() const;
    int NodeSelection() const;
    std::array<int, 2> NodePair() const;
    void SetPanelEnabled(bool enabled);
    void ShowMaximumFlash(bool shown);
    void ShowSkip(bool shown);
    void ShowChecked(bool shown);
    void ShowResistance(int which, const Node &p1, const Node &p2, float r, const QLocale &locale);
    // Along the line: kOhm per electrode on a log scale, the maximum as a
    // line, the electrodes above it (skipped or not) marked.
    void ShowProfile(const TResistanceTable &table, float maximum);

    QPushButton *SkipBtn;

private:
    QComboBox *MaxResValueCb;
    QWidget *NodeCheckConfigPanel, *CoupleOfNodePanel;
    QRadioButton *AllQuadNodeBtn, *AllCoordNodeBtn, *OneNode;
    QLineEdit *NodeP1Edn, *NodeP2Edn;
    QLabel *MaximumFlashLbl, *ResistanceCheckedLbl;
    // Per group (current, minimum, maximum): P1 node, X, Y, Z, P2 node, X, Y, Z, resistance.
    std::array<std::array<QLabel *, 9>, 3> Values{};
    QCustomPlot *ResistancePlot;
};
