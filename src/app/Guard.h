#pragma once
// The top-level error report: every event handler runs its body through
// Guarded, so an error from the core ends the handler with a message box and
// never reaches the event loop.
#include "base/TarnelError.h"
#include "base/UserInterface.h"

#include <exception>
#include <utility>

// Title of the program's message and error boxes.
inline constexpr const char *ProgramTitle = "Tarnel Pro 2";

template <class F>
bool Guarded(TUserInterface &ui, F &&body)
{
    try {
        std::forward<F>(body)();
        return true;
    } catch (const ETarnelError &e) {
        // A transfer cut short must not leave its bar half full.
        ui.BusyIndicator(false);
        ui.SetProgressPosition(0);
        ui.ErrorBox(QString::fromLatin1(ProgramTitle), e.Message());
    } catch (const std::exception &e) {
        ui.BusyIndicator(false);
        ui.SetProgressPosition(0);
        ui.ErrorBox(QString::fromLatin1(ProgramTitle), QString::fromLocal8Bit(e.what()));
    }
    return false;
}
