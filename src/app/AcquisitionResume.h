#pragma once
// Continuing an interrupted acquisition in its own data file: the stored
// records must be those of the loaded survey, quadripole by quadripole; a
// partial last record and a group stored only in part are cut off so the run
// measures them again.
#include <QString>

class TSequence;

struct TAcquisitionResume {
    int NextQuad = 0;          // index of the first quadripole still to measure
    qint64 KeepBytes = 0;      // the file is cut to this size before appending
    qint64 TornBytes = 0;      // partial last record
    int DroppedRecords = 0;    // whole records of an incomplete group

    // Reads the data file and checks it against the survey. Raises
    // ETarnelError saying why (unreadable, not a data file, or where it
    // differs from the survey); the file is not changed.
    static TAcquisitionResume Plan(const QString &path, const TSequence &survey);
    // Cuts the file to KeepBytes. Raises ETarnelError on failure.
    void CutFile(const QString &path) const;
    // The event-log line: where the run continues.
    QString Description(int quadCount) const;
};
