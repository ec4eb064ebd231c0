#include "script/EventLog.h"

#include "base/TextCodec.h"
#include "base/DateText.h"
#include "base/Folders.h"

#include <QFile>
#include <QSaveFile>

TEventLog::TEventLog() = default;

void TEventLog::Add(const QString &text)
{
    Entries.push_back({text, Current});
    if (OnLine)
        OnLine(Entries.back());
}

QString TEventLog::DateTimeText() const { return LocalDateTimeText(Now(), Locale); }

QString TEventLog::Stamp() const { return QStringLiteral("< ") + DateTimeText() + QStringLiteral(" > "); }

void TEventLog::AddStamped(const QString &text) { Add(Stamp() + text); }

void TEventLog::Clear()
{
    Entries.clear();
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

bool TEventLog::Save(const QString &acquisitionFile)
{
    // Without a data file the log has nowhere to sit beside (a bare
    // identification from the command line): it stays in the pane.
    if (acquisitionFile.isEmpty())
        return true;
    const QString path = LogFileFor(acquisitionFile);
    QString text;
    for (const auto &e : Entries) {
        text += e.Text;
        text += QStringLiteral("\r\n");
    }
    // A path or comment outside Windows-1252 makes the whole log UTF-8.
    const QByteArray bytes = EncodeText(text);
    QSaveFile file(path);
    // An existing log in a folder where no temporary file can be made is
    // still rewritten in place.
    file.setDirectWriteFallback(true);
    QString error;
    if (!file.open(QIODevice::WriteOnly))
        error = file.errorString();
    else if (file.write(bytes) != bytes.size())
        error = file.errorString();
    else if (!file.commit())
        error = file.errorString();
    if (error.isEmpty()) {
        FailedPaths.erase(path);
        return true;
    }
    if (FailedPaths.insert(path).second && OnSaveError)
        OnSaveError(path, error);
    return false;
}
