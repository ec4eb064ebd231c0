#pragma once
// Quadripole sequences for a line of electrodes 1 to N (node 0 the remote
// electrode), ordered so that each injection measures as many chained dipoles
// as the channels take, and limited to what a quadripole file can hold.
#include "survey/Sequence.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <span>
#include <vector>

enum class TArrayKind { DipoleDipole, Wenner, Schlumberger, Gradient, PoleDipole, PolePole };

struct TSequenceRequest {
    TArrayKind Array = TArrayKind::DipoleDipole;
    int Electrodes = 0;
    int Channels = TSequence::MaxChannels;
    // Absent: the array's default. Each applies to some arrays only.
    std::optional<int> SpacingMax; // largest dipole (dd, gradient, pole-dipole), Wenner a,
                                   // Schlumberger n, pole-pole A-M distance
    std::optional<int> NMax;       // dd, pole-dipole: largest n (default: the channel count)
    std::optional<int> DipoleMax;  // Schlumberger: largest M-N dipole (default 1)
    bool Reciprocals = false;
};

struct TGroupCount {
    int Quads = 0;
    int Groups = 0;
};

struct TSequencePlan {
    QString Error;                  // non-empty: refused, and why
    std::vector<Quadripole> Quads;  // the forward readings, then their reciprocals
    int ForwardCount = 0;
    TGroupCount Total, Forward, Reciprocal;
};

class TSequenceGenerator {
public:
    explicit TSequenceGenerator(const TSequenceRequest &request) : Request(request) {}

    // "dd", "wenner", "schlumberger", "gradient", "pole-dipole", "pole-pole".
    static std::optional<TArrayKind> ArrayNamed(const QString &name);

    // Empty when the request is acceptable, else the reason it is refused.
    QString CheckRequest() const;
    // The whole sequence, or the reason it cannot be written as one file the
    // program loads whole.
    TSequencePlan Generate() const;

    // (M, N, A, B) of each reading, ordered by injection and, within one, by M
    // so that the dipoles of an injection chain as the forward ones do.
    static std::vector<Quadripole> Reciprocals(std::span<const Quadripole> forward);
    // Groups as the acquisition forms them (TSequence::GroupChannels); at most
    // TSequence::MaxQuadCount quadripoles.
    static int CountGroups(std::span<const Quadripole> quads, int channels);
    // The quadripole file: a "# Num A B M N" header, one quadripole a line, CR LF.
    static QByteArray FileText(std::span<const Quadripole> quads);

private:
    int Spacing() const;
    int NLimit() const;

    TSequenceRequest Request;
};
