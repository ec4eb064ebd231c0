#pragma once
// The script: one event per line, held as the text the "Script" view shows and
// the .scp file stores. An event line reads
//   <number> : <description> -<X: <code> @ <argument> >-
// and any line without the code marker is a memo.
#include "base/TextCodec.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

class TUserInterface;

namespace ScriptText {
inline const QString CodeMarker = QStringLiteral(" -<X: ");
inline const QString ArgumentMarker = QStringLiteral(" @ ");
inline const QString EndMarker = QStringLiteral(" >-");

// Captions of the toolbar buttons; the runner's error lines reuse them.
inline const QString WakeUpCaption = QStringLiteral("Wake up");
inline const QString LatencyCaption = QStringLiteral("latency after the starting of the last event");
inline const QString StartCaption = QStringLiteral("Start configuration");
inline const QString GotoCaption = QStringLiteral("Goto");
inline const QString GotoDescription = QStringLiteral("Restart from event");
} // namespace ScriptText

enum TScriptCode { WakeUpCode = 0, LatencyCode = 1, StartCode = 2, GotoCode = 3 };

// A script line as the runner reads it.
struct TScriptLine {
    bool IsEvent = false;
    // Event lines: the number and the description (everything before the
    // code marker), the code (-1 when not an integer) and the trimmed argument.
    QString Head;
    int Code = -1;
    QString Argument;
};
TScriptLine ParseScriptLine(const QString &line);

// "%-20s %-60s".
QString EventDescription(const QString &caption, const QString &text);
// "%-20s %-30s x %-27s" of "Restart from event", the target and the count.
QString GotoEventDescription(int target, int count);
QString EventLine(int number, const QString &description, int code, const QString &argument);

// Why the wake-ups and latencies of a script cannot be run, naming the line:
// a time more than 100 years away (today is a day number), or a latency of
// less than a second inside a loop, which would run it without pause. Empty
// when every one is sound.
QString ScheduleRangeError(const QStringList &lines, double today);
// The line (from 1) that the goto at index jumps back to; 0 when the line is
// no goto back. counted: a repeat count follows the target.
qint64 BackwardGotoTarget(const TScriptLine &line, qsizetype index, bool *counted = nullptr);
// A latency waits only from a second on (less rounding of the hours typed).
inline constexpr double OneSecondInDays = 0.999 / 86400.0;

class TScript {
public:
    QStringList Lines;

    // Sets the wake-up event: always event 1, at most one at the top.
    void SetWakeUp(const QDateTime &when, const QLocale &locale);
    void AddStartConfiguration(const QString &path);
    // hoursText as typed, hours its value.
    void AddLatency(const QString &hoursText, double hours);
    // An empty description when the count question was cancelled.
    void AddGoto(const QString &description, int target, int count);
    void AddMemo(const QString &text) { Lines << text; }
    void CutLastLine();
    void Clear()
    {
        Lines.clear();
        Encoding = TTextEncoding::Cp1252;
    }

    // The commands that only ask questions. False when the operator cancelled.
    bool LatencyBtnCommand(TUserInterface &ui);
    bool GotoBtnCommand(TUserInterface &ui);
    bool MemoBtnCommand(TUserInterface &ui);

    // Whole-file load and save; on failure the script is unchanged and error
    // holds the system's message. A script is saved in the encoding it was
    // read in (UTF-8, UTF-16 with its byte order mark). A pipe, a device or a
    // file far larger than any script is refused without being read.
    bool Load(const QString &path, QString &error);
    bool Save(const QString &path, QString &error) const;
    static QStringList ReadLines(const QString &path, QString &error, bool *ok, TTextEncoding *encoding = nullptr);

private:
    TTextEncoding Encoding = TTextEncoding::Cp1252;
};
