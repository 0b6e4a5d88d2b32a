#include "health/clock.h"

#include <QElapsedTimer>

namespace plv {

qint64 monotonicMs()
{
    QElapsedTimer t;
    t.start();
    return t.msecsSinceReference();
}

WallClock systemWallClock()
{
    return [](qint64) { return QTime::currentTime(); };
}

QString clockText(const QTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("HH:mm:ss")) : QString();
}

} // namespace plv
