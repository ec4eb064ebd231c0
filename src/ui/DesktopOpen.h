#pragma once
// Documents, addresses and the manual opened with the desktop's registered
// applications. Tests swap the opener so that no browser starts.
#include <QString>
#include <QUrl>

#include <functional>

using TDesktopOpener = std::function<bool(const QUrl &url)>;

// An empty opener restores the desktop's own.
void SetDesktopOpener(TDesktopOpener opener);

// False when the desktop has no application for it.
bool OpenWithDesktop(const QUrl &url);

// The HTML manual in the program folder.
QString ManualPath();

// Opens the manual in the browser; empty when done, else what went wrong
// (a missing manual names where it was looked for).
QString OpenManual();
