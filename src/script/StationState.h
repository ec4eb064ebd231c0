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

    // The state file of a script in "Stations/" of the data folder: the path
    // made readable ("/" as "-") and a hash of the whole canonical path, so
    // that "a/b-c.scp" and "a-b/c.scp" never share one.
    static QString PathFor(const QString &script);
    // The name earlier versions gave, without the hash.
    static QString OldPathFor(const QString &script);
    // False when there is no state (or it is not this script's). With Script
    // set and no file at path, the state under the old name is taken, so
    // that a station started by an earlier version goes on where it was.
    bool Load(const QString &path);
    // Empty on success, else the system's reason.
    QString Save(const QString &path) const;
};
