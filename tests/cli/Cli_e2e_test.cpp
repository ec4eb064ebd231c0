// tarnelpro-cli against the simulated instrument over loopback TCP: what a
// field crew runs from a terminal, end to end.
#include "cli/CliFixture.h"
#include "link/SimProcess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>


TEST_F(TCliFixture, identifyPrintsTheInstrumentAndItsHealth)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--battery", "12.6,12.4", "--temperature", "31"});
    ASSERT_FALSE(sim.Where().isEmpty());
    const TResult r = Run({"identify", "--link", "tcp:" + sim.TcpAddress(), "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7) << r.Out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("Identification: "));
    EXPECT_EQ(lines[1], "TypeCode: 0x10000002");
    EXPECT_EQ(lines[2], "Generation: 2");
    EXPECT_EQ(lines[3], "Channels: 10");
    EXPECT_EQ(lines[4], "TxBattery: 12.6");
    EXPECT_EQ(lines[5], "RxBattery: 12.4");
    EXPECT_EQ(lines[6], "Temperature: 31");
}

TEST_F(TCliFixture, usageErrorsSayWhatWasWrong)
{
    QDir().mkpath(Tmp.path() + "/folder.ini");
    const struct {
        QStringList Args;
        int Status;
        const char *Err;
    } cases[] = {
        {{"acquire", "--bogus"}, 2, "tarnelpro-cli acquire: unexpected argument \"--bogus\""},
        {{"acquire", "--config", "x.ini", "--timeout", "abc"}, 2, "--timeout wants whole seconds from 1 to 86400, not \"abc\""},
        {{"acquire", "--config"}, 2, "--config needs a value"},
        {{"acquire", "--yes"}, 2, "--config is required"},
        {{"check-resistance", "--config", "x.ini", "--nodes", "1-2"}, 2, "--nodes takes used, defined or two"},
        {{"identify"}, 2, "--link or --config is required"},
        {{"acquire", "--config", Tmp.path() + "/folder.ini"}, 1, "is a folder"},
        {{"acquire", "--config", Tmp.path() + "/none.ini"}, 1, "not found"},
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{}, 2, "no command given"},
        {{"check-resistance", "--config", "x.ini", "--max", "-3"}, 2, "--max wants kOhm above 0"},
        {{"script", "a.scp", "--bogus"}, 2, "unexpected argument \"--bogus\""},
        {{"script", "a.scp", "--list", "--link", "usb"}, 2, "--list takes none of them"},
    };
    for (const auto &c : cases) {
        const TResult r = Run(c.Args);
        EXPECT_EQ(r.Status, c.Status) << c.Args.join(' ').toStdString();
        EXPECT_TRUE(r.Err.contains(c.Err)) << r.Err.toStdString();
    }
    // Asked for, help and version go to stdout.
    TResult r = Run({"--help"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_TRUE(r.Out.startsWith("usage: tarnelpro-cli <command>")) << r.Out.toStdString();
    r = Run({"--version"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_TRUE(r.Out.startsWith("tarnelpro-cli (Tarnel Pro 2) ")) << r.Out.toStdString();
}

// Every command reads its line with the same parser: the same mistake gets
// the same message, then that command's usage, and exit status 2, before
// anything is read, connected or written.
TEST_F(TCliFixture, everyCommandRefusesAMistakenLineTheSameWay)
{
    const char *commands[] = {"survey", "section", "identify", "acquire", "check-resistance", "script",
                              "config", "export", "qc", "sequence", "fleet", "timelapse"};
    for (const char *command : commands) {
        SCOPED_TRACE(command);
        const TResult r = Run({command, "--bogus"});
        EXPECT_EQ(r.Status, 2);
        EXPECT_TRUE(r.Err.startsWith(QStringLiteral("tarnelpro-cli %1: unexpected argument \"--bogus\"\nusage: tarnelpro-cli %1 ")
                                         .arg(command)))
            << r.Err.toStdString();
        EXPECT_TRUE(r.Out.isEmpty());
    }
    const struct {
        QStringList Args;
        const char *Why;
    } mistakes[] = {
        {{"qc", "a.bin", "b.bin"}, "unexpected argument \"b.bin\""},
        {{"fleet", "--mqtt"}, "--mqtt needs a value"},
        {{"export", "a.bin", "--format"}, "--format needs a value"},
        {{"acquire", "--config", "--yes"}, "--config needs a value"},
        // Never an export written to a file named "--overwrite".
        {{"export", "a.bin", "--format", "csv", "-o", "--overwrite"}, "-o needs a value"},
        {{"identify", "--link", "tcp:a", "--link", "tcp:b"}, "repeated option \"--link\""},
        {{"config", "a.ini", "--print", "--print"}, "repeated option \"--print\""},
        {{"sequence", "--electrodes", "9", "--array", "dd", "--reciprocals", "--reciprocals"},
         "repeated option \"--reciprocals\""},
        {{"script", "a.scp", "--reconnect-pause", "-1"}, "--reconnect-pause wants whole seconds from 0 to 86400, not \"-1\""},
        {{"script", "a.scp", "--plan", "--limit", "x"}, "--limit wants a whole number from 0, not \"x\""},
        {{"check-resistance", "--config", "x.ini", "--retries", "2.5"}, "--retries wants a whole number from 0, not \"2.5\""},
        {{"survey", "--quadripoles", "q.txt", "--groups", "11"}, "--groups wants a number of channels from 1 to 10, not \"11\""},
    };
    for (const auto &m : mistakes) {
        SCOPED_TRACE(m.Args.join(' ').toStdString());
        const TResult r = Run(m.Args);
        EXPECT_EQ(r.Status, 2);
        EXPECT_EQ(r.Err.section('\n', 0, 0), QStringLiteral("tarnelpro-cli %1: %2").arg(m.Args[0], m.Why));
        EXPECT_TRUE(r.Err.section('\n', 1, 1).startsWith(QStringLiteral("usage: tarnelpro-cli ") + m.Args[0]))
            << r.Err.toStdString();
    }
}

TEST_F(TCliFixture, usageAndConnectionErrors)
{
    EXPECT_EQ(Run({"identify"}).Status, 2);
    EXPECT_EQ(Run({"identify", "--link", "bogus"}).Status, 2);
    // A folder or an unreadable file given as the configuration says which and why.
    QDir(Tmp.path()).mkdir("folder.ini");
    const QString locked = Tmp.path() + "/locked.ini";
    QFile f(locked);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Name]\r\n");
    f.close();
    f.setPermissions(QFileDevice::Permissions{});
    TResult r;
    if (!QFileInfo(locked).isReadable()) { // root reads anything
        r = Run({"acquire", "--config", locked});
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains("cannot read configuration file")) << r.Err.toStdString();
        EXPECT_FALSE(r.Err.contains("names no quadripole")) << r.Err.toStdString();
    }
    // A serial device that cannot be opened says which and why.
    r = Run({"identify", "--link", "serial:" + Tmp.path() + "/ttyNone", "--yes"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("Cannot open serial port " + Tmp.path() + "/ttyNone: ")) << r.Err.toStdString();
    // Nobody listens on this port.
    r = Run({"identify", "--link", "tcp:127.0.0.1:1", "--yes"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("Unable to connect to ")) << r.Err.toStdString();
}

TEST_F(TCliFixture, acquireMeasuresTheSurveyAndRefusesToOverwrite)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    TResult r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 30 * 304);
    EXPECT_TRUE(r.Err.contains("21 .. 30 / 30")) << r.Err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(Tmp.path() + "/out_Log.txt"));

    QFile::resize(Tmp.path() + "/out.bin", 1029);
    r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 3);
    EXPECT_TRUE(r.Err.contains("exists")) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029) << "nothing touched";

    r = Run({"acquire", "--config", ini, "--yes", "--output", Tmp.path() + "/second.bin"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/second.bin"), 1029 + 30 * 304);
}

TEST_F(TCliFixture, highSpeedRunUsesTheFastMeasurement)
{
    Survey(QString()); // the simulator measures on the survey's own electrode positions
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--coordinates", Tmp.path() + "/coords.txt"});
    const QString ini = Survey(sim.TcpAddress());
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("[SpeedStartParameters]\r\nSpeedStartChannel=5\r\n[Parameters]\r\nMeasModeFlag=1\r\n");
    }
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("26 .. 30 / 30")) << "groups of at most five channels";
    QFile f(Tmp.path() + "/out.bin");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    ASSERT_EQ(data.size(), 1029 + 30 * 304);
    const char *record = data.constData() + 1029;
    EXPECT_EQ(std::uint8_t(record[248]), 0x50) << "channel 1 of a group of five";
    EXPECT_EQ(std::uint8_t(record[249]), 2) << "fast-measurement records carry flag 2";
    float in = 0, rho = 0;
    std::memcpy(&in, record + 72, 4);
    std::memcpy(&rho, record + 76, 4);
    // 12 V of the speed start through two contacts of 0.5 to 0.8 kOhm each in 100 Ohm.m.
    EXPECT_NEAR(in, 9.5f, 2.5f) << "the current the simulator injects, both pulses averaged";
    EXPECT_NEAR(rho, 100.0f, 2.0f) << "the simulator's homogeneous ground";
}

TEST_F(TCliFixture, exactSimulatorGivesTheGroundsResistivityForEveryRecord)
{
    Survey(QString());
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--noise", "0", "--model", "homogeneous:250",
                     "--coordinates", Tmp.path() + "/coords.txt"});
    const TResult r = Run({"acquire", "--config", Survey(sim.TcpAddress()), "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    QFile f(Tmp.path() + "/out.bin");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    ASSERT_EQ(data.size(), 1029 + 30 * 304);
    for (int k = 0; k < 30; ++k) {
        float rho = 0;
        std::memcpy(&rho, data.constData() + 1029 + k * 304 + 76, 4);
        EXPECT_NEAR(rho, 250.0f, 250.0f * 1e-5f) << "record " << k;
    }
}

TEST_F(TCliFixture, qcNamesTheBadElectrodesFirst)
{
    Survey(QString());
    // Electrodes 14 and 15 inject the second group.
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--bad-electrodes", "14,15", "--coordinates",
                     Tmp.path() + "/coords.txt"});
    const QString ini = Survey(sim.TcpAddress());
    TResult r = Run({"acquire", "--config", ini, "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    QFile f(Tmp.path() + "/out.bin");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    ASSERT_EQ(data.size(), 1029 + 30 * 304);
    auto at = [&](int k, int offset) {
        float v = 0;
        std::memcpy(&v, data.constData() + 1029 + k * 304 + offset, 4);
        return v;
    };
    // The limit: just above the noisiest reading of the good electrodes.
    float maxGood = 0, minBad = 1e9f;
    for (int k = 0; k < 30; ++k)
        (k / 10 == 1 ? minBad : maxGood) = k / 10 == 1 ? std::min(minBad, at(k, 84)) : std::max(maxGood, at(k, 84));
    ASSERT_GT(minBad, maxGood) << "the bad electrodes' readings are the noisier";
    const double limit = (double(maxGood) + minBad) / 2;
    QFile c(ini);
    ASSERT_TRUE(c.open(QIODevice::Append));
    // Q max of the acquisition parameters is the limit the quality control judges by.
    c.write(QStringLiteral("[StartParameters]\r\nCrenEt=%1\r\n").arg(limit, 0, 'g', 9).toLatin1());
    c.close();
    int highQ = 0;
    for (int k = 0; k < 30; ++k)
        highQ += at(k, 84) > limit;
    r = Run({"qc", Tmp.path() + "/out.bin", "--config", ini});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 10) << r.Out.toStdString();
    EXPECT_EQ(lines[0], "records 30");
    EXPECT_EQ(lines[1], QString("flag high_q %1").arg(highQ));
    EXPECT_EQ(highQ, 10);
    // No pair: no spread to state, nor a model.
    EXPECT_TRUE(lines.contains("reciprocals 0")) << r.Out.toStdString();
    EXPECT_FALSE(r.Out.contains("median") || r.Out.contains("errormodel")) << r.Out.toStdString();
    const QStringList worst = lines.filter(QRegularExpression("^electrode "));
    ASSERT_GE(worst.size(), 2);
    EXPECT_EQ(worst[0], "electrode 70 0 0 flagged 10") << r.Out.toStdString();
    EXPECT_EQ(worst[1], "electrode 75 0 0 flagged 10") << r.Out.toStdString();
    EXPECT_TRUE(lines.contains("flag bad_electrode 0"));
    // Read by other programs: the same text in a language with a decimal comma.
    Env["LC_ALL"] = "de_DE.UTF-8";
    EXPECT_EQ(Run({"qc", Tmp.path() + "/out.bin", "--config", ini}).Out, r.Out);
    Env.remove("LC_ALL");
    // The resistance check beside the data file names the bad electrodes: their records are flagged.
    r = Run({"check-resistance", "--config", ini, "--max", "100", "--retries", "0", "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    QFile table(Tmp.path() + "/out_Resistance.csv");
    ASSERT_TRUE(table.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromLatin1(table.readAll()).split("\r\n", Qt::SkipEmptyParts);
    EXPECT_EQ(rows.filter(QRegularExpression(",(high|skipped)$")).size(), 2) << rows.join('\n').toStdString();
    EXPECT_TRUE(rows.filter(QRegularExpression("^14,70,0,0,")).value(0).endsWith("skipped")) << rows.join('\n').toStdString();
    r = Run({"qc", Tmp.path() + "/out.bin", "--config", ini});
    EXPECT_TRUE(r.Out.contains("\nflag bad_electrode 10\n")) << r.Out.toStdString();
    EXPECT_EQ(Run({"qc"}).Status, 2);
    EXPECT_EQ(Run({"qc", Tmp.path() + "/missing.bin"}).Status, 1);
}

TEST_F(TCliFixture, sequenceWithReciprocalsAndTheirErrors)
{
    EXPECT_EQ(Run({"sequence", "--electrodes", "3", "--array", "dd"}).Status, 2);
    EXPECT_EQ(Run({"sequence", "--electrodes", "20", "--array", "pole"}).Status, 2);
    // A dipole-dipole line measured with and without noise, and a pole-dipole line whose
    // remote electrode (node 0) the loader, the simulator and the pairing all take as one.
    const struct {
        QStringList Args;
        const char *Noise;
        int Pairs;
    } runs[] = {
        {{"--array", "dd", "--channels", "5"}, "0", 35},
        {{"--array", "dd", "--channels", "5"}, "1", 35},
        {{"--array", "pole-dipole", "--n-max", "3"}, "0", 54},
    };
    for (const auto &run : runs) {
        const char *noise = run.Noise;
        SCOPED_TRACE(run.Args.join(' ').toStdString() + " noise " + noise);
        const TResult seq = Run(QStringList{"sequence", "--electrodes", "12", "--reciprocals"} + run.Args);
        ASSERT_EQ(seq.Status, 0) << seq.Err.toStdString();
        EXPECT_TRUE(seq.Err.startsWith(QString("%1 quadripoles in ").arg(2 * run.Pairs))) << seq.Err.toStdString();
        const QString ini = Survey(QString());
        QFile q(Tmp.path() + "/quads.txt");
        ASSERT_TRUE(q.open(QIODevice::WriteOnly));
        q.write(seq.Out.toLatin1());
        q.close();
        TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--noise", noise, "--model",
                         "layered:50,8,400", "--coordinates", Tmp.path() + "/coords.txt"});
        Survey(sim.TcpAddress());
        q.open(QIODevice::WriteOnly);
        q.write(seq.Out.toLatin1());
        q.close();
        QFile::remove(Tmp.path() + "/out.bin");
        TResult r = Run({"acquire", "--config", ini, "--yes"});
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        r = Run({"qc", Tmp.path() + "/out.bin"});
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        const QRegularExpressionMatch m =
            QRegularExpression("reciprocals (\\d+) median ([0-9.]+) p95 ([0-9.]+)").match(r.Out);
        ASSERT_TRUE(m.hasMatch()) << r.Out.toStdString();
        EXPECT_EQ(m.captured(1).toInt(), run.Pairs);
        const double median = m.captured(2).toDouble();
        if (QString(noise) == "0")
            EXPECT_LT(median, 0.001) << "reciprocal readings agree";
        else
            EXPECT_TRUE(median > 0.05 && median < 3) << "about the noise: " << median;
        if (QString(noise) == "0")
            continue;
        // The error model: an absolute term never negative, and no exported
        // err below what the reciprocals show, binned by |R| here.
        const QRegularExpressionMatch model = QRegularExpression("\nerrormodel (\\S+) (\\S+)\n").match(r.Out);
        ASSERT_TRUE(model.hasMatch()) << r.Out.toStdString();
        EXPECT_GE(model.captured(1).toDouble(), 0.0) << "absolute term";
        r = Run({"export", Tmp.path() + "/out.bin", "--format", "unified", "-o", "-"});
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        const QStringList lines = r.Out.split('\n');
        const qsizetype header = lines.indexOf(QRegularExpression("^# a b m n .*err"));
        ASSERT_GE(header, 0) << r.Out.toStdString();
        const QStringList tokens = lines[header].mid(2).split(' ');
        struct TRow {
            QStringList Abmn;
            double R, Err;
        };
        std::vector<TRow> rows;
        for (qsizetype i = header + 1; i < lines.size() && lines[i] != "0"; ++i) {
            const QStringList cells = lines[i].section('#', 0, 0).simplified().split(' ');
            rows.push_back({cells.mid(0, 4), std::abs(cells[tokens.indexOf("r")].toDouble()),
                            cells[tokens.indexOf("err")].toDouble()});
        }
        struct TPair {
            double R, Error;
        };
        std::vector<TPair> pairs;
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (std::size_t j = i + 1; j < rows.size(); ++j) {
                const auto set = [](QString a, QString b) { return a.toInt() < b.toInt() ? a + ' ' + b : b + ' ' + a; };
                const QStringList &x = rows[i].Abmn, &y = rows[j].Abmn;
                if (set(x[0], x[1]) == set(y[2], y[3]) && set(x[2], x[3]) == set(y[0], y[1])) {
                    const double mean = (rows[i].R + rows[j].R) / 2;
                    pairs.push_back({mean, std::abs(rows[i].R - rows[j].R) / mean});
                }
            }
        ASSERT_EQ(pairs.size(), std::size_t(run.Pairs));
        std::sort(pairs.begin(), pairs.end(), [](const TPair &a, const TPair &b) { return a.R < b.R; });
        const std::size_t perBin = pairs.size() / 4;
        for (std::size_t b = 0; b < 4; ++b) {
            const std::size_t first = perBin * b, end = b == 3 ? pairs.size() : first + perBin;
            double mean = 0;
            for (std::size_t i = first; i < end; ++i)
                mean += pairs[i].Error / double(end - first);
            for (const TRow &row : rows) {
                if (row.R >= pairs[first].R && row.R <= pairs[end - 1].R) {
                    EXPECT_GE(row.Err, 0.8 * mean) << "|R| " << row.R << " in bin " << b;
                }
            }
        }
    }
}

TEST_F(TCliFixture, firstGenerationInstrumentsWriteVersionTwoRecords)
{
    Survey(QString()); // the simulator measures on the survey's own electrode positions
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--generation", "1", "--coordinates",
                     Tmp.path() + "/coords.txt"});
    TResult r = Run({"identify", "--link", "tcp:" + sim.TcpAddress(), "--yes"});
    EXPECT_TRUE(r.Out.contains("TypeCode: 0x10000001\nGeneration: 1\n")) << r.Out.toStdString();
    const QString ini = Survey(sim.TcpAddress());
    r = Run({"acquire", "--config", ini, "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    QFile f(Tmp.path() + "/out.bin");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    ASSERT_EQ(data.size(), 1029 + 30 * 304);
    const char *record = data.constData() + 1029;
    EXPECT_EQ(record[2], 2) << "record version of the first generation";
    EXPECT_EQ(QByteArray(record + 280, 24), QByteArray(24, '\0')) << "no voltage, batteries, temperature or date";
    float rho = 0;
    std::memcpy(&rho, record + 76, 4);
    EXPECT_NEAR(rho, 100.0f, 5.0f) << "homogeneous 100 Ohm.m ground";
}

// Records without their time stamp, for comparing runs.
QByteArray RecordsWithoutDates(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = f.readAll().mid(1029);
    for (qsizetype r = 0; r + 304 <= data.size(); r += 304)
        data.replace(r + 296, 8, QByteArray(8, '\0'));
    return data;
}

TEST_F(TCliFixture, linkFaultsLeaveTheSameData)
{
    Survey(QString());
    const QStringList base = {"--tcp", "127.0.0.1:0", "--time-scale", "0", "--seed", "7", "--coordinates",
                              Tmp.path() + "/coords.txt"};
    QByteArray reference;
    {
        TSimProcess sim(base);
        const QString ini = Survey(sim.TcpAddress());
        const TResult r = Run({"acquire", "--config", ini, "--yes", "--output", Tmp.path() + "/clean.bin"});
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        reference = RecordsWithoutDates(Tmp.path() + "/clean.bin");
        ASSERT_EQ(reference.size(), 30 * 304);
    }
    for (const char *fault : {"crc-every=3", "ff-replies=2", "noise=0.05"}) {
        SCOPED_TRACE(fault);
        TSimProcess sim(base + QStringList{"--fault", fault});
        const QString ini = Survey(sim.TcpAddress());
        const QString out = Tmp.path() + "/" + QString::fromLatin1(fault).section('=', 0, 0) + ".bin";
        const TResult r = Run({"acquire", "--config", ini, "--yes", "--output", out});
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(RecordsWithoutDates(out), reference);
    }
}

TEST_F(TCliFixture, aDroppedLinkEndsWithThePortErrorAndKeepsTheMeasuredGroups)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "drop-after-groups=2"});
    const QString ini = Survey(sim.TcpAddress());
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("Port err.")) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 20 * 304) << "exactly the two groups measured";
}

TEST_F(TCliFixture, groupsEndedWithoutStAreMeasuredAgain)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "bad-token-every=2"});
    const QString ini = Survey(sim.TcpAddress());
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 30 * 304);
    EXPECT_TRUE(r.Err.contains("11 .. 20 / 30 given up, measured again")) << r.Err.toStdString();
    for (const auto &m : QRegularExpression("(\\d+) \\.\\. (\\d+) / 30").globalMatch(r.Err))
        EXPECT_LE(m.captured(1).toInt(), m.captured(2).toInt()) << "an empty range: " << m.captured(0).toStdString();
}

TEST_F(TCliFixture, spOnlyAppendsToTheExistingFile)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    ASSERT_EQ(Run({"acquire", "--config", ini, "--yes"}).Status, 0);
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("[Parameters]\r\nMeasModeFlag=2\r\n");
    }
    const TResult r = Run({"acquire", "--config", ini, "--yes", "--overwrite"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 60 * 304) << "no new header, the records follow the first run's";
}

TEST_F(TCliFixture, aBatteryAlarmEndsTheRunWithStatusFour)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--battery", "9.2,12.5"});
    const QString ini = Survey(sim.TcpAddress());
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 4) << r.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/out.bin")) << "no data file before the pre-run checks pass";
    QFile log(Tmp.path() + "/out_Log.txt");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Batteries TX : 9.2"));
}

TEST_F(TCliFixture, sigtermStopsAfterTheGroupInProgress)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "slow-ms=400"});
    const QString ini = Survey(sim.TcpAddress());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARNELPRO_DATA_DIR"), Tmp.path() + "/data");
    p.setProcessEnvironment(env);
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(TARNELPRO_CLI_PATH), {"acquire", "--config", ini, "--yes"});
    ASSERT_TRUE(p.waitForStarted());
    // Wait for the first group, then ask to stop.
    QByteArray err;
    while (!err.contains("1 .. 10 / 30") && p.waitForReadyRead(60000))
        err += p.readAllStandardError();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0) << (err + p.readAllStandardError()).toStdString();
    const qint64 size = Size(Tmp.path() + "/out.bin");
    EXPECT_GE(size, 1029 + 10 * 304);
    EXPECT_LT(size, 1029 + 30 * 304);
    QFile log(Tmp.path() + "/out_Log.txt");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_TRUE(text.contains("Stopped by user"));
    EXPECT_TRUE(text.contains("Standard acquisition Ended"));
}

TEST_F(TCliFixture, checkResistancePrintsEachPairAndSkipsAHighOne)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--bad-electrodes", "5"});
    const QString ini = Survey(sim.TcpAddress());
    const TResult r = Run({"check-resistance", "--config", ini, "--nodes", "3,5", "--max", "20", "--retries", "2", "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << r.Out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("3,5,")) << lines[0].toStdString();
    EXPECT_GT(lines[0].section(',', 2).toDouble(), 20.0);

    const TResult all = Run({"check-resistance", "--config", ini, "--max", "1000", "--yes"});
    EXPECT_EQ(all.Status, 0) << all.Err.toStdString();
    EXPECT_EQ(all.Out.count('\n'), 38) << "39 used nodes, 38 consecutive pairs";
}

namespace {
QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void Put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
// A file from another computer: Windows-1252 text, a decimal comma, quotes,
// duplicates, keys the program does not know and a closing comment.
const QByteArray Foreign = "; written elsewhere\r\n[startparameters]\r\nCrenEt=1,5\r\nCrenMin=6\r\ncrenmin=2\r\n"
                           "Vendor=keep\r\n[Comment]\r\nCommentMemo=\"Profil \xE9t\xE9\"\r\n"
                           "[Communication]\r\nPort=100\r\nModemConfig=ATZ\r\n; last line";
} // namespace

TEST_F(TCliFixture, configPrintShowsTheEffectiveConfigurationInSaveOrder)
{
    TResult r = Run({"config", Tmp.path() + "/missing.ini", "--print"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("No such file or directory")) << r.Err.toStdString();
    EXPECT_TRUE(r.Out.isEmpty());
    EXPECT_EQ(Run({"config", "--print"}).Status, 2);

    const QString ini = Tmp.path() + "/foreign.ini";
    Put(ini, Foreign);
    Env["LC_ALL"] = "de_DE.UTF-8";
    r = Run({"config", ini, "--print"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QString &out = r.Out;
    const QStringList sections = [&] {
        QStringList found;
        for (const QString &line : out.split('\n'))
            if (line.startsWith('['))
                found << line;
        return found;
    }();
    EXPECT_EQ(sections, QStringList({"[Parameters]", "[Comment]", "[Name]", "[Communication]", "[SpeedStartParameters]",
                                     "[StartParameters]", "[Quality]"}));
    EXPECT_TRUE(out.contains("[Quality]\nMinCurrent=1\nMinVoltage=0.01\nMaxReciprocalError=5\n")) << "the defaults";
    EXPECT_TRUE(out.contains(QString::fromUtf8("CommentMemo=Profil été\n"))) << out.toStdString();
    EXPECT_TRUE(out.contains("CrenMin=6\nCrenMax=16\nCrenEt=1.5\n"));
    EXPECT_TRUE(out.contains("Port=100\nSpeed=19200\n"));
    EXPECT_TRUE(out.contains("AcquisitionFile=" + Tmp.path() + "/data/Tarnel.bin\n")) << "the start-up default";
    EXPECT_FALSE(out.contains("Vendor")) << "only the program's keys";
}

TEST_F(TCliFixture, configSaveOntoItselfKeepsWhatTheProgramDoesNotKnow)
{
    const QString ini = Tmp.path() + "/foreign.ini";
    Put(ini, Foreign);
    Env["LC_ALL"] = "ar_EG.UTF-8";
    TResult r = Run({"config", ini, "--save", ini});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QByteArray saved = Bytes(ini);
    EXPECT_TRUE(saved.startsWith("; written elsewhere\r\n[startparameters]\r\nCrenEt=1.5\r\nCrenMin=6\r\ncrenmin=2\r\n"
                                 "Vendor=keep\r\n"))
        << saved.toStdString();
    EXPECT_TRUE(saved.contains("CommentMemo=Profil \xE9t\xE9\r\n"));
    EXPECT_TRUE(saved.contains("ModemConfig=ATZ\r\n"));
    EXPECT_TRUE(saved.contains("; last line\r\n"));

    // Saving again changes nothing, and another file gets the same content.
    ASSERT_EQ(Run({"config", ini, "--save", ini}).Status, 0);
    EXPECT_EQ(Bytes(ini), saved);
    ASSERT_EQ(Run({"config", ini, "--save", Tmp.path() + "/copy.ini"}).Status, 0);
    EXPECT_EQ(Bytes(Tmp.path() + "/copy.ini"), saved);

    r = Run({"config", ini, "--save", Tmp.path() + "/no/such/folder/x.ini"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_FALSE(r.Err.isEmpty());
}

TEST_F(TCliFixture, identifyTakesTheLinkFromTheConfiguration)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Tmp.path() + "/link.ini";
    Put(ini, "[Communication]\r\nPort=100\r\nIPAddress=" + sim.TcpAddress().toLatin1() + "\r\n");
    const QByteArray before = Bytes(ini);
    TResult r = Run({"identify", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Out.contains("TypeCode: 0x10000002\n")) << r.Out.toStdString();
    EXPECT_EQ(Bytes(ini), before);

    r = Run({"identify", "--config", Tmp.path() + "/missing.ini", "--yes"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("No such file or directory")) << r.Err.toStdString();
}

TEST_F(TCliFixture, acquireRewritesTheConfigurationOnlyWithSaveConfig)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    const QByteArray before = Bytes(ini);
    const QString output = QString::fromUtf8("/\xC5\x82\xC3\xB3\x64\xC5\xBA/x.bin"); // łódź
    ASSERT_TRUE(QDir().mkpath(QFileInfo(Tmp.path() + output).path()));
    TResult r = Run({"acquire", "--config", ini, "--yes", "--output", Tmp.path() + output});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Bytes(ini), before) << "the user's file is not touched";
    const QString log = QString::fromUtf8(Bytes(Tmp.path() + QString::fromUtf8("/\xC5\x82\xC3\xB3\x64\xC5\xBA/x_Log.txt")));
    EXPECT_TRUE(log.contains("Command line overrides: AcquisitionFile=" + Tmp.path() + output +
                             " (for this run only; the configuration file is unchanged)"))
        << log.toStdString();

    r = Run({"acquire", "--config", ini, "--yes", "--overwrite", "--save-config", "--output", Tmp.path() + output});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QByteArray saved = Bytes(ini);
    EXPECT_TRUE(saved.contains(("AcquisitionFile=" + Tmp.path() + output + "\r\n").toUtf8())) << saved.toStdString();
    EXPECT_TRUE(saved.startsWith(before.left(before.indexOf("[Parameters]")))) << "the lines before stay as they were";
}

namespace {
// Checks the data file record by record: each record is a whole channel of
// its group, at the quadripole it belongs to, with a measured Rho.
void ExpectWholeGroupsInSequence(const QString &path, int records)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    ASSERT_EQ(data.size(), 1029 + records * 304);
    for (int i = 0; i < records; ++i) {
        const char *r = data.constData() + 1029 + i * 304;
        const int g = i / 10, k = i % 10;
        EXPECT_EQ(std::uint8_t(r[248]), 0xA0 + k) << "record " << i;
        float xm = 0, rho = 0;
        std::memcpy(&xm, r + 16 + 8, 4);
        std::memcpy(&rho, r + 76, 4);
        EXPECT_EQ(xm, 5.0f * float(13 * g + 3 + k)) << "record " << i << " belongs to quadripole " << i + 1;
        EXPECT_TRUE(rho > 1.0f && rho < 10000.0f) << "record " << i << ": Rho " << rho;
    }
}
} // namespace

TEST_F(TCliFixture, aGroupNotReceivedWholeIsMeasuredAgainAndNeverStored)
{
    const struct {
        QStringList faults;
        bool pty;
        int status;
        int records;
    } cases[] = {
        {{"count-inflate-at-group=2"}, false, 0, 30},
        {{"short-block-at-group=2"}, true, 0, 30},
        {{"short-block-at-group=1"}, false, 0, 30},
        // The PC gives up the block; the group is measured again on the same link.
        {{"crc-forever-at-group=2"}, false, 0, 30},
        // The second measurement of the same group fails too: the run ends there.
        {{"count-inflate-at-group=2", "short-block-at-group=3"}, true, 1, 10},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.faults.join(' ').toStdString() + (c.pty ? " over a pty" : " over TCP"));
        QStringList args = {"--time-scale", "0", "--coordinates", Tmp.path() + "/coords.txt"};
        args += c.pty ? QStringList{"--pty", Tmp.path() + "/tty"} : QStringList{"--tcp", "127.0.0.1:0"};
        for (const QString &f : c.faults)
            args += {"--fault", f};
        Survey(QString());
        TSimProcess sim(args);
        ASSERT_FALSE(sim.Where().isEmpty());
        const QString link = c.pty ? "serial:" + Tmp.path() + "/tty" : "tcp:" + sim.TcpAddress();
        const QString ini = Survey(sim.TcpAddress());
        const TResult r = Run({"acquire", "--config", ini, "--yes", "--overwrite", "--link", link});
        EXPECT_EQ(r.Status, c.status) << r.Err.toStdString();
        ExpectWholeGroupsInSequence(Tmp.path() + "/out.bin", c.records);
        QFile log(Tmp.path() + "/out_Log.txt");
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        EXPECT_TRUE(text.contains("not received whole")) << text.toStdString();
        if (c.status != 0) {
            EXPECT_TRUE(r.Err.contains("not received whole twice")) << r.Err.toStdString();
            EXPECT_TRUE(text.contains("acquisition ended at quadripoles 11 .. 20 / 30")) << text.toStdString();
        }
    }
}

namespace {
// A script file of the given lines (CR LF, as the window writes it).
QString WriteScript(const QString &path, const QStringList &lines)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    for (const QString &l : lines)
        f.write(l.toUtf8() + "\r\n");
    return path;
}

QString Start(int n, const QString &ini) { return QStringLiteral("%1 : Start configuration %2 -<X: 2 @ %2 >-").arg(n).arg(ini); }
} // namespace

TEST_F(TCliFixture, scriptRunsTwoConfigurationsTwiceIntoNumberedFiles)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString a = Survey(sim.TcpAddress());
    // B: the same survey into another file, with a duplicate copy.
    const QString b = Tmp.path() + "/b.ini";
    {
        QFile in(a), out(b);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        QByteArray text = in.readAll();
        text.replace("out.bin", "b.bin");
        text += QStringLiteral("[Parameters]\r\nDuplicateAcquisitionFile=%1/copy/b.bin\r\nDuplicateAcquisition=1\r\n").arg(Tmp.path()).toUtf8();
        out.write(text);
    }
    QDir().mkpath(Tmp.path() + "/copy");
    QFile::copy(a, Tmp.path() + "/keep.ini");
    { QFile old(Tmp.path() + "/out.bin"); ASSERT_TRUE(old.open(QIODevice::WriteOnly)); old.write("earlier run"); }
    const QString script = WriteScript(Tmp.path() + "/s.scp", {"field test: two configurations, twice", Start(2, a),
                                                                Start(3, b), "4 : Restart from event -<X: 3 @ 2:2 >-",
                                                                "5 : unknown -<X: 7 @ x >-"});
    const TResult r = Run({"script", script, "--yes"});
    // The unknown event is the one that failed.
    EXPECT_EQ(r.Status, 1) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("1 script event(s) failed")) << r.Err.toStdString();

    const qint64 full = 1029 + 30 * 304;
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 11) << "the earlier file is kept";
    EXPECT_EQ(Size(Tmp.path() + "/out1.bin"), full);
    EXPECT_EQ(Size(Tmp.path() + "/out2.bin"), full);
    EXPECT_EQ(Size(Tmp.path() + "/b.bin"), full);
    EXPECT_EQ(Size(Tmp.path() + "/b1.bin"), full);
    EXPECT_EQ(Size(Tmp.path() + "/copy/b.bin"), full);
    EXPECT_EQ(Size(Tmp.path() + "/copy/b1.bin"), full);
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/b2.bin"));

    // Each data file's log holds that file's events from its script line on,
    // not what the session logged before.
    const auto logOf = [&](const QString &name) {
        QFile log(Tmp.path() + "/" + name + "_Log.txt");
        EXPECT_TRUE(log.open(QIODevice::ReadOnly)) << name.toStdString();
        return QString::fromUtf8(log.readAll());
    };
    const struct {
        const char *Name;
        const char *Event;
    } files[] = {{"out1", "> 2 : Start configuration"}, {"b", "> 3 : Start configuration"},
                 {"out2", "> 2 : Start configuration"}, {"b1", "> 3 : Start configuration"}};
    for (const auto &f : files) {
        SCOPED_TRACE(f.Name);
        const QString text = logOf(f.Name);
        const QStringList lines = text.split("\r\n");
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines[0].startsWith("==== Tarnel Pro 2 V")) << text.toStdString();
        EXPECT_TRUE(lines[1].contains(f.Event)) << text.toStdString();
        EXPECT_EQ(text.count("Aquisition filename "), 1) << text.toStdString();
        EXPECT_TRUE(text.contains("Aquisition filename " + Tmp.path() + "/" + f.Name + ".bin\r\n"));
        EXPECT_EQ(text.count("Standard acquisition Ended"), 1);
        EXPECT_FALSE(text.contains("Script start at"));
    }
    const QString last = logOf("b1");
    EXPECT_TRUE(last.contains("\r\nprevious command not recognized\r\n"));
    EXPECT_TRUE(last.contains("============= Script ended at ")) << last.toStdString();
    // stdout carries the same lines as they are added.
    EXPECT_TRUE(r.Out.contains("previous command not recognized"));
    EXPECT_TRUE(r.Out.contains("> 3 : Start configuration"));
}

TEST_F(TCliFixture, scriptListAndPlanFollowTheRunnerRules)
{
    const double eight = 46366.0 + 8.0 / 24.0; // 2026-12-10 08:00
    const QString script = WriteScript(
        Tmp.path() + "/s.scp",
        {QStringLiteral("1 : Wake up -<X: 0 @ %1 >-").arg(eight, 0, 'g', 15), Start(2, "/x/A.ini"),
         "3 : latency -<X: 1 @ 0,0833333333333333 >-", Start(4, "/x/B.ini"), "5 : latency -<X: 1 @ 0.0833333333333333 >-",
         "6 : Restart from event -<X: 3 @ 2:3 >-", "7 : no argument -<X: 2 @ >-", "memo: done", "9 : back -<X: 3 @ 0 >-"});
    TResult r = Run({"script", script, "--list"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.split('\n', Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("1 event 0 %1").arg(eight, 0, 'g', 15), "2 event 2 /x/A.ini", "3 event 1 0,0833333333333333",
                           "4 event 2 /x/B.ini", "5 event 1 0.0833333333333333", "6 event 3 2:3", "7 event 2",
                           "8 memo memo: done", "9 event 3 0"}));

    r = Run({"script", script, "--plan", "--from", "2026-12-10 07:00:00", "--duration", "30"});
    EXPECT_EQ(r.Status, 0);
    QStringList starts;
    for (const QString &l : r.Out.split('\n', Qt::SkipEmptyParts))
        if (l.contains(" 2 /x/"))
            starts << l.left(19) + " " + l.right(5);
    EXPECT_EQ(starts, (QStringList{"2026-12-10 08:00:00 A.ini", "2026-12-10 10:00:00 B.ini", "2026-12-10 12:00:00 A.ini",
                                   "2026-12-10 14:00:00 B.ini", "2026-12-10 16:00:00 A.ini", "2026-12-10 18:00:00 B.ini"}));
    EXPECT_TRUE(r.Out.endsWith("2026-12-10 20:00:00 9 3 0\n2026-12-10 20:00:00 9 error Goto Error\n"
                               "2026-12-10 20:00:00 end\n"))
        << r.Out.toStdString();

    // A wake-up in the past does not wait; the limit stops before the next event.
    r = Run({"script", script, "--plan", "--from", "2026-12-10 09:00:00", "--limit", "2"});
    EXPECT_EQ(r.Out, QStringLiteral("2026-12-10 09:00:00 1 0 %1\n2026-12-10 09:00:00 2 2 /x/A.ini\n"
                                    "2026-12-10 09:00:00 limit\n").arg(eight, 0, 'g', 15));
    EXPECT_EQ(Run({"script", Tmp.path() + "/missing.scp", "--plan"}).Status, 1);
    EXPECT_EQ(Run({"script", script, "--plan", "--from", "tomorrow"}).Status, 2);
}

TEST_F(TCliFixture, sigtermEndsAScriptDuringItsWaitAtOnce)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString a = Survey(sim.TcpAddress());
    const QString script = WriteScript(Tmp.path() + "/s.scp", {Start(1, a), "2 : a day -<X: 1 @ 1 >-", Start(3, a)});
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARNELPRO_DATA_DIR"), Tmp.path() + "/data");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TARNELPRO_CLI_PATH), {"script", script, "--yes"});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray out;
    while (!out.contains("> 2 : a day") && p.waitForReadyRead(60000))
        out += p.readAllStandardOutput();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    out += p.readAllStandardOutput();
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("Stopped by user"));
    EXPECT_TRUE(out.contains("============= Script ended at "));
    EXPECT_FALSE(out.contains("> 3 : Start configuration"));
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/out1.bin"));
}
