#pragma once
// Another program writing a data file: a child process that takes the file's
// lock as a writer does and keeps it until it is killed, which is how a
// lock is left behind.
#include "base/DataFileLock.h"

#include <QDateTime>
#include <QFile>
#include <QSysInfo>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

class TLockHolder {
public:
    TLockHolder(const QString &dataFile, const QString &program)
    {
        // Everything the child needs is made before the fork: it only calls
        // the system, safe in a child of a process with threads.
        const QByteArray lock = QFile::encodeName(TDataFileLock::LockFileFor(dataFile));
        const QByteArray record = QStringLiteral("program=%1\nsince=%2\nhost=%3\n")
                                      .arg(program, QDateTime::currentDateTime().toString(Qt::ISODate),
                                           QSysInfo::machineHostName())
                                      .toUtf8();
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        Pid = ::fork();
        if (Pid == 0) {
            const int fd = ::open(lock.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
            char pid[32];
            const int n = std::snprintf(pid, sizeof pid, "pid=%d\n", int(::getpid()));
            ok = ok && ::ftruncate(fd, 0) == 0 && ::write(fd, pid, size_t(n)) == n &&
                 ::write(fd, record.constData(), size_t(record.size())) == record.size();
            (void)!::write(ready[1], &ok, 1);
            for (;;)
                ::pause();
        }
        char ok = 0;
        Held = Pid > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~TLockHolder() { Kill(); }
    TLockHolder(const TLockHolder &) = delete;
    TLockHolder &operator=(const TLockHolder &) = delete;

    void Kill()
    {
        if (Pid <= 0)
            return;
        ::kill(Pid, SIGKILL);
        ::waitpid(Pid, nullptr, 0);
        Pid = -1;
    }

    pid_t Pid = -1;
    bool Held = false;
};
