#pragma once
// The application state the controllers share: which files are in use, which
// link is chosen and whether an action runs. One instance for the program's life.
#include <QString>

#include <array>
#include <map>

enum class TRunState : int { Running = 0, Paused = 1, StopRequested = 2, Idle = 3 };

// Link selectors: 1..98 serial port number, 99 USB, 100 the Wi-Fi module.
inline constexpr int UsbPortSelector = 99;
inline constexpr int IPPortSelector = 100;

struct TAppState {
    QString ConfigFile;
    // True while a configuration file is loaded (the configuration handle).
    bool ConfigLoaded = false;
    int PortSelector = 1;
    QString IPAddress;
    // The configuration's [Devices]: serial port number -> device path.
    std::map<int, QString> Devices;
    int BlockCount = 0;
    TRunState RunState = TRunState::Idle;
    QString AcquisitionFile;
    QString QuadripoleFile;
    QString CoordinateFile;
    // Header text for the data file: copied from the configuration's comment
    // at load time, 8-bit, always terminated.
    std::array<char, 1025> Comment{};
    QString DuplicateAcquisitionFile;
    bool DuplicateAcquisition = false;
    // 0 "Standard", 1 "High speed", 2 "SP only".
    int MeasMode = 0;
    // "Store line resistance values" and "Low current box connected ".
    bool StoreResistance = false;
    bool LowCurrent = false;
    // "High communication speed (USB Only)".
    bool HighSpeedChecked = false;
    // The comment as typed; reaches the header buffer at the next load.
    QString CommentMemo;
    // Delimiters of the command code and argument in script lines.
    std::array<QString, 3> ScriptDelimiters;

    void SetComment(const QByteArray &text);
    QByteArray CommentText() const;
};
