#pragma once
// The script: one event per line, held as the text the "Script" view shows and
// the .scp file stores. An event line reads
//   <number> : <description> -<X: <code> @ <argument> >-
// and any line without the code marker is a memo.
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
        Utf8 = false;
    }

    // The commands that only ask questions. False when the operator cancelled.
    bool LatencyBtnCommand(TUserInterface &ui);
    bool GotoBtnCommand(TUserInterface &ui);
    bool MemoBtnCommand(TUserInterface &ui);

    // Whole-file load and save; on failure the script is unchanged and error
    // holds the system's message. A script read from UTF-8 is saved in UTF-8.
    bool Load(const QString &path, QString &error);
    bool Save(const QString &path, QString &error) const;
    static QStringList ReadLines(const QString &path, QString &error, bool *ok, bool *utf8 = nullptr);

private:
    bool Utf8 = false;
};
