#pragma once
// A fake link that opens on Connect unless told to refuse.
#include "link/FakePort.h"

class TOpeningPort : public TFakePort {
public:
    using TFakePort::TFakePort;
    bool Refuse = false;
    int Connects = 0;
    int Connect(int selector, int, const QString &, bool, const QString &, int) override
    {
        ++Connects;
        State = Refuse ? 0 : selector;
        return State;
    }
};
