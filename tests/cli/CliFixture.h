#pragma once
// Runs tarnelpro-cli for a test and writes a small survey for it.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {
struct TResult {
    int Status = -1;
    QString Out, Err;
};

struct TCliFixture : ::testing::Test {
    QTemporaryDir Tmp;
    // More environment for the runs (a locale, say).
    QMap<QString, QString> Env;

    TResult Run(const QStringList &args, int timeoutMs = 120000)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARNELPRO_DATA_DIR"), Tmp.path() + "/data");
        for (auto it = Env.cbegin(); it != Env.cend(); ++it)
            env.insert(it.key(), it.value());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TARNELPRO_CLI_PATH), args);
        p.waitForFinished(timeoutMs);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
    // A line of 40 nodes every 5 m and three groups of ten chained dipoles.
    QString Survey(const QString &link)
    {
        QFile c(Tmp.path() + "/coords.txt");
        EXPECT_TRUE(c.open(QIODevice::WriteOnly));
        c.write("# Num X Y Z\r\n");
        for (int i = 1; i <= 40; ++i)
            c.write(QStringLiteral("%1 %2 0 0\r\n").arg(i).arg(5 * i).toLatin1());
        c.close();
        QFile q(Tmp.path() + "/quads.txt");
        EXPECT_TRUE(q.open(QIODevice::WriteOnly));
        q.write("# Num A B M N\r\n");
        int n = 1;
        for (int g = 0; g < 3; ++g)
            for (int k = 0; k < 10; ++k, ++n)
                q.write(QStringLiteral("%1 %2 %3 %4 %5\r\n").arg(n).arg(13 * g + 1).arg(13 * g + 2).arg(13 * g + 3 + k).arg(13 * g + 4 + k).toLatin1());
        q.close();
        const QString ini = Tmp.path() + "/run.ini";
        QFile f(ini);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Name]\r\nQuadripoleFile=%1/quads.txt\r\nCoordinateFile=%1/coords.txt\r\n"
                               "[Parameters]\r\nAcquisitionFile=%1/out.bin\r\n[Communication]\r\nPort=100\r\nIPAddress=%2\r\n")
                    .arg(Tmp.path(), link)
                    .toLatin1());
        return ini;
    }
    qint64 Size(const QString &path) { return QFileInfo(path).size(); }
};
} // namespace
