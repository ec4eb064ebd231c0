#pragma once
// The one way the program replaces a file (configuration, event log, exports,
// report, script, copies): the bytes go to a temporary file in the target's
// folder, every write and the flush are checked, the file is synced, renamed
// over the target and the folder is synced. A full disk, a crash or a power
// cut leaves either the old file or the new one, never an empty or torn one.
#include <QByteArrayView>
#include <QString>

class TSafeFile {
public:
    // Replaces (or creates) path with bytes. Returns an empty string on
    // success, else the system's reason ("No space left on device"); on
    // failure the target keeps its previous bytes and no temporary file is
    // left behind. A symbolic link is followed: the file it names is replaced
    // and the link stays; the file keeps its permissions (and its owner and
    // group where the system allows). A file made read-only is not replaced
    // ("the file is read-only"). A target that is not a regular file (a device
    // such as /dev/null) is written in place. Temporaries that a killed write
    // left in the folder (the program's own pattern, their process gone) are
    // removed on the way.
    [[nodiscard]] static QString Write(const QString &path, QByteArrayView bytes);

    // Appends bytes to path (created when missing, unless create is false),
    // checks the write and syncs the file. On a failed write the file is cut
    // back to its previous length, and the cut is checked. Returns an empty
    // string on success, else the system's reason.
    [[nodiscard]] static QString Append(const QString &path, QByteArrayView bytes, bool create = true);
};
