// Arbitrary bytes as a configuration file: reading must never crash, and
// writing the values back must keep every key readable.
#include "instrument/ConfigFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/fuzz.Ini");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 0;
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    TConfigValues v;
    if (TConfigFile::Read(path, TConfigValues{}, v)) {
        TConfigFile::Write(path, v);
        TConfigValues back;
        TConfigFile::Read(path, TConfigValues{}, back);
    }
    return 0;
}
