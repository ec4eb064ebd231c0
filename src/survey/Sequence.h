#pragma once
// The survey layout: which electrode combinations are measured and where each
// electrode stands. Both tables are fixed arrays inside the object so that the
// instrument model can hold them without allocating.
#include <QByteArrayView>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>


struct Node {
    float X;              // easting, metres
    float Y;              // northing, metres
    float Z;              // elevation, metres
    std::int32_t Number;  // node number when a file defined the entry, else 0
};
static_assert(sizeof(Node) == 16 && offsetof(Node, Number) == 12);

struct Quadripole {
    std::int32_t A, B;    // current electrodes
    std::int32_t M, N;    // potential electrodes
    std::int32_t Level;   // from the "Level" section; negative marks a quadripole apart
};
static_assert(sizeof(Quadripole) == 20 && offsetof(Quadripole, Level) == 16);

// What a load did. Loaders return it as a value and show nothing: the front
// end (window, command line) says it in its own way.
struct TLoadReport {
    bool Found = false;   // the path named an existing file; false: nothing read, no message
    bool Failed = false;  // the file was refused or could not be read; Error says why
    int Count = 0;        // the new QuadCount or NodeCount
    // Where and what, e.g. "line 7: electrode 3 is both A and B".
    QString Error;
    // Lines left out by design, one text per reason, e.g.
    // "3 lines ignored: 2, 3, 4 — electrode number out of range".
    QStringList Ignored;

    // title ("Quadripole file error"), the file and the error, for a message box.
    QString Message(const QString &title, const QString &path) const;
};

class TSequence {
public:
    static constexpr int NodeTableSize = 2048;
    static constexpr int MaxNodeNumber = 2001;
    static constexpr int QuadTableSize = 16000;
    // One entry past this is the spare that absorbs the surplus of an oversized file.
    static constexpr int MaxQuadCount = 15998;
    // Node 0 is the electrode at infinity; geometry recognises it by this coordinate.
    static constexpr float RemoteCoord = 99999.0f;
    // A, B and up to ten potential electrodes M1, N1 ... N10.
    static constexpr int ElectrodeListSize = 13;
    static constexpr int MaxChannels = ElectrodeListSize - 3;

    using ElectrodeList = std::array<std::int16_t, ElectrodeListSize>;

    std::array<Node, NodeTableSize> Nodes;
    std::int32_t NodeCount = 0;
    std::array<Quadripole, QuadTableSize> Quads;
    std::int32_t QuadCount = 0;

    // Empty tables: node 0 at the remote position, every quadripole entry -1.
    TSequence() noexcept;

    static inline const QString QuadripoleFileError = QStringLiteral("Quadripole file error");
    static inline const QString CoordinateFileError = QStringLiteral("Coordinate file error");
    // No survey file is anywhere near this; a wrong pick (a disk image) is
    // refused before it is read.
    static constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

    // Reads a quadripole file (one combination or a chain of dipoles per line,
    // optional K column and "Level" section). A missing file leaves the table
    // untouched, sets QuadCount to 0 and is not a failure. Refused, with the
    // table emptied: a file without a usable header, one that cannot be read
    // or is not a regular file, more quadripoles than the table holds, a
    // quadripole whose electrodes coincide (A = B, M = N, one electrode in
    // both dipoles; the remote electrode 0 may stand for B and N at once).
    // Lines with too few fields or electrode numbers outside 0..2001 are left
    // out and named in Ignored.
    TLoadReport ReadQuadripoleFile(const QString &path);
    // Reads a coordinate file; reals take "." or "," as decimal separator
    // whatever the machine's locale, so a file reads the same everywhere.
    // The node table is reset first, even when the file is missing. Refused
    // with the line named: a line of the coordinate section that is not
    // number, X, Y, Z, and an electrode number given twice; the nodes read
    // before stay. Node numbers outside 0..2001 are left out and named.
    TLoadReport ReadCoordinateFile(const QString &path);
    // The same from the file's bytes, as if an existing file had been read.
    TLoadReport ReadQuadripoleText(QByteArrayView bytes);
    TLoadReport ReadCoordinateText(QByteArrayView bytes);

    // Electrodes the quadripoles use that the coordinate file does not give
    // (the remote electrode 0 always has its place), as a sentence naming
    // them; empty when every one has its position.
    QString UndefinedElectrodes() const;

    // Groups the quadripoles from `first` that share A and B and chain their
    // dipoles (each M is the previous N) into one multi-channel measurement.
    // channels: in, the most to group (taken as 1 to MaxChannels); out, the
    // number grouped (0 when first is outside the table).
    void GroupChannels(int first, int &channels, ElectrodeList &electrodes) const noexcept;

    // Walks, in increasing order, the node numbers used by the quadripoles
    // (start from -1). False at the end, leaving node and out unchanged.
    bool NextUsedNode(int &node, Node &out) const noexcept;
    // Walks the entries defined by the coordinate file, node 0 first (start
    // from -1). Node 2001 is not visited.
    bool NextDefinedNode(int &node, Node &out) const noexcept;
    // The entry of a node number, with Number set to it. A number outside the
    // node table is refused: false, out unchanged.
    [[nodiscard]] bool GetNode(int number, Node &out) const noexcept;

    // The entry of a node number; numbers outside the table read as an
    // undefined node at (0, 0, 0).
    const Node &NodeAt(int number) const noexcept;

private:
    void ResetNodes() noexcept;
};
