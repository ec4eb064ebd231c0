// The window's Start while tarnelpro-cli acquire writes the same data file,
// each against its own voltix-sim over TCP.
#include "app/RecordingView.h"
#include "app/Shell.h"
#include "base/Clock.h"
#include "link/EventLoopUi.h"
#include "link/PortVirt.h"
#include "link/SimProcess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {
constexpr int Header = 1029, Record = 304, Quads = 30;

// The operator answers Yes to "Overwrite file".
class TOverwritingView : public TRecordingView {
public:
    int Questions = 0;
    bool AskOverwrite(const QString &) override { return ++Questions > 0; }
};

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The records without what differs between two runs: measurement number,
// batteries, temperature and date.
QByteArray Comparable(const QString &path)
{
    QByteArray data = Bytes(path).mid(Header);
    for (qsizetype r = 0; r + Record <= data.size(); r += Record) {
        data.replace(r + 250, 2, QByteArray(2, '\0'));
        data.replace(r + 284, 20, QByteArray(20, '\0'));
    }
    return data;
}
} // namespace

TEST(AcquisitionE2e, startWhileTheCommandLineWritesTheFileIsRefusedAndTheFileIsThatOfOneRun)
{
    QTemporaryDir tmp;
    qputenv("TARNELPRO_DATA_DIR", tmp.path().toLocal8Bit());
    {
        QFile c(tmp.path() + "/coords.txt");
        ASSERT_TRUE(c.open(QIODevice::WriteOnly));
        c.write("# Num X Y Z\r\n");
        for (int i = 1; i <= 40; ++i)
            c.write(QStringLiteral("%1 %2 0 0\r\n").arg(i).arg(5 * i).toLatin1());
        QFile q(tmp.path() + "/quads.txt");
        ASSERT_TRUE(q.open(QIODevice::WriteOnly));
        q.write("# Num A B M N\r\n");
        for (int n = 0; n < Quads; ++n)
            q.write(QStringLiteral("%1 %2 %3 %4 %5\r\n").arg(n + 1).arg(n / 10 * 13 + 1).arg(n / 10 * 13 + 2)
                        .arg(n / 10 * 13 + 3 + n % 10).arg(n / 10 * 13 + 4 + n % 10).toLatin1());
    }
    const auto ini = [&](const QString &name, const TSimProcess &sim) {
        const QString path = tmp.path() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Name]\r\nQuadripoleFile=%1/quads.txt\r\nCoordinateFile=%1/coords.txt\r\n"
                               "[Parameters]\r\nAcquisitionFile=%1/out.bin\r\n[Communication]\r\nPort=100\r\nIPAddress=%2\r\n")
                    .arg(tmp.path(), sim.TcpAddress())
                    .toLatin1());
        return path;
    };
    const QStringList simArgs{"--tcp", "127.0.0.1:0", "--time-scale", "0", "--seed", "11"};
    TSimProcess cliSim(simArgs + QStringList{"--fault", "slow-ms=20"});
    TSimProcess windowSim(simArgs);
    const QString cliIni = ini("cli.ini", cliSim);
    const QString out = tmp.path() + "/out.bin";

    QProcess cli;
    cli.setReadChannel(QProcess::StandardError);
    cli.start(QStringLiteral(TARNELPRO_CLI_PATH), {"acquire", "--config", cliIni, "--yes"});
    ASSERT_TRUE(cli.waitForStarted());
    QByteArray err;
    while (!err.contains("1 .. 10 / 30") && cli.waitForReadyRead(60000))
        err += cli.readAllStandardError();
    ASSERT_TRUE(err.contains("1 .. 10 / 30")) << err.toStdString();

    TEventLoopUi ui;
    TOverwritingView view;
    TShell shell(ui, view, SystemClock(), TShell::TOptions{false});
    ASSERT_TRUE(shell.LoadConfiguration(ini("window.ini", windowSim)));
    shell.ToggleConnection();
    ASSERT_TRUE(shell.LinkOpen());
    try {
        shell.RunStartAction(TShell::ActionAcquisition);
        ADD_FAILURE() << "the window measured into the file the command line writes";
    } catch (const EDataFileBusy &e) {
        EXPECT_TRUE(e.Message().startsWith(
            QStringLiteral("%1 is being written by tarnelpro-cli acquire, process %2, since ").arg(out).arg(cli.processId())))
            << e.Message().toStdString();
    }
    EXPECT_EQ(view.Questions, 0) << "refused before the overwrite question";

    ASSERT_TRUE(cli.waitForFinished(120000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(QFileInfo(out).size(), Header + Quads * Record);

    // The same survey measured once, undisturbed, by the window itself.
    shell.State.AcquisitionFile = tmp.path() + "/single.bin";
    shell.RunStartAction(TShell::ActionAcquisition);
    EXPECT_EQ(QFileInfo(shell.State.AcquisitionFile).size(), Header + Quads * Record);
    EXPECT_TRUE(Comparable(out) == Comparable(shell.State.AcquisitionFile)) << "records of two runs mixed";
    qunsetenv("TARNELPRO_DATA_DIR");
}
