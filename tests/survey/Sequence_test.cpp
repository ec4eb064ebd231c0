// Node and quadripole tables: the two loaders, grouping and node walks.
#include "survey/Sequence.h"


#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

static bool operator==(const Quadripole &a, const Quadripole &b)
{
    return std::tie(a.A, a.B, a.M, a.N, a.Level) == std::tie(b.A, b.B, b.M, b.N, b.Level);
}

static void PrintTo(const Quadripole &q, std::ostream *os)
{
    *os << "(" << q.A << "," << q.B << "," << q.M << "," << q.N << " L" << q.Level << ")";
}

namespace {

const Quadripole Unused{-1, -1, -1, -1, -1};

class SurveyFiles : public ::testing::Test {
protected:
    QString Write(const QByteArray &text, const QString &name = QStringLiteral("survey.txt"))
    {
        const QString path = Dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    }

    std::vector<Quadripole> Held() const
    {
        return {Seq->Quads.begin(), Seq->Quads.begin() + Seq->QuadCount};
    }

    QTemporaryDir Dir;
    std::unique_ptr<TSequence> Seq = std::make_unique<TSequence>();
};

struct QuadCase {
    const char *Name;
    QByteArray Text;
    std::vector<Quadripole> Expected;
    const char *Error;         // part of the refusal, nullptr when the file loads
    QStringList Ignored = {};  // the lines left out, as the log names them
};

TEST_F(SurveyFiles, QuadripoleFile_cases)
{
    const QuadCase cases[] = {
        {"header search skips text and a coordinate header",
         "survey line 3\n# Num X Y Z\n1 0 0 0\n# Num A B M N\n1,1,4,2,3\n2 2 5 3 4\n3, 1, 2, x, 4\n",
         {{1, 4, 2, 3, 0}, {2, 5, 3, 4, 0}}, nullptr, {"1 line ignored: 7 — not an electrode number"}},
        {"other # line before the header", "# sequence\n# A B M N\n1 1 4 2 3\n", {}, "line 1: "},
        {"level header before the column header", "# Level\n# A B M N\n1 1 4 2 3\n", {}, "line 1: "},
        {"no header at all", "1 1 4 2 3\n2 2 5 3 4\n", {}, "no column header"},
        {"header without lines after it", "text\n# A B M N\n", {}, "no quadripole after"},
        {"empty file", "", {}, "no column header"},
        {"header matching is case-sensitive", "# a b m n\n1 1 4 2 3\n", {}, "line 1: "},
        {"K column is ignored and needs its own field",
         "# A B M N K\n1 1 4 2 3 12.57\n2 1 4 2 3\n3 1 4 2 3 5 -6.2\n",
         {{1, 4, 2, 3, 0}, {1, 4, 2, 3, 0}, {1, 4, 3, 5, 0}}, nullptr,
         {"1 line ignored: 3 — too few fields for a quadripole"}},
        {"a trailing comma fills the K column", "# A B M N K\n1,1,4,2,3,\n", {{1, 4, 2, 3, 0}}, nullptr},
        {"a K written with a decimal comma is one field", "# A B M N K\n1 1 4 2 3 12,57\n2\t1\t4\t3\t5\t-6,2\n",
         {{1, 4, 2, 3, 0}, {1, 4, 3, 5, 0}}, nullptr},
        {"chained dipoles", "# A B M N\n1 1 4 2 3 5 6 7\n",
         {{1, 4, 2, 3, 0}, {1, 4, 3, 5, 0}, {1, 4, 5, 6, 0}, {1, 4, 6, 7, 0}}, nullptr},
        {"remote electrode, pole-dipole and pole-pole", "# A B M N\n1 1 R 2 3\n2 Inf 4 5 6\n3 1 2 3 I\n4 1 R 2 R\n",
         {{1, 0, 2, 3, 0}, {0, 4, 5, 6, 0}, {1, 2, 3, 0, 0}, {1, 0, 2, 0, 0}}, nullptr},
        {"bad electrode fields drop their line only, each named",
         "# A B M N\n1 1 2 3 2002\n2 1 2 3 -1\n3 1 2 3 1.5\n4 1,,2,3\n5 1 2 3 4x\n"
         "6 0 2001 3 4\n7 1 2 3\n8 1 2 3 99999999999\n9,1,2,3,4,\n\n# a comment 1 2 3 x\n",
         {{0, 2001, 3, 4, 0}}, nullptr,
         {"3 lines ignored: 2, 3, 9 — electrode number out of range",
          "3 lines ignored: 4, 6, 10 — not an electrode number", "2 lines ignored: 5, 8 — too few fields for a quadripole"}},
        {"a torn last line", "# A B M N\n1 1 2 3 4\n2 1 2 4", {{1, 2, 3, 4, 0}}, nullptr,
         {"1 line ignored: 3 — too few fields for a quadripole"}},
        {"quotes, tabs, CR LF and 8-bit text",
         "Ligne cr\xEAte \x97 nord\r\n\"#\"\t\"A\",B,M,N\r\n\"1\",\"1\",\"4\",\"2\",\"3\"\r\n2\t1\t4\t3\t5\r\n",
         {{1, 4, 2, 3, 0}, {1, 4, 3, 5, 0}}, nullptr},
        {"level section by position",
         "# A B M N\n1 1 2 3 4\n2 1 2 4 5\n3 1 2 5 6\n# Level\n1 -1\n2 5 6\n3 12\n4 7\n",
         {{1, 2, 3, 4, -1}, {1, 2, 4, 5, 0}, {1, 2, 5, 6, 12}}, nullptr},
        // A quadripole whose electrodes coincide measures nothing sensible:
        // the file is refused with its line.
        {"A = B", "# A B M N\n1 1 2 3 4\n2 3 3 4 5\n", {}, "line 3: quadripole 3 3 4 5: A and B are the same electrode"},
        {"M = N", "# A B M N\n1 1 2 4 4\n", {}, "line 2: quadripole 1 2 4 4: M and N are the same electrode"},
        {"both remote as A and B", "# A B M N\n1 R I 4 5\n", {}, "A and B are the same electrode"},
        {"both remote as M and N", "# A B M N\n1 1 2 R R\n", {}, "M and N are the same electrode"},
        {"an electrode in both dipoles", "# A B M N\n1 1 2 3 4\n2 1 2 3 5 2\n", {},
         "line 3: quadripole 1 2 5 2: electrode 2 is used twice"},
    };
    for (const QuadCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const TLoadReport report = Seq->ReadQuadripoleFile(Write(c.Text));
        EXPECT_EQ(report.Count, int(c.Expected.size()));
        EXPECT_EQ(Seq->QuadCount, report.Count);
        EXPECT_EQ(Held(), c.Expected);
        EXPECT_EQ(Seq->Quads[std::size_t(report.Count)], Unused);
        EXPECT_TRUE(report.Found);
        EXPECT_EQ(report.Failed, c.Error != nullptr);
        if (c.Error) {
            EXPECT_TRUE(report.Error.contains(QString::fromUtf8(c.Error))) << report.Error.toStdString();
        }
        EXPECT_EQ(report.Ignored, c.Ignored);
    }
}

TEST_F(SurveyFiles, QuadripoleFile_beyondTheTableIsRefusedNotCut)
{
    QByteArray full = "# A B M N\n";
    for (int i = 0; i < 15998; ++i)
        full += QByteArray::number(i) + " 1 2 3 " + QByteArray::number(4 + i % 1000) + "\n";
    TLoadReport report = Seq->ReadQuadripoleFile(Write(full));
    EXPECT_FALSE(report.Failed);
    EXPECT_EQ(Seq->QuadCount, 15998);
    EXPECT_EQ(Seq->Quads[15997], (Quadripole{1, 2, 3, 4 + 15997 % 1000, 0}));
    EXPECT_EQ(Seq->Quads[15998], Unused);

    // One line more, or a chained line that crosses the limit.
    for (const QByteArray &more : {QByteArray("x 7 8 9 10\n"), QByteArray("1 5 6 7 8 9 10 11\n")}) {
        report = Seq->ReadQuadripoleFile(Write(full + more));
        EXPECT_TRUE(report.Failed);
        EXPECT_TRUE(report.Error.contains("more than the 15998")) << report.Error.toStdString();
        EXPECT_EQ(Seq->QuadCount, 0);
        EXPECT_EQ(Seq->Quads[0], Unused) << "nothing of a refused file is kept";
        EXPECT_EQ(Seq->Quads[15998], Unused);
    }

    // One injection with a hundred potential electrodes.
    QByteArray text = "# A B M N\n0 1 2";
    for (int p = 3; p <= 102; ++p)
        text += " " + QByteArray::number(p);
    EXPECT_EQ(Seq->ReadQuadripoleFile(Write(text)).Count, 99);
    EXPECT_EQ(Seq->Quads[98], (Quadripole{1, 2, 101, 102, 0}));
}

TEST_F(SurveyFiles, Utf16FilesLoadLikeTheirUtf8Twins)
{
    // What a Windows shell redirection writes: UTF-16 with a byte order mark.
    const QString text = QString::fromUtf8("Profil Süd\r\n# Nr A B M N\r\n1 1 4 2 3\r\n2 1 4 3 5 6\r\n"
                                           "# Nr X Y Z\r\n1 0 0 0\r\n2 10 0 0\r\n3 20 0 0\r\n4 30 0 0\r\n5 40 0 0\r\n6 50,5 0 0\r\n");
    TSequence utf8;
    ASSERT_EQ(utf8.ReadQuadripoleText(text.toUtf8()).Count, 3);
    ASSERT_EQ(utf8.ReadCoordinateText(text.toUtf8()).Count, 6);
    for (const QStringConverter::Encoding encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        QStringEncoder encode(encoding, QStringConverter::Flag::WriteBom);
        const QString path = Write(encode.encode(text));
        const TLoadReport quads = Seq->ReadQuadripoleFile(path);
        const TLoadReport nodes = Seq->ReadCoordinateFile(path);
        EXPECT_FALSE(quads.Failed || nodes.Failed) << quads.Error.toStdString() << nodes.Error.toStdString();
        EXPECT_TRUE(quads.Ignored.isEmpty() && nodes.Ignored.isEmpty());
        EXPECT_EQ(Held(), (std::vector<Quadripole>{utf8.Quads.begin(), utf8.Quads.begin() + 3}));
        EXPECT_EQ(0, std::memcmp(Seq->Nodes.data(), utf8.Nodes.data(), sizeof(utf8.Nodes)));
    }
}

TEST_F(SurveyFiles, MissingFiles_areSilent)
{
    Seq->ReadQuadripoleFile(Write("# A B M N\n1 1 4 2 3\n"));
    Seq->ReadCoordinateFile(Write("# X Y Z\n0 1 1 1\n4 5 6 7\n"));
    const QString missing = Dir.filePath("missing.txt");
    TLoadReport report{true, true, 9, {}, {}};

    EXPECT_EQ((report = Seq->ReadQuadripoleFile(missing)).Count, 0);
    EXPECT_EQ(Seq->QuadCount, 0);
    EXPECT_EQ(Seq->Quads[0], (Quadripole{1, 4, 2, 3, 0})) << "a missing file leaves the table";
    EXPECT_FALSE(report.Found);

    EXPECT_EQ((report = Seq->ReadCoordinateFile(missing)).Count, 0);
    EXPECT_EQ(Seq->NodeCount, 0);
    EXPECT_EQ(Seq->Nodes[0].X, 99999.0f);
    EXPECT_EQ(Seq->Nodes[4].X, 0.0f) << "a missing file still resets the nodes";
    EXPECT_FALSE(report.Found);
    EXPECT_FALSE(report.Failed);
}

TEST_F(SurveyFiles, UnreadableFiles_reportTheFileError)
{
    // A folder, a device that never ends, a FIFO without writer (a plain
    // open would wait for ever): none is read.
    const QString fifo = Dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QStringList unreadable{Dir.path(), fifo};
    if (QFile::exists("/dev/zero"))
        unreadable << "/dev/zero";
    for (const QString &path : unreadable) {
        SCOPED_TRACE(qPrintable(path));
        TLoadReport quads, nodes;
        EXPECT_EQ((quads = Seq->ReadQuadripoleFile(path)).Count, 0);
        EXPECT_EQ((nodes = Seq->ReadCoordinateFile(path)).Count, 0);
        EXPECT_TRUE(quads.Found && quads.Failed && nodes.Found && nodes.Failed);
        // The message names the file and says why, under the usual first line.
        const QString quadText = quads.Message(TSequence::QuadripoleFileError, path);
        EXPECT_TRUE(quadText.startsWith("Quadripole file error\n" + QDir::toNativeSeparators(path) + ": "));
        EXPECT_TRUE(nodes.Message(TSequence::CoordinateFileError, path)
                        .startsWith("Coordinate file error\n" + QDir::toNativeSeparators(path) + ": "));
        EXPECT_TRUE(quadText.contains(path == Dir.path() ? "is a folder" : "not a regular file"))
            << quadText.toStdString();
    }
}

struct NodeCase {
    const char *Name;
    QByteArray Text;
    int Count;
    std::vector<Node> Defined;
    const char *Error;         // part of the refusal, nullptr when the file loads
    QStringList Ignored = {};
};

TEST_F(SurveyFiles, CoordinateFile_cases)
{
    const NodeCase cases[] = {
        {"numbers outside 0-2001 are left out and named", "# N X Y Z\n2002 1 1 1\n-1 1 1 1\n2001 1 2 3\n", 1,
         {{1, 2, 3, 2001}}, nullptr, {"2 lines ignored: 2, 3 — electrode number out of range"}},
        {"signs and exponents", "# X Y Z\n1 -1.5e2 +2 .25\n", 1, {{-150, 2, 0.25f, 1}}, nullptr},
        {"node 0 defined by the file", "# X Y Z\n0 1 2 3\n", 1, {{1, 2, 3, 0}}, nullptr},
        {"blank lines and comments in the section", "# X Y Z\n1 1 1 1\n\n# second half\n2 2 2 2\n", 2,
         {{1, 1, 1, 1}, {2, 2, 2, 2}}, nullptr},
        {"quadripole section before the header", "# A B M N\n1 1 2 3 4\n# X Y Z\n3 1 1 1\n", 1,
         {{1, 1, 1, 3}}, nullptr},
        {"quadripole and level sections after the nodes", "# X Y Z\n3 1 1 1\n# A B M N\n1 1 2 3 4\n2 1 2 3\n# Level\n1 -1\n",
         1, {{1, 1, 1, 3}}, nullptr},
        // A line of the coordinate section that cannot be read stops the load
        // there: the nodes before it stay, the lines after it are not read.
        {"a missing field", "# X Y Z\n3 1 2 3\n7 0 0\n8 1 1 1\n", 1, {{1, 2, 3, 3}},
         "line 3: 3 field(s) where a coordinate line has 4"},
        {"a field too many", "# X Y Z\n1 2 3 x y\n", 0, {}, "line 2: 5 field(s)"},
        {"bad real", "# X Y Z\n3 1 2 3\n7 a 0 0\n8 1 1 1\n", 1, {{1, 2, 3, 3}}, "line 3: X \"a\" is not a number"},
        {"node number that is no number", "# X Y Z\nx 1 1 1\n", 0, {}, "line 2: \"x\" is not an electrode number"},
        {"nan is not a coordinate", "# X Y Z\n1 nan 0 0\n", 0, {}, "X \"nan\""},
        {"inf is not a coordinate", "# X Y Z\n1 0 inf 0\n", 0, {}, "Y \"inf\""},
        {"beyond single precision", "# X Y Z\n1 0 0 1e39\n", 0, {}, "Z \"1e39\""},
        {"a node given twice names both lines", "# X Y Z\n5 10.5 0 100\n6 1 1 1\n5 11 0 100\n8 1 1 1\n", 2,
         {{10.5f, 0, 100, 5}}, "line 2 and line 4 both give electrode 5"},
        {"other # line before the header", "# survey 3\n# X Y Z\n1 0 0 0\n", 0, {}, "line 1: "},
        {"no header", "1 0 0 0\n", 0, {}, "no column header"},
        {"header without lines after it", "# X Y Z\r\n", 0, {}, "no node after"},
    };
    for (const NodeCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const TLoadReport report = Seq->ReadCoordinateFile(Write(c.Text));
        EXPECT_EQ(report.Count, c.Count);
        EXPECT_EQ(Seq->NodeCount, c.Count);
        EXPECT_EQ(report.Failed, c.Error != nullptr);
        if (c.Error) {
            EXPECT_TRUE(report.Error.contains(QString::fromUtf8(c.Error))) << report.Error.toStdString();
        }
        EXPECT_EQ(report.Ignored, c.Ignored);
        bool defines0 = false;
        for (const Node &n : c.Defined) {
            const Node &got = Seq->Nodes[std::size_t(n.Number)];
            EXPECT_EQ(std::make_tuple(got.X, got.Y, got.Z, got.Number), std::make_tuple(n.X, n.Y, n.Z, n.Number))
                << "node " << n.Number;
            defines0 = defines0 || n.Number == 0;
        }
        if (!defines0) {
            const Node &remote = Seq->Nodes[0];
            EXPECT_EQ(std::make_tuple(remote.X, remote.Y, remote.Z), std::make_tuple(99999.0f, 99999.0f, 0.0f));
        }
        EXPECT_EQ(Seq->Nodes[8].Number, 0) << "lines after an error are not read";
    }
}

TEST_F(SurveyFiles, LoadShowsTheRefusalWithFileAndLine)
{
    const QString path = Write("# X Y Z\n1 0 0 0\n2 10 0\n");
    const TLoadReport report = Seq->ReadCoordinateFile(path);
    EXPECT_EQ(report.Count, 1);
    EXPECT_EQ(report.Message(TSequence::CoordinateFileError, path),
              "Coordinate file error\n" + QDir::toNativeSeparators(path) +
                  ": line 3: 3 field(s) where a coordinate line has 4 (number, X, Y, Z)");
}

TEST_F(SurveyFiles, ElectrodesWithoutPositionAreNamed)
{
    // Quadripoles over electrodes 1 to 6 and the remote one, which always has its place.
    ASSERT_EQ(Seq->ReadQuadripoleText("# A B M N\n1 1 4 2 3\n2 1 R 5 6\n").Count, 2);
    const struct {
        QByteArray Coordinates;
        QString Missing;
    } cases[] = {
        {"# X Y Z\n1 0 0 0\n2 1 0 0\n3 2 0 0\n4 3 0 0\n5 4 0 0\n6 5 0 0\n", ""},
        {"# X Y Z\n1 0 0 0\n2 1 0 0\n3 2 0 0\n4 3 0 0\n6 5 0 0\n",
         "electrode 5 is used by the quadripoles but not in the coordinate file"},
        {"# X Y Z\n1 0 0 0\n3 2 0 0\n4 3 0 0\n",
         "electrodes 2, 5, 6 are used by the quadripoles but not in the coordinate file"},
    };
    for (const auto &c : cases) {
        ASSERT_FALSE(Seq->ReadCoordinateText(c.Coordinates).Failed);
        EXPECT_EQ(Seq->UndefinedElectrodes(), c.Missing);
    }
}

TEST_F(SurveyFiles, CoordinateFile_readsPointOrCommaDecimalsWhateverTheLocale)
{
    const struct {
        QByteArray Line;
        float X, Y;
        bool Ok;
    } cases[] = {
        {"1 10.5 -2.25 0", 10.5f, -2.25f, true},
        {"1 10,5 -2,25 0", 10.5f, -2.25f, true},   // a decimal comma inside blank-separated fields
        {"1\t10,5\t-2,25\t0,0", 10.5f, -2.25f, true},
        {"1,10.5,-2.25,0", 10.5f, -2.25f, true},   // commas between fields
        {"1, 10.5, -2.25, 0", 10.5f, -2.25f, true},
        {"1 \"10,5\" 0 0", 10.5f, 0.0f, true},
        {"1 1.000,5 0 0", 0.0f, 0.0f, false},      // a group separator is no number
    };
    for (const char *name : {"C", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(name) + " " + c.Line.toStdString());
            const TLoadReport report = Seq->ReadCoordinateFile(Write("# X Y Z\n" + c.Line + "\n"));
            EXPECT_EQ(report.Count, c.Ok ? 1 : 0);
            EXPECT_EQ(Seq->Nodes[1].X, c.X);
            EXPECT_EQ(Seq->Nodes[1].Y, c.Y);
            EXPECT_EQ(report.Failed, !c.Ok);
        }
    }
    QLocale::setDefault(QLocale::c());
    // A UTF-8 file (a comment with an accent) is read as UTF-8, and so is its header.
    EXPECT_EQ(Seq->ReadCoordinateFile(Write("# Num X Y Z (coordonn\xC3\xA9" "es)\n1 2,5 0 0\n")).Count, 1);
    EXPECT_EQ(Seq->Nodes[1].X, 2.5f);
}

TEST_F(SurveyFiles, OneFileServesBoth)
{
    const QByteArray quads = "# Nr A B M N\n1 1 4 2 3\n2 1 4 3 5 6\n";
    const QByteArray nodes = "# Nr X Y Z\n1 0 0 0\n2 10 0 0\n3 20 0 0\n4 30 0 0\n";
    const QByteArray levels = "# Level\n1 -2\n";
    for (const QByteArray &text : {quads + nodes + levels, nodes + quads + levels}) {
        const QString path = Write(text);
        EXPECT_EQ(Seq->ReadQuadripoleFile(path).Count, 3);
        EXPECT_EQ(Seq->ReadCoordinateFile(path).Count, 4);
        EXPECT_EQ(Held(), (std::vector<Quadripole>{{1, 4, 2, 3, -2}, {1, 4, 3, 5, 0}, {1, 4, 5, 6, 0}}));
        EXPECT_EQ(Seq->Nodes[4].X, 30.0f);
    }
}

// Sequences for grouping and walks are set up directly in the table.
using Abmn = std::array<int, 4>;

void SetQuads(TSequence &s, const std::vector<Abmn> &quads)
{
    for (std::size_t i = 0; i < quads.size(); ++i)
        s.Quads[i] = {quads[i][0], quads[i][1], quads[i][2], quads[i][3], 0};
    s.QuadCount = int(quads.size());
}

TEST(GroupChannels, cases)
{
    const std::vector<Abmn> chain12 = [] {
        std::vector<Abmn> q;
        for (int i = 0; i < 12; ++i)
            q.push_back({1, 2, 3 + i, 4 + i});
        return q;
    }();
    const struct {
        const char *Name;
        std::vector<Abmn> Quads;
        int First, Most, Count;
        std::vector<int> List;
    } cases[] = {
        {"chain ends at another injection", {{1, 2, 3, 4}, {1, 2, 4, 5}, {1, 2, 5, 6}, {1, 3, 6, 7}}, 0, 10, 3,
         {1, 2, 3, 4, 5, 6}},
        {"N already in the list", {{1, 2, 3, 4}, {1, 2, 4, 3}}, 0, 10, 1, {1, 2, 3, 4}},
        {"N that is A", {{1, 2, 3, 4}, {1, 2, 4, 1}}, 0, 10, 1, {1, 2, 3, 4}},
        {"M not the last N", {{1, 2, 3, 4}, {1, 2, 5, 6}}, 0, 10, 1, {1, 2, 3, 4}},
        {"remote N may repeat", {{1, 2, 3, 0}, {1, 2, 0, 0}, {1, 2, 0, 5}}, 0, 10, 3, {1, 2, 3, 0, 0, 5}},
        {"maximum reached", chain12, 0, 2, 2, {1, 2, 3, 4, 5}},
        {"end of the table", {{1, 2, 3, 4}, {1, 2, 4, 5}, {1, 2, 5, 6}}, 1, 10, 2, {1, 2, 4, 5, 6}},
        {"maximum above ten stays inside the list", chain12, 0, 50, 10,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}},
        {"maximum below one takes one", chain12, 0, 0, 1, {1, 2, 3, 4}},
        {"first past the end", chain12, 12, 10, 0, {}},
        {"negative first", chain12, -1, 10, 0, {}},
    };
    auto s = std::make_unique<TSequence>();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        SetQuads(*s, c.Quads);
        TSequence::ElectrodeList list;
        list.fill(-7);
        int count = c.Most;
        s->GroupChannels(c.First, count, list);
        EXPECT_EQ(count, c.Count);
        TSequence::ElectrodeList expected{};
        std::copy(c.List.begin(), c.List.end(), expected.begin());
        EXPECT_EQ(list, expected);
    }
}

TEST(NodeWalks, usedNodesInIncreasingOrder)
{
    auto s = std::make_unique<TSequence>();
    s->Nodes[9] = {4.5f, 1, 2, 9};
    SetQuads(*s, {{4, 1, 3, 2}, {0, 9, 3, 2}});
    std::vector<int> walked;
    Node out{};
    int node = -1;
    while (s->NextUsedNode(node, out)) {
        EXPECT_EQ(out.Number, node);
        walked.push_back(node);
    }
    EXPECT_EQ(walked, (std::vector<int>{0, 1, 2, 3, 4, 9}));
    EXPECT_EQ(node, 9);
    EXPECT_EQ(out.X, 4.5f);

    // Electrode numbers beyond the node table read as undefined nodes.
    SetQuads(*s, {{5000, 1, 3, 2}});
    node = 4;
    ASSERT_TRUE(s->NextUsedNode(node, out));
    EXPECT_EQ(node, 5000);
    EXPECT_EQ(std::make_tuple(out.X, out.Number), std::make_tuple(0.0f, node));

    SetQuads(*s, {});
    node = -1;
    EXPECT_FALSE(s->NextUsedNode(node, out));
    EXPECT_EQ(node, -1);
}

TEST_F(SurveyFiles, NodeWalks_definedNodesStopBefore2001)
{
    Seq->ReadCoordinateFile(Write("# X Y Z\n7 1 1 1\n3 2 2 2\n2001 5 5 5\n1999 4 4 4\n")).Count;
    std::vector<int> walked;
    Node out{};
    int node = -1;
    while (Seq->NextDefinedNode(node, out)) {
        EXPECT_EQ(out.Number, node);
        walked.push_back(node);
    }
    EXPECT_EQ(walked, (std::vector<int>{0, 3, 7, 1999}));
    for (int start : {2000, 2001, INT_MAX})
        EXPECT_FALSE(Seq->NextDefinedNode(start, out));
}

TEST(GetNode, refusesNumbersOutsideTheTable)
{
    auto s = std::make_unique<TSequence>();
    s->Nodes[5] = {1, 2, 3, 0};
    const Node sentinel{-5, -5, -5, -5};
    const struct {
        int Number;
        bool Ok;
        float X;
    } cases[] = {{0, true, 99999}, {5, true, 1}, {2047, true, 0}, {-1, false, -5},
                 {2048, false, -5}, {INT_MAX, false, -5}, {INT_MIN, false, -5}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Number);
        Node out = sentinel;
        EXPECT_EQ(s->GetNode(c.Number, out), c.Ok);
        EXPECT_EQ(out.X, c.X);
        EXPECT_EQ(out.Number, c.Ok ? c.Number : -5);
    }
}

} // namespace
