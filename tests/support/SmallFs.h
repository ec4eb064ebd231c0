#pragma once
// A tiny file system that fills up: a size-limited tmpfs mounted on a fresh
// folder when the test may mount one (root, or a user namespace), for proving
// what a full disk does to the files the program writes. Tests that need it
// skip with a message when Mounted() is false.
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <sys/mount.h>

class TSmallFs {
public:
    explicit TSmallFs(long bytes)
    {
        if (!Dir.isValid())
            return;
        const QByteArray options = "size=" + QByteArray::number(static_cast<qlonglong>(bytes));
        Ok = ::mount("tmpfs", QFile::encodeName(Dir.path()).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~TSmallFs()
    {
        if (Ok)
            ::umount2(QFile::encodeName(Dir.path()).constData(), MNT_DETACH);
    }
    TSmallFs(const TSmallFs &) = delete;
    TSmallFs &operator=(const TSmallFs &) = delete;

    bool Mounted() const { return Ok; }
    QString Path() const { return Dir.path(); }
    QString File(const QString &name) const { return Dir.filePath(name); }

    // Fills the file system up to its last few bytes with a ballast file, so
    // that the next small write fails.
    void Fill() const
    {
        QFile ballast(Dir.filePath("ballast"));
        if (!ballast.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        const QByteArray block(4096, 'x');
        while (ballast.write(block) == block.size() && ballast.flush()) {
        }
        // Byte by byte into the last page.
        while (ballast.write("x", 1) == 1 && ballast.flush()) {
        }
    }

    static constexpr const char *SkipReason = "cannot mount a small tmpfs here (needs root)";

private:
    QTemporaryDir Dir;
    bool Ok = false;
};
