// tarnelpro-cli survey, run as a crew would run it, on the survey fixtures.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

namespace {

const QString Data = QStringLiteral(TARNEL_TEST_DATA "/survey/");

struct Result {
    int Status = -1;
    QString Out, Err;
};

Result RunSurvey(const QStringList &args, const QString &lcAll = QStringLiteral("C.UTF-8"))
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", lcAll);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(Data);
    process.start(QStringLiteral(TARNEL_CLI), QStringList{"survey"} + args);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

const char *const WennerTable = "QuadCount=5 NodeCount=6\n"
                                "index,A,B,M,N,Level,K,MidX,MidY,Depth\n"
                                "0,1,4,2,3,1,62.8319,15,0,5.7\n"
                                "1,1,2,3,4,-1,-188.496,15,0,5.7\n"
                                "2,1,2,4,5,0,-753.982,20,0,7.6\n"
                                "3,1,2,5,6,0,-1884.96,25,0,9.5\n"
                                "4,1,0,2,3,0,125.664,7.5,0,1.9\n";

TEST(SurveyCommand, printsTheTableOfACombinedFile)
{
    const Result r = RunSurvey({"--quadripoles", "wenner.txt", "--coordinates", "wenner.txt"});
    EXPECT_EQ(r.Status, 0) << qPrintable(r.Err);
    EXPECT_EQ(r.Out, WennerTable);
}

TEST(SurveyCommand, printsTheGroupsOfTheAcquisitionWalk)
{
    const struct {
        const char *Most;
        const char *Out;
    } cases[] = {
        {"10", "QuadCount=5 NodeCount=0\n"
               "0,1,1,4,2,3,0,0,0,0,0,0,0,0,0\n"
               "1,3,1,2,3,4,5,6,0,0,0,0,0,0,0\n"
               "4,1,1,0,2,3,0,0,0,0,0,0,0,0,0\n"},
        {"2", "QuadCount=5 NodeCount=0\n"
              "0,1,1,4,2,3,0,0,0,0,0,0,0,0,0\n"
              "1,2,1,2,3,4,5,0,0,0,0,0,0,0,0\n"
              "3,1,1,2,5,6,0,0,0,0,0,0,0,0,0\n"
              "4,1,1,0,2,3,0,0,0,0,0,0,0,0,0\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Most);
        const Result r = RunSurvey({"--groups", c.Most, "--quadripoles", "wenner.txt"});
        EXPECT_EQ(r.Status, 0) << qPrintable(r.Err);
        EXPECT_EQ(r.Out, c.Out);
    }
}

TEST(SurveyCommand, loaderErrorsPrintWhatWasReadAndFail)
{
    const struct {
        QStringList Args;
        const char *Message;
        const char *FirstLine;
        int Lines;
    } cases[] = {
        {{"--quadripoles", "wenner.txt", "--coordinates", "bad-coordinates.txt"}, "Coordinate file error",
         "QuadCount=5 NodeCount=2", 7},
        {{"--quadripoles", "bad-header.txt"}, "Quadripole file error", "QuadCount=0 NodeCount=0", 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Message);
        const Result r = RunSurvey(c.Args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains(c.Message)) << qPrintable(r.Err);
        EXPECT_TRUE(r.Out.startsWith(QString(c.FirstLine) + "\n")) << qPrintable(r.Out);
        EXPECT_EQ(r.Out.count('\n'), c.Lines);
    }
}

TEST(SurveyCommand, linesLeftOutAreNamedAndSurveysThatCannotServeFail)
{
    QTemporaryDir tmp;
    const auto write = [&](const char *name, const QByteArray &text) {
        QFile f(tmp.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return tmp.filePath(name);
    };
    const QString nodes = write("nodes.txt", "# X Y Z\n1 0 0 0\n2 5 0 0\n3 10 0 0\n4 15 0 0\n");
    const struct {
        QByteArray Quadripoles;
        int Status;
        QStringList Says;
    } cases[] = {
        // Left out by design, but said: negative, huge, torn.
        {"# A B M N\n1 1 4 2 3\n2 1 -4 2 3\n3 1 4 2 99999\n4 1 4", 0,
         {"quads.txt: 2 lines ignored: 3, 4 — electrode number out of range",
          "quads.txt: 1 line ignored: 5 — too few fields for a quadripole"}},
        {"# A B M N\n1 1 4 2 5\n", 1,
         {"Coordinate file error: " + nodes + ": electrode 5 is used by the quadripoles but not in the coordinate file"}},
        {"# A B M N\n1 1 4 2 2\n", 1, {"Quadripole file error: ", "line 2: quadripole 1 4 2 2: M and N are the same electrode"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Quadripoles.toStdString());
        const QString quads = write("quads.txt", c.Quadripoles);
        const Result r = RunSurvey({"--quadripoles", quads, "--coordinates", nodes});
        EXPECT_EQ(r.Status, c.Status) << qPrintable(r.Err);
        for (const QString &says : c.Says)
            EXPECT_TRUE(r.Err.contains(says)) << qPrintable(r.Err);
    }
}

TEST(SurveyCommand, readsDecimalCommasWhateverTheLocale)
{
    // "10,5" in a blank-separated line is a real on every machine; output stays with '.'.
    const QStringList args{"--quadripoles", "wenner.txt", "--coordinates", "comma-coordinates.txt"};
    for (const char *locale : {"de_DE.UTF-8", "C.UTF-8"}) {
        const Result r = RunSurvey(args, locale);
        EXPECT_EQ(r.Status, 0) << locale << qPrintable(r.Err);
        EXPECT_TRUE(r.Out.contains("\n0,1,4,2,3,1,65.9734,15.75,0,5.985\n")) << qPrintable(r.Out);
    }
}

TEST(SurveyCommand, missingFileNamesIt)
{
    for (const QStringList &args : {QStringList{"--quadripoles", "absent-q.txt"},
                                    QStringList{"--quadripoles", "wenner.txt", "--coordinates", "absent-q.txt"}}) {
        const Result r = RunSurvey(args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains("absent-q.txt")) << qPrintable(r.Err);
        EXPECT_TRUE(r.Out.isEmpty());
    }
}

TEST(SurveyCommand, usageErrors)
{
    const QStringList cases[] = {
        {},
        {"--coordinates", "wenner.txt"},
        {"--quadripoles"},
        {"--quadripoles", "wenner.txt", "--groups", "0"},
        {"--quadripoles", "wenner.txt", "--groups", "11"},
        {"--quadripoles", "wenner.txt", "--groups", "x"},
        {"--quadripoles", "wenner.txt", "--quadripoles", "wenner.txt"},
        {"--quadripoles", "wenner.txt", "--verbose"},
    };
    for (const QStringList &args : cases) {
        SCOPED_TRACE(qPrintable(args.join(' ')));
        const Result r = RunSurvey(args);
        EXPECT_EQ(r.Status, 2);
        EXPECT_TRUE(r.Err.contains("usage:")) << qPrintable(r.Err);
        EXPECT_TRUE(r.Out.isEmpty());
    }
}

} // namespace
