#pragma once
// Where an unattended script stands, kept on disk: a station started again
// after a crash, a kill or a power cut goes on from the event it was at,
// into the data file it was writing.
#include <QString>

struct TStationState {
    QString Script;      // the script's absolute path
    qsizetype Line = 0;  // index of the line being run (0-based)
    int Repeat = 0;      // the gotos' repeat counter at that line
    QString DataFile;    // the data file of the acquisition in progress, empty between acquisitions
    bool Finished = false;

    // The state file of a script: "Stations/<path with / as ->.ini" in the data folder.
    static QString PathFor(const QString &script);
    // False when there is no state (or it is not this script's).
    bool Load(const QString &path);
    // Empty on success, else the system's reason.
    QString Save(const QString &path) const;
};
