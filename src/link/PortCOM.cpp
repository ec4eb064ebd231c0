#include "link/PortCOM.h"

#include "base/Clock.h"

TPortCOM::TPortCOM(TUserInterface &ui, TClock &clock)
    : TPortVirt(ui, clock, std::make_unique<TSerialTransport>(ui, clock)),
      Serial(static_cast<TSerialTransport &>(Transport()))
{
}

TPortCOM::TPortCOM(TUserInterface &ui) : TPortCOM(ui, SystemClock()) {}
