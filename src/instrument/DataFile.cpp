#include "instrument/DataFile.h"

#include "base/TarnelError.h"
#include "instrument/VoltixPro.h"
#include "instrument/Wire.h"
#include "survey/Geometry.h"

#include "base/SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <cstring>



QString DanglingLinkText(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isSymLink() || info.exists())
        return {};
    return QStringLiteral("%1 is a symbolic link to %2, which does not exist; no data file was written there")
        .arg(path, info.symLinkTarget());
}

bool TakeDataFileTurn(int fd, bool exclusive)
{
    const int how = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::flock(fd, how) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        ::usleep(10000);
    }
    return false;
}

QByteArray DataFileHeader(const QByteArray &headerText, const QDateTime &when)
{
    QByteArray header(DataHeaderSize, '\0');
    const std::uint32_t magic = DataFileMagic;
    std::memcpy(header.data(), &magic, 4);
    header[4] = 9;
    // Short-date formats of some locales hold characters no 8-bit reader
    // shows, others a two-digit year.
    QByteArray text = QLocale::c().toString(when, QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1() + "\r\n";
    // The comment stops at its first 0 byte like the 8-bit text it is.
    const qsizetype nul = headerText.indexOf('\0');
    text += nul >= 0 ? headerText.left(nul) : headerText;
    text.truncate(DataHeaderTextSize - 1);
    std::memcpy(header.data() + 5, text.constData(), static_cast<std::size_t>(text.size()));
    return header;
}

void WriteDataFileHeader(const QString &path, const QByteArray &headerText, const QDateTime &when, bool replace)
{
    // Without this an exclusive create says the file "appeared", and a
    // replace creates the file the link names.
    if (const QString dangling = DanglingLinkText(path); !dangling.isEmpty())
        throw ETarnelError(TErrorKind::File, dangling);
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0666);
    if (fd < 0) {
        if (errno == EEXIST)
            throw EFileExists(QStringLiteral("%1: the file appeared meanwhile; it was not replaced").arg(path));
        throw EDataFileError(path, qt_error_string(errno));
    }
    // Held until the header is whole: a reader never finds an empty file.
    TakeDataFileTurn(fd, true);
    const QString error = TSafeFile::Append(path, DataFileHeader(headerText, when), false);
    ::close(fd);
    if (!error.isEmpty()) {
        // A header that did not fit leaves no file that looks like data.
        ::unlink(name.constData());
        throw EDataFileError(path, error);
    }
    // The new name itself must reach the disk, or a power cut can lose the
    // whole file with every group synced into it.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

void ConvertChannelRecord(const TGenerationTable &gen, std::span<const std::uint8_t> channel,
                          const TVoltixPro &model, int quad, bool lowCurrent, double dayNumber, TDataRecord &out)
{
    out.Ten = 10;
    out.Version = gen.RecordVersion;
    out.One = 1;
    out.PulseTime = float(GetLE<std::uint16_t>(channel, ChannelOffset::PulseTime)) * 10.0f;
    out.WindowDelay = float(GetLE<std::uint16_t>(channel, ChannelOffset::WindowDelay)) * 10.0f;
    out.Coords = GetQuadCoords(model, quad);
    out.Sp = GetLE<float>(channel, gen.OffSp);
    out.Vp = GetLE<float>(channel, gen.OffVp);
    float in = GetLE<float>(channel, gen.OffIn);
    if (gen.LowCurrentScaling && lowCurrent)
        in *= 0.01f;
    out.In = in;

    const bool validQuad = quad >= 0 && quad < model.QuadCount && quad < TSequence::QuadTableSize;
    const Quadripole q = validQuad ? model.Quads[static_cast<std::size_t>(quad)] : Quadripole{0, 0, 0, 0, 0};
    out.LineResistance = model.LineResistanceOf(q.M) + model.LineResistanceOf(q.N);

    const bool current = gen.RhoCurrentThreshold > 0.0f ? std::fabs(in) > gen.RhoCurrentThreshold : in != 0.0f;
    out.Rho = current ? static_cast<float>(GeometricFactor(model, quad) * double(out.Vp) / double(in)) : 0.0f;

    out.M = GetLE<float>(channel, gen.OffM);
    out.Q = GetLE<float>(channel, gen.OffQ);
    for (int i = 0; i < 20; ++i) {
        out.Windows[static_cast<std::size_t>(i)] =
            float(GetLE<std::uint16_t>(channel, ChannelOffset::Windows + 2 * i)) * 10.0f;
        out.Chargeabilities[static_cast<std::size_t>(i)] = GetLE<float>(channel, gen.OffChargeabilities + 4 * i);
    }
    out.Channel = GetLE<std::uint8_t>(channel, ChannelOffset::Channel);
    out.Flags = GetLE<std::uint8_t>(channel, ChannelOffset::Flags);
    if (q.Level < 0)
        out.Flags |= TDataRecord::LevelFlag;
    else
        out.Flags &= std::uint8_t(~TDataRecord::LevelFlag);
    out.Counter = GetLE<std::uint16_t>(channel, ChannelOffset::Counter);
    out.Spare.fill(0);
    out.Latitude = GetLE<float>(channel, ChannelOffset::Latitude);
    out.Longitude = GetLE<float>(channel, ChannelOffset::Longitude);
    out.Value = GetLE<float>(channel, gen.OffValue);
    if (gen.WritesInstrumentState) {
        out.Vab = GetLE<float>(channel, gen.OffVab);
        out.TxBattery = GetLE<float>(channel, gen.OffTxBattery);
        out.RxBattery = GetLE<float>(channel, gen.OffRxBattery);
        out.Temperature = GetLE<float>(channel, gen.OffTemperature);
        out.Date = dayNumber;
    }
}

void AppendDataRecords(const QString &path, std::span<const TDataRecord> records)
{
    const QByteArray bytes(reinterpret_cast<const char *>(records.data()),
                           qsizetype(records.size() * sizeof(TDataRecord)));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        TakeDataFileTurn(fd, true);
    const QString error = TSafeFile::Append(path, bytes, false);
    if (fd >= 0)
        ::close(fd);
    if (!error.isEmpty())
        throw EDataFileError(path, error);
}
