#include "scriptedlink.h"

#include "protocol/framing.h"

#include <QtGlobal>
#include <algorithm>

namespace plv::test {

void ScriptedClock::at(qint64 t, std::function<void()> what)
{
    t = std::max(t, m_now);
    const auto later = std::upper_bound(m_events.begin(), m_events.end(), t,
                                        [](qint64 when, const Event &e) { return when < e.t; });
    m_events.insert(later, Event{t, std::move(what)});
}

void ScriptedClock::sleep(Transport &link, qint64 deadlineMs)
{
    // A wait that never gives up would otherwise spin here for good.
    if (deadlineMs <= m_now) {
        if (++m_overdue > 100)
            qFatal("ScriptedClock: a wait keeps sleeping past its deadline (%lld ms, now %lld ms)", deadlineMs, m_now);
        deadlineMs = m_now + 1;
    } else {
        m_overdue = 0;
    }
    m_woken = false;
    bool input = false;
    const auto connection = QObject::connect(&link, &Transport::readyRead, [&input] { input = true; });
    while (!input && !m_woken && !m_events.isEmpty() && m_events.first().t < deadlineMs) {
        const Event e = m_events.takeFirst();
        m_now = e.t;
        e.what();
    }
    QObject::disconnect(connection);
    if (!input && !m_woken)
        m_now = deadlineMs;
}

void ScriptedClock::advanceTo(qint64 t)
{
    while (!m_events.isEmpty() && m_events.first().t <= t) {
        const Event e = m_events.takeFirst();
        m_now = e.t;
        e.what();
    }
    m_now = std::max(m_now, t);
}

ScriptedLink::ScriptedLink(ScriptedClock &clock, bool serial, QObject *parent)
    : Transport(parent), m_clock(clock), m_serial(serial)
{
}

bool ScriptedLink::open()
{
    m_open = true;
    return true;
}

void ScriptedLink::close()
{
    m_open = false;
    m_in.clear();
}

void ScriptedLink::perform(const Step &step)
{
    if (!step.error.isEmpty()) {
        close();
        emit errorOccurred(step.error);
        return;
    }
    if (!m_open)
        return;   // nobody listens on a closed link
    m_in += step.bytes;
    emit readyRead();
}

void ScriptedLink::arriveAt(qint64 t, const QByteArray &bytes)
{
    m_clock.at(t, [this, bytes] { perform({0, bytes}); });
}

bool ScriptedLink::send(const QByteArray &frame)
{
    if (!m_open)
        return false;
    written.append(frame);
    writtenAt.append(m_clock.nowMs());
    const Answer answer = !answers.isEmpty() ? answers.dequeue() : respond ? respond(payloadOf(frame)) : Answer();
    for (const Step &step : answer)
        m_clock.at(m_clock.nowMs() + step.afterMs, [this, step] { perform(step); });
    return true;
}

QByteArray ScriptedLink::read(qint64 maxBytes)
{
    const QByteArray out = m_in.left(std::max<qint64>(0, maxBytes));
    m_in.remove(0, out.size());
    return out;
}

QByteArray ScriptedLink::payloadOf(const QByteArray &frame) const
{
    QByteArray p = frame;
    if (p.startsWith(STX))
        p.remove(0, 1);
    if (p.endsWith(ETX))
        p.chop(1);
    if (m_serial && !p.isEmpty())
        p.chop(1);   // the checksum character
    return p;
}

QList<QByteArray> ScriptedLink::payloads() const
{
    QList<QByteArray> out;
    for (const QByteArray &f : written)
        out.append(payloadOf(f));
    return out;
}

} // namespace plv::test
