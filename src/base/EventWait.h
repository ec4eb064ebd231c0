#pragma once
// Runs the event loop for at most maxWaitMs, returning as soon as events have
// been handled: how every wait for the instrument lets the window live
// without spinning a core.
void WaitForEvents(int maxWaitMs);
