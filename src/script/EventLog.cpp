#include "script/EventLog.h"

#include "base/Cp1252.h"
#include "base/TextCodec.h"
#include "base/DateText.h"
#include "base/Folders.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include "base/SafeFile.h"

TEventLog::TEventLog() = default;

void TEventLog::Add(const QString &text)
{
    Entries.push_back({text, Current});
    if (OnLine)
        OnLine(Entries.back());
    if (OnLineReport)
        OnLineReport(Entries.back());
    // A script that runs for weeks must not grow without end: the oldest
    // lines leave memory once every log file holds them.
    if (Entries.size() > MaxLines) {
        std::size_t drop = Entries.size() - MaxLines + MaxLines / 10;
        for (const auto &[path, count] : Written)
            drop = std::min(drop, count);
        if (drop > 0) {
            Entries.erase(Entries.begin(), Entries.begin() + std::ptrdiff_t(drop));
            for (auto &[path, count] : Written)
                count -= drop;
        }
    }
}

QString TEventLog::DateTimeText() const { return LocalDateTimeText(Now(), Locale); }

QString TEventLog::Stamp() const { return QStringLiteral("< ") + DateTimeText() + QStringLiteral(" > "); }

void TEventLog::AddStamped(const QString &text) { Add(Stamp() + text); }

void TEventLog::Clear()
{
    Entries.clear();
    // The files keep what they have; what comes next is new to each of them.
    for (auto &[path, count] : Written)
        count = 0;
    if (OnClear)
        OnClear();
}

QString TEventLog::Text() const
{
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(Entries.size()));
    for (const auto &e : Entries)
        lines << e.Text;
    return lines.join(QLatin1Char('\n'));
}

QString TEventLog::LogFileFor(const QString &acquisitionFile)
{
    return ReplaceExtension(acquisitionFile, QStringLiteral("_Log.txt"));
}

// One file, one encoding: Windows-1252 while every character fits, UTF-8
// from the first one that does not. A file already holding Windows-1252 text
// is then rewritten whole in UTF-8, never left half in each.
QString TEventLog::AppendKeepingEncoding(const QString &path, const QString &text)
{
    auto state = Encodings.find(path);
    if (state == Encodings.end()) {
        QFile file(path);
        QByteArray bytes;
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
        const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
        const TFileEncoding found = ascii ? TFileEncoding::Ascii
                                    : QString::fromUtf8(bytes).toUtf8() == bytes ? TFileEncoding::Utf8
                                                                                : TFileEncoding::Cp1252;
        state = Encodings.emplace(path, found).first;
    }
    const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (state->second == TFileEncoding::Utf8) {
        return TSafeFile::Append(path, text.toUtf8());
    }
    if (FitsCp1252(text)) {
        const QString error = TSafeFile::Append(path, ToCp1252(text));
        if (error.isEmpty() && !ascii)
            state->second = TFileEncoding::Cp1252;
        return error;
    }
    QString error;
    if (state->second == TFileEncoding::Ascii) {
        error = TSafeFile::Append(path, text.toUtf8());
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return file.errorString();
        const QString before = FromCp1252(file.readAll());
        error = TSafeFile::Write(path, (before + text).toUtf8());
    }
    if (error.isEmpty())
        state->second = TFileEncoding::Utf8;
    return error;
}

bool TEventLog::Save(const QString &acquisitionFile)
{
    // Without a data file the log has nowhere to sit beside (a bare
    // identification from the command line): it stays in the pane.
    if (acquisitionFile.isEmpty())
        return true;
    const QString path = LogFileFor(acquisitionFile);
    const auto known = Written.find(path);
    const std::size_t from = known == Written.end() ? 0 : std::min(known->second, Entries.size());
    QString text;
    if (known == Written.end()) {
        // A new session in this file: set apart from what earlier ones wrote.
        if (QFileInfo(path).size() > 0)
            text += QStringLiteral("\r\n");
        text += QStringLiteral("==== Tarnel Pro 2 V%1, %2, %3 ====\r\n")
                    .arg(QStringLiteral(TARNEL_VERSION_TEXT), DateTimeText(), Action);
    }
    for (std::size_t i = from; i < Entries.size(); ++i) {
        text += Entries[i].Text;
        text += QStringLiteral("\r\n");
    }
    if (known != Written.end() && from == Entries.size())
        return FailedPaths.count(path) == 0;
    const QString error = AppendKeepingEncoding(path, text);
    if (error.isEmpty()) {
        Written[path] = Entries.size();
        FailedPaths.erase(path);
        return true;
    }
    EverFailed = true;
    if (FailedPaths.insert(path).second && OnSaveError)
        OnSaveError(path, error);
    return false;
}
