#pragma once
// Configuration files (INI): everything an acquisition needs besides the
// instrument. Read with the defaults of each key (a missing key or a value
// that is not a number takes the default); written back with the sections and
// keys the program does not know kept as they were, CR LF line ends and
// Windows-1252 text.
#include "instrument/StartParameters.h"

#include <QLocale>
#include <QString>

#include <cstdint>
#include <map>

struct TConfigValues {
    // [Name]
    QString QuadripoleFile;
    QString CoordinateFile;
    // [Comment]
    QString CommentMemo;
    // [Parameters]
    int MeasModeFlag = 0;              // 0 Standard, 1 High speed, 2 SP only
    bool StoreResistanceFlag = false;
    QString AcquisitionFile;
    QString DuplicateAcquisitionFile;
    bool DuplicateAcquisition = false;
    // [Communication]
    int Port = 1;
    QString IPAddress;
    int Speed = 19200;                 // read at connection; always written as 19200
    int HighSpeed = 115200;            // read at connection; always written as 115200
    bool HighSpeedChecked = false;     // written, never read back
    QString DialNumber;                // read only
    QString ModemConfig;               // read only
    int Delay = 0;                     // read only
    // [SpeedStartParameters]
    float SpeedStartTxVoltage = 12.0f;
    std::uint16_t SpeedStartTime = 25;
    std::uint16_t SpeedStartDelay = 12;
    std::int32_t SpeedStartChannel = 10;
    // [StartParameters]
    TStartParameters Start;
    // [Devices] Com<n> = device path
    std::map<int, QString> Devices;
};

class TConfigFile {
public:
    // Reads path; keys missing from the file keep the values of `current`
    // (the program's current paths) or the key's fixed default. False when the
    // file cannot be read.
    static bool Read(const QString &path, const TConfigValues &current, TConfigValues &out,
                     const QLocale &locale = QLocale::system());

    // Writes the program's keys into path, keeping everything else the file
    // holds. Returns an empty string on success, else the system's message.
    static QString Write(const QString &path, const TConfigValues &values, const QLocale &locale = QLocale::system());

    // Writes single keys (the link menu's "Port" and "IPAddress").
    static QString WriteKey(const QString &path, const char *section, const char *key, const QString &value);

    // Device of serial port number n: [Devices] Com<n>, else /dev/ttyS<n-1>.
    static QString DeviceForPort(const TConfigValues &values, int n);

    // Float text that reads back as the same float in locale.
    static QString FloatText(float value, const QLocale &locale);
};
