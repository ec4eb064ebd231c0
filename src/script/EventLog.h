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

    // Appends one line in the current colour.
    void Add(const QString &text);
    // Appends "< " + short date + " " + long time + " > " + text.
    void AddStamped(const QString &text);
    // "< " + short date + " " + long time + " > " without the text, for writers
    // that compose their own lines.
    QString Stamp() const;
    // Short date, a blank and the long time of the current local time.
    QString DateTimeText() const;

    void SetColor(TColor color) { Current = color; }
    TColor Color() const { return Current; }
    void Clear();

    const std::vector<TLogLine> &Lines() const { return Entries; }
    // Lines kept in memory (and in the pane); the files keep them all.
    std::size_t MaxLines = 20000;
    QString Text() const;

    // Brings the log file of acquisitionFile up to date: the lines not yet
    // written there are appended (Windows-1252 when every character fits,
    // else UTF-8; CR LF). The first time this program run writes to a log
    // file, a blank line and a header line (program, version, date and time,
    // Action) go first, so the field record of earlier sessions is never
    // replaced. A failure is reported through OnSaveError the first time for a
    // given path (and remembered in SaveFailed); the log itself keeps working
    // and the lines are tried again at the next save.
    bool Save(const QString &acquisitionFile);
    // What started this session, for the header line: "Connect", the command
    // line of tarnelpro-cli, …
    QString Action = QStringLiteral("Start");
    // True once a save has failed during this program run.
    bool SaveFailed() const { return !FailedPaths.empty() || EverFailed; }
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
    TColor Current = LogColor::Black;
    std::set<QString> FailedPaths;
    bool EverFailed = false;
    enum class TFileEncoding { Ascii, Cp1252, Utf8 };
    std::map<QString, TFileEncoding> Encodings;
    QString AppendKeepingEncoding(const QString &path, const QString &text);
    // Per log file: how many of Entries are in it already.
    std::map<QString, std::size_t> Written;
};
