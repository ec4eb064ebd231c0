#pragma once
// Runs voltix-sim for a test and reads where it listens.
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

class TSimProcess {
public:
    // Starts the simulator; Where() is empty when it did not report ready.
    explicit TSimProcess(const QStringList &args)
    {
        Process.setProgram(QStringLiteral(VOLTIX_SIM_PATH));
        Process.setArguments(args);
        Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process.start();
        if (!Process.waitForStarted(10000))
            return;
        QByteArray out;
        while (!out.contains('\n') && Process.waitForReadyRead(10000))
            out += Process.readAllStandardOutput();
        const QString line = QString::fromLatin1(out).trimmed();
        if (line.startsWith(QLatin1String("voltix-sim ready ")))
            WhereText = line.mid(17);
    }
    ~TSimProcess() { Stop(); }
    void Stop()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.terminate();
            if (!Process.waitForFinished(5000)) {
                Process.kill();
                Process.waitForFinished(5000);
            }
        }
    }
    // "tcp:127.0.0.1:PORT" or "pty:PATH".
    const QString &Where() const { return WhereText; }
    // "127.0.0.1:PORT" for a TCP simulator.
    QString TcpAddress() const { return WhereText.mid(4); }

private:
    QProcess Process;
    QString WhereText;
};
