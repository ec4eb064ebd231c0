#pragma once
// The event log: the field record of a day's work. The lines live here; the
// "Event log" pane shows them in colour and the log file beside the data file
// holds the same text without colours.
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

// Text colours as red + 256 * green + 65536 * blue.
using TColor = std::uint32_t;
namespace LogColor {
inline constexpr TColor Black = 0;
inline constexpr TColor Red = 255;
inline constexpr TColor Green = 32768;
inline constexpr TColor Maroon = 128;
inline constexpr TColor Orange = 33023;
inline constexpr TColor Teal = 8421376;
} // namespace LogColor

struct TLogLine {
    QString Text;
    TColor Color;
};

class TEventLog {
public:
    TEventLog();

    // Appends one line in its own colour. Control characters (a newline in
    // a file name) are written as \u{hex}: a line stays one line.
    void Add(const QString &text, TColor color);
    // Appends "< " + short date + " " + long time + " > " + text.
    void AddStamped(const QString &text, TColor color);
    // A line without a colour of its own: black, or red after the health
    // monitor's alarm lines (HoldRed) until a line with a colour of its own.
    void Add(const QString &text);
    void AddStamped(const QString &text);
    // A stamped line from outside the flow of the other lines (a file error,
    // the broker, a lock taken over): it leaves a red hold as it was.
    void AddStampedAside(const QString &text, TColor color);
    // After an alarm, the lines that follow without a colour of their own are
    // red too, so that the operator sees what came after the alarm.
    void HoldRed() { HoldingRed = true; }
    // "< " + short date + " " + long time + " > " without the text, for writers
    // that compose their own lines.
    QString Stamp() const;
    // Short date, a blank and the long time of the current local time.
    QString DateTimeText() const;

    void Clear();

    // The lines of the pane: at most MaxLines, the oldest leave first.
    const std::vector<TLogLine> &Lines() const { return Entries; }
    std::size_t MaxLines = 20000;
    QString Text() const;

    // Appends the lines added since the last save to the log file of
    // acquisitionFile: each line goes to the first log saved after it was
    // added, so a data file's log holds the events from the moment it became
    // the file written, not the session's earlier lines. The file is only
    // ever appended, one line per write with O_APPEND, so that two programs
    // on one log never tear or lose each other's lines; it is never rewritten
    // or converted: a new log is UTF-8, a log holding Windows-1252 text stays
    // Windows-1252 (what the code page cannot hold as \u{hex}). CR LF line
    // ends. The first time this program run writes to a log file, a header
    // line (program, version, date and time, Action) goes first, after a
    // blank line when the file holds earlier sessions. A failure is reported
    // through OnSaveError the first time for a given path (and remembered in
    // SaveFailed); the lines not written are tried again at the next save.
    // Without a data file the lines have no file and are shown only.
    bool Save(const QString &acquisitionFile);
    // What started this session, for the header line: "Connect", the command
    // line of tarnelpro-cli, …
    QString Action = QStringLiteral("Start");
    // True once a save has failed during this program run.
    bool SaveFailed() const { return !FailedPaths.empty() || EverFailed; }
    // Lines waiting for a log file; beyond this many (a log that cannot be
    // written for weeks) the oldest are given up and counted in the file.
    std::size_t MaxPending = 200000;
    std::size_t PendingLines() const { return Pending.size(); }
    static QString LogFileFor(const QString &acquisitionFile);

    // Injectable for tests.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };
    QLocale Locale = QLocale::system();

    // Observers: the pane, and whoever shows save failures.
    std::function<void(const TLogLine &)> OnLine;
    // The fleet report's copy of each line, whoever shows the pane.
    std::function<void(const TLogLine &)> OnLineReport;
    std::function<void()> OnClear;
    std::function<void(const QString &path, const QString &error)> OnSaveError;

private:
    std::vector<TLogLine> Entries;
    bool HoldingRed = false;
    void AddLine(const QString &text, TColor color);
    // Texts not yet in a log file, and how many were given up.
    std::vector<QString> Pending;
    std::size_t GivenUp = 0;
    std::set<QString> FailedPaths;
    bool EverFailed = false;
    // Log files this program run has put its header in.
    std::set<QString> Headed;
    // The encoding found in each log file, for the file (device, inode) it
    // was found in: a log replaced meanwhile is looked at again.
    struct TFileEncoding {
        quint64 Device = 0, Inode = 0;
        bool Cp1252 = false;
    };
    std::map<QString, TFileEncoding> Encodings;
    QString Append(const QString &path);
};
