#include "base/Folders.h"

#include "base/UserInterface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifndef TARNEL_SOURCE_RESOURCES
#define TARNEL_SOURCE_RESOURCES ""
#endif

namespace {
QString WithSlash(QString p)
{
    if (!p.endsWith('/'))
        p += '/';
    return p;
}
} // namespace

QString DataFolder()
{
    const QString env = qEnvironmentVariable("TARNELPRO_DATA_DIR");
    if (!env.isEmpty())
        return WithSlash(QDir::cleanPath(QDir(env).absolutePath()));
    return WithSlash(QDir::homePath()) + "Voltix/TarnelPro Data/";
}

QString ProgramFolder()
{
    const QString env = qEnvironmentVariable("TARNELPRO_PROGRAM_DIR");
    if (!env.isEmpty())
        return WithSlash(QDir(env).absolutePath());
    const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (!exeDir.isEmpty()) {
        if (QFileInfo::exists(exeDir + "/Setup.ini"))
            return WithSlash(exeDir);
        const QString shared = QDir::cleanPath(exeDir + "/../share/tarnelpro");
        if (QFileInfo::exists(shared + "/Setup.ini"))
            return WithSlash(shared);
    }
    const QString source = QStringLiteral(TARNEL_SOURCE_RESOURCES);
    if (!source.isEmpty() && QFileInfo::exists(source + "/Setup.ini"))
        return WithSlash(source);
    return WithSlash(exeDir.isEmpty() ? QDir::currentPath() : exeDir);
}

QString UsbToolPath()
{
    const QString name = QStringLiteral("ZIREriva");
    QStringList places;
    if (qEnvironmentVariableIsEmpty("TARNELPRO_PROGRAM_DIR") && QCoreApplication::instance())
        places.append(WithSlash(QCoreApplication::applicationDirPath()));
    places.append(ProgramFolder());
    for (const QString &folder : places) {
        const QFileInfo tool(folder + name);
        if (tool.isFile() && tool.isExecutable())
            return tool.absoluteFilePath();
    }
    return {};
}

bool CreateFolders(const QString &path, TUserInterface &ui)
{
    const qsizetype last = path.lastIndexOf('/');
    if (last < 0)
        return true;
    const QString folder = path.left(last + 1);
    bool ok = true;
    for (qsizetype i = 0; i < folder.size(); ++i) {
        if (folder[i] != '/')
            continue;
        const QString prefix = folder.left(i + 1);
        if (QFileInfo(prefix).isDir())
            continue;
        if (!QDir().mkdir(prefix)) {
            ui.ErrorBox(QStringLiteral("TarnelPro"), QStringLiteral("Can't create directory \"%1\"").arg(prefix));
            ok = false;
        }
    }
    return ok;
}

QString ReplaceExtension(const QString &path, const QString &suffix)
{
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    if (dot > slash)
        return path.left(dot) + suffix;
    return path + suffix;
}
