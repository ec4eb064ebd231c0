#pragma once
// A small reader and writer of Rich Text Format for the report window: the
// text with its fonts (family, size, bold, italic, underline). Other RTF is
// read for its text; control words and destinations we do not know are
// dropped. Pure functions over bytes, so the reader can be fuzzed.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

struct TRtfRun {
    // '\n' ends a paragraph.
    QString Text;
    QString Family;
    double PointSize = 0; // 0: not given
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;

    bool SameFormat(const TRtfRun &o) const
    {
        return Family == o.Family && PointSize == o.PointSize && Bold == o.Bold && Italic == o.Italic &&
               Underline == o.Underline;
    }
};

using TRtfText = std::vector<TRtfRun>;

// True when the bytes start as an RTF document does ("{\rtf", blanks before allowed).
bool LooksLikeRtf(QByteArrayView bytes);

// Runs of the document, neighbours of the same format merged.
TRtfText ReadRtf(QByteArrayView bytes);

// A complete RTF document: font table, then each run with its format.
QByteArray WriteRtf(const TRtfText &runs);

// All the text of the runs.
QString PlainText(const TRtfText &runs);
