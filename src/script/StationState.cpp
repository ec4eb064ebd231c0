#include "script/StationState.h"

#include "base/Folders.h"
#include "base/IniDocument.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString Section = QStringLiteral("Station");
}

QString TStationState::PathFor(const QString &script)
{
    QString name = QFileInfo(script).absoluteFilePath();
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    while (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    return DataFolder() + QStringLiteral("Stations/") + name + QStringLiteral(".ini");
}

bool TStationState::Load(const QString &path)
{
    TIniDocument ini;
    if (!QFileInfo(path).isFile() || !ini.Load(path))
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
