#include "base/Clock.h"

#include <QElapsedTimer>
#include <QThread>

namespace {
QElapsedTimer &Origin()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}
} // namespace

TSystemClock::TSystemClock() { Origin(); }

std::int64_t TSystemClock::Ms() { return Origin().elapsed(); }

void TSystemClock::Sleep(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

TClock &SystemClock()
{
    static TSystemClock clock;
    return clock;
}
