#pragma once
// One writer per data file. A program that is to write a data file (and so
// its event log and resistance file) takes this lock before it looks whether
// the file exists and keeps it to the end of its run. The lock is an advisory
// flock on a hidden file beside the data file (".Line1.bin.lock"), which also
// says who holds it; the kernel drops the flock when its holder dies, so a
// lock left behind by a killed program is recognised and taken over. Readers
// never take it.
#include "base/TarnelError.h"

#include <QDateTime>
#include <QString>

#include <optional>

// The data file is being written by another program; the message says who.
class EDataFileBusy : public ETarnelError {
public:
    explicit EDataFileBusy(const QString &message) : ETarnelError(TErrorKind::File, message) {}
};

class TDataFileLock {
public:
    struct THolder {
        qint64 Pid = 0;
        QString Program;
        QDateTime Since;
        QString Host;
    };

    TDataFileLock() = default;
    ~TDataFileLock();
    TDataFileLock(const TDataFileLock &) = delete;
    TDataFileLock &operator=(const TDataFileLock &) = delete;

    // Takes the lock of dataFile for program ("tarnelpro-cli acquire").
    // Raises EDataFileBusy naming the holder when another program has it, and
    // ETarnelError with the system's reason when no lock can be made there.
    // A lock this object held before is released first.
    void Take(const QString &dataFile, const QString &program);
    // Removes the lock file and drops the lock; nothing when none is held.
    void Release();
    bool Held() const { return Fd >= 0; }
    // The data file this lock is for, as given to Take.
    const QString &DataFile() const { return Data; }
    // Who held the lock Take found left behind by a program that has ended.
    const std::optional<THolder> &TakenOver() const { return Dead; }

    static QString LockFileFor(const QString &dataFile);
    // The holder recorded in the lock file of dataFile, if there is one
    // (whether or not it still runs).
    static std::optional<THolder> Recorded(const QString &dataFile);
    // "Line1.bin is being written by tarnelpro-cli acquire, process 4711, since 10:42".
    static QString BusyText(const QString &dataFile, const THolder &holder, const QDateTime &now);
    // "tarnelpro-cli acquire, process 4711, since 10:42" (the date too when
    // not today, the host when it is another machine).
    static QString HolderText(const THolder &holder, const QDateTime &now);

private:
    int Fd = -1;
    QString Data;
    QString LockPath;
    std::optional<THolder> Dead;
};
