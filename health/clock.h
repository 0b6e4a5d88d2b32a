#pragma once
// Time as the health logic takes it: every input carries a monotonic millisecond
// value, so rules never see the wall clock step, and tests pass any value they like.
// Wall time appears only in texts ("since 12:00:03"), through a function the owner
// supplies.
#include <QString>
#include <QTime>
#include <functional>

namespace plv {

// Milliseconds on the monotonic clock, for the console to pass to the inputs.
qint64 monotonicMs();

// Wall time to show for an event at nowMs (a monotonic value).
using WallClock = std::function<QTime(qint64 nowMs)>;

// The local time of day at the call; nowMs is not used.
WallClock systemWallClock();

// "hh:mm:ss", 24-hour; empty for a null time.
QString clockText(const QTime &t);

} // namespace plv
