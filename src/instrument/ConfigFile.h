#pragma once
// Configuration files (INI): everything an acquisition needs besides the
// instrument. Read with the defaults of each key (a missing key or a value
// that is not a number takes the default, a number outside what its control
// accepts is replaced as the control would); written back with everything the
// program does not know kept in place. Numbers never follow the locale; text
// follows the one file text rule (Windows-1252 or UTF-8).
#include "instrument/StartParameters.h"

#include <QString>

#include <cstdint>
#include <map>

// [Mqtt]: where the station reports its work. Written only when a broker is set.
struct TMqttKeys {
    bool Publish = false;       // "Publish to MQTT"
    QString Broker;             // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
    QString Topic;              // prefix; empty: tarnelpro/<host name>
    QString Username;
    QString PasswordFile;
    QString CaFile;
    int Qos = 1;
    bool Commands = false;

    bool operator==(const TMqttKeys &) const = default;
};

// [Quality]: the floors and the reciprocal limit of the live quality control
// (Q max is the acquisition's own, [StartParameters] CrenEt).
struct TQualityKeys {
    float MinCurrent = 1;             // mA
    float MinVoltage = 0.01f;         // mV
    float MaxReciprocalError = 5;     // %

    bool operator==(const TQualityKeys &) const = default;
};

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
    int Speed = 19200;                 // read at connection; a file's own value is never rewritten
    int HighSpeed = 115200;            // read at connection; a file's own value is never rewritten
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
    // [Mqtt]: a file without a Broker key keeps the current values.
    TMqttKeys Mqtt;
    TQualityKeys Quality;
};

class TConfigFile {
public:
    // Reads path; keys missing from the file keep the values of `current`
    // (the program's current paths) or the key's fixed default. False when the
    // file cannot be read, with the system's message in error.
    static bool Read(const QString &path, const TConfigValues &current, TConfigValues &out, QString *error = nullptr);

    // Writes the program's keys into path, keeping everything else the file
    // holds. Returns an empty string on success, else the system's message.
    static QString Write(const QString &path, const TConfigValues &values);
    // The same keys written into target on top of the content of source
    // (which may be target itself); a missing source starts empty.
    static QString WriteFrom(const QString &source, const QString &target, const TConfigValues &values);
    // The keys as Write puts them into an empty file, in the same order.
    static QString Text(const TConfigValues &values);

    // Why the file at path cannot be a configuration file ("binary data", "a
    // folder", …), or empty when it can: text with a [section] line, or
    // nothing at all. Guards the files a save would replace.
    static QString NotAConfiguration(const QString &path);

    // Writes single keys (the link menu's "Port" and "IPAddress").
    static QString WriteKey(const QString &path, const char *section, const char *key, const QString &value);

    // Device of serial port number n: [Devices] Com<n>, else /dev/ttyS<n-1>.
    static QString DeviceForPort(const TConfigValues &values, int n);

    // Shortest file text ("." and no group separator) that reads back as the
    // same float.
    static QString FloatText(float value);
};
