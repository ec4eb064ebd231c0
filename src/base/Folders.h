#pragma once
// Where the program keeps its data and finds its own files.
#include <QString>

class TUserInterface;

// "$HOME/Voltix/TarnelPro Data/", or $TARNELPRO_DATA_DIR; always ends with '/'.
QString DataFolder();

// The folder of the template "Setup.ini", the manual and the USB tool: the
// executable's folder when it holds the template, else ../share/tarnelpro
// beside it, else the source tree's resources (for builds run in place).
// $TARNELPRO_PROGRAM_DIR overrides it. Always ends with '/'.
QString ProgramFolder();

// The USB checking tool "ZIREriva": beside the executable, else in the
// program folder; only in the program folder when $TARNELPRO_PROGRAM_DIR is
// set. Empty when it is nowhere.
QString UsbToolPath();

// Creates every missing folder level of the folder part of path (everything up
// to the last '/'), from the root down. A level that cannot be created is
// reported with an error box titled "TarnelPro" and the next level is still
// tried. True when nothing failed.
bool CreateFolders(const QString &path, TUserInterface &ui);

// Path with the extension of its file name replaced by suffix (appended when
// the name has no extension): "/d/run.bin" + "_Log.txt" -> "/d/run_Log.txt".
QString ReplaceExtension(const QString &path, const QString &suffix);
