// The free-running millisecond clock that bounds every wait of the panel.
#pragma once

#include <QElapsedTimer>

namespace tavrion {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary fixed start; monotonic.
    virtual qint64 now_ms() = 0;
    // Nanoseconds until now_ms() reaches `ms`, so that a wait can sleep until the very moment the
    // clock moves on; -1 when the clock cannot tell (the wait then wakes on whole milliseconds).
    virtual qint64 ns_until_ms(qint64 ms)
    {
        Q_UNUSED(ms);
        return -1;
    }
};

class SteadyClock : public Clock {
public:
    SteadyClock() { timer_.start(); }
    qint64 now_ms() override { return timer_.elapsed(); }
    // elapsed() is nsecsElapsed() in whole milliseconds.
    qint64 ns_until_ms(qint64 ms) override { return ms * 1000000 - timer_.nsecsElapsed(); }

private:
    QElapsedTimer timer_;
};

} // namespace tavrion
