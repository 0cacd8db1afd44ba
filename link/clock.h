// The free-running millisecond clock that bounds every wait of the panel.
#pragma once

#include <QElapsedTimer>

namespace tavrion {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary fixed start; monotonic.
    virtual qint64 now_ms() = 0;
};

class SteadyClock : public Clock {
public:
    SteadyClock() { timer_.start(); }
    qint64 now_ms() override { return timer_.elapsed(); }

private:
    QElapsedTimer timer_;
};

} // namespace tavrion
