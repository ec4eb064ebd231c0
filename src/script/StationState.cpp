#include "script/StationState.h"

#include "base/Folders.h"
#include "base/IniDocument.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace {
const QString Section = QStringLiteral("Station");
}

namespace {
QString Readable(const QString &path)
{
    QString name = path;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    while (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    return name;
}
} // namespace

QString TStationState::PathFor(const QString &script)
{
    const QFileInfo info(script);
    const QString canonical = info.canonicalFilePath();
    const QString whole = canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
    const QByteArray hash = QCryptographicHash::hash(whole.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    // The readable part keeps its end (the script's own name) and stays well
    // inside the 255 bytes a file name may hold.
    QString name = Readable(whole);
    while (name.toUtf8().size() > 160)
        name.remove(0, 1);
    return DataFolder() + QStringLiteral("Stations/") + name + QLatin1Char('-') + QString::fromLatin1(hash) +
           QStringLiteral(".ini");
}

QString TStationState::OldPathFor(const QString &script)
{
    return DataFolder() + QStringLiteral("Stations/") + Readable(QFileInfo(script).absoluteFilePath()) +
           QStringLiteral(".ini");
}

bool TStationState::Load(const QString &path)
{
    TIniDocument ini;
    QString from = path;
    // The old name is shared by scripts whose paths differ only in "/" and
    // "-": the Script key below tells whose it is.
    if (!QFileInfo(from).isFile() && !Script.isEmpty())
        from = OldPathFor(Script);
    if (!QFileInfo(from).isFile() || !ini.Load(from))
        return false;
    const auto value = [&](const char *key) { return ini.Value(Section, QString::fromLatin1(key)).value_or(QString()); };
    if (!Script.isEmpty() && value("Script") != Script)
        return false;
    bool ok = false;
    const qlonglong line = value("Line").toLongLong(&ok);
    if (!ok || line < 0)
        return false;
    Line = line;
    Repeat = value("Repeat").toInt();
    DataFile = value("DataFile");
    Finished = value("Finished") == QLatin1String("1");
    return true;
}

QString TStationState::Save(const QString &path) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    TIniDocument ini;
    ini.SetValue(Section, QStringLiteral("Script"), Script);
    ini.SetValue(Section, QStringLiteral("Line"), QString::number(Line));
    ini.SetValue(Section, QStringLiteral("Repeat"), QString::number(Repeat));
    ini.SetValue(Section, QStringLiteral("DataFile"), DataFile);
    ini.SetValue(Section, QStringLiteral("Finished"), Finished ? QStringLiteral("1") : QStringLiteral("0"));
    return ini.Save(path);
}
